// Names, dialogs, messages, the file-level save and load entry points.

#include "files/TableFiles.h"

#include "files/FileNames.h"
#include "files/TableCsv.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex {

namespace {

// The three types every copy of the program offers, then the comma-separated type.
const char kSavePairs[] = "Excel File(*.xls)|*.xls|XML(*.xml)|*.xml|Txt File(*.txt)|*.txt"
                          "|CSV File(*.csv)|*.csv";
const char kOpenPairs[] = "Exel File(*.xls)|*.xls|XML (*.xml)|*.xml|Txt File(*.txt)|*.txt"
                          "|CSV File(*.csv)|*.csv";

// Bytes read between two progress calls when a file is loaded.
constexpr qsizetype kReadSlice = qsizetype(16) << 20;

} // namespace

QString FileExtension(QStringView fileName) {
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < slash) return {};
    return fileName.mid(dot).toString();
}

bool IsXmlFileName(QStringView fileName) {
    return FileExtension(fileName) == QLatin1StringView(".xml");
}

QString QtFilterFromPairs(QStringView pairs) {
    const QList<QStringView> parts = pairs.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters.append(parts[i].toString());
    return filters.join(QStringLiteral(";;"));
}

QString SaveDialogFilter() {
    return QtFilterFromPairs(QString::fromLatin1(kSavePairs));
}

QString OpenDialogFilter() {
    return QtFilterFromPairs(QString::fromLatin1(kOpenPairs));
}

QString SaveDefaultSuffix() {
    return QStringLiteral("xls");
}

QString SaveSuffixForFilter(QStringView chosenFilter) {
    // The pairs of the save dialog: a display text, then its pattern "*.ext".
    const QString pairs = QString::fromLatin1(kSavePairs);
    const QList<QStringView> parts = QStringView(pairs).split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i] != chosenFilter) continue;
        const QStringView pattern = parts[i + 1];
        if (pattern.startsWith(QLatin1StringView("*.")) && pattern.size() > 2)
            return pattern.mid(2).toString();
    }
    return SaveDefaultSuffix();
}

FileResult FailedResult(const QString& why) {
    FileResult r;
    r.status = FileStatus::Failed;
    r.error = r.reason = why;
    return r;
}

QString SaveFailedMessage(const QString& fileName) {
    return QStringLiteral("Could not save table to specified file: ") + fileName;
}

QString SaveSucceededMessage(const QString& fileName) {
    return QStringLiteral("save table to specified file: ") + fileName + QStringLiteral(" Scuss!");
}

QString XmlSaveFailedMessage(const QString& fileName, const QString& reason) {
    return QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, reason);
}

QString LoadFailedMessage() {
    return QStringLiteral("Failed to Load File!");
}

QString LoadFailedCaption() {
    return QStringLiteral("Error");
}

FileResult SaveTable(RecordTable& table, const QString& fileName,
                     const ProgressCallback& progress) {
    if (IsXmlFileName(fileName)) return SaveTableXml(table, fileName, progress);
    if (IsCsvFileName(fileName)) return SaveTableCsv(table, fileName, progress);
    return SaveTableText(table, fileName, progress);
}

FileResult LoadDataFile(const QString& fileName, RecordTable& table,
                        const ProgressCallback& progress) {
    // Opened without waiting: a named pipe that nobody writes to (or a device)
    // would hold the window in open() for good. Only regular files are read.
    const int fd =
        ::open(EncodeFileName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return FailedResult(QString::fromLocal8Bit(std::strerror(errno)));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) return FailedResult(QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISDIR(st.st_mode)) return FailedResult(QStringLiteral("Is a folder"));
    if (!S_ISREG(st.st_mode))
        return FailedResult(QStringLiteral("Not a regular file (a pipe or a device)"));

    // Read in slices with a progress call between them, so a large file keeps
    // neither the window nor the link waiting (and may be cancelled).
    const qint64 size = st.st_size;
    QByteArray bytes;
    constexpr qsizetype kSpare = 64 * 1024; // the read that finds the end, a file still growing
    bytes.reserve(qsizetype(size) + kSpare);
    for (;;) {
        const qsizetype at = bytes.size();
        const qsizetype room = bytes.capacity() - at;
        const qsizetype want = room >= kSpare ? std::min(room, kReadSlice) : kSpare;
        bytes.resize(at + want);
        const ssize_t n = ::read(fd, bytes.data() + at, std::size_t(want));
        if (n < 0 && errno == EINTR) {
            bytes.resize(at);
            continue;
        }
        if (n < 0) return FailedResult(QString::fromLocal8Bit(std::strerror(errno)));
        bytes.resize(at + n);
        if (n == 0) break;
        if (progress && !progress(0, std::max(size, qint64(bytes.size())))) {
            FileResult cancelled;
            cancelled.status = FileStatus::Cancelled;
            return cancelled;
        }
    }
    if (IsXmlFileName(fileName)) return LoadTableXml(bytes, table, progress);
    if (IsCsvFileName(fileName)) return LoadTableCsv(bytes, table, progress);
    return LoadTableText(bytes, table, progress);
}

} // namespace orvex
