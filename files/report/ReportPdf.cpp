// The report as a PDF file, written through a temporary file that replaces the
// target only when the whole document was written.

#include "files/AtomicFileWriter.h"
#include "files/report/DataReport.h"

#include <QIODevice>
#include <QPdfWriter>

namespace orvex {
namespace {

// A write-only device over an AtomicFileWriter, collecting the PDF writer's many
// small writes into large ones.
class TAtomicFileDevice final : public QIODevice {
  public:
    explicit TAtomicFileDevice(const QString& target) : writer_(target) {}

    bool openForWriting() {
        if (!writer_.open()) {
            setErrorString(writer_.errorString());
            return false;
        }
        buffer_.reserve(kChunk);
        return QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    bool failed() const { return failed_; }
    bool commit() {
        if (!flushBuffer()) return false;
        QIODevice::close();
        if (!writer_.commit()) {
            setErrorString(writer_.errorString());
            return false;
        }
        return true;
    }
    void discard() {
        QIODevice::close();
        writer_.discard();
    }

  protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        if (failed_) return -1;
        buffer_.append(data, size);
        if (buffer_.size() >= kChunk && !flushBuffer()) return -1;
        return size;
    }

  private:
    static constexpr qsizetype kChunk = 1 << 18;

    bool flushBuffer() {
        if (failed_) return false;
        if (!buffer_.isEmpty() &&
            !writer_.write(buffer_.constData(), static_cast<std::size_t>(buffer_.size()))) {
            failed_ = true;
            setErrorString(writer_.errorString());
            return false;
        }
        buffer_.resize(0);
        return true;
    }

    AtomicFileWriter writer_;
    QByteArray buffer_;
    bool failed_ = false;
};

} // namespace

FileResult SaveReportPdf(const TDataReport& report, const QString& fileName, int first, int last,
                         const ProgressCallback& progress) {
    if (report.pageCount() == 0) return FailedResult(NothingToPrintMessage());
    TAtomicFileDevice file(fileName);
    if (!file.openForWriting()) return FailedResult(file.errorString());
    FileResult result;
    {
        QPdfWriter pdf(&file);
        pdf.setTitle(QString::fromLatin1(report::kTitle));
        pdf.setCreator(QStringLiteral("Orvex Interface"));
        pdf.setResolution(1200);
        result = report.Print(pdf, first, last, progress);
    }
    if (result.ok() && file.failed()) result = FailedResult(file.errorString());
    if (!result.ok()) {
        file.discard();
        return result;
    }
    if (!file.commit()) result = FailedResult(file.errorString());
    return result;
}

FileResult SaveReportPdf(const RecordTable& table, const QString& fileName,
                         const ProgressCallback& progress) {
    const TDataReport report(table);
    return SaveReportPdf(report, fileName, 0, report.pageCount() - 1, progress);
}

} // namespace orvex
