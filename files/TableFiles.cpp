// Names, dialogs, messages, the file-level save and load entry points.

#include "files/TableFiles.h"

#include "files/TableCsv.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace orvex {

namespace {

// The three types every copy of the program offers, then the comma-separated type.
const char kSavePairs[] = "Excel File(*.xls)|*.xls|XML(*.xml)|*.xml|Txt File(*.txt)|*.txt"
                          "|CSV File(*.csv)|*.csv";
const char kOpenPairs[] = "Exel File(*.xls)|*.xls|XML (*.xml)|*.xml|Txt File(*.txt)|*.txt"
                          "|CSV File(*.csv)|*.csv";

// A file that is not a regular file (a pipe, a device) is read up to this size.
constexpr qint64 kMaxStreamBytes = qint64(256) << 20;

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
    FileResult result;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = FileStatus::Failed;
        result.error = file.errorString();
        return result;
    }
    QByteArray bytes;
    if (QFileInfo(fileName).isFile()) {
        bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            result.status = FileStatus::Failed;
            result.error = file.errorString();
            return result;
        }
    } else {
        // A pipe or a device may never end: read a bounded amount.
        while (!file.atEnd() || file.bytesAvailable() > 0) {
            const QByteArray chunk = file.read(1 << 20);
            if (chunk.isEmpty()) break;
            bytes.append(chunk);
            if (bytes.size() > kMaxStreamBytes) {
                result.status = FileStatus::Failed;
                result.error = QStringLiteral("The file is too large");
                return result;
            }
        }
    }
    file.close();
    if (IsXmlFileName(fileName)) return LoadTableXml(bytes, table, progress);
    if (IsCsvFileName(fileName)) return LoadTableCsv(bytes, table, progress);
    return LoadTableText(bytes, table, progress);
}

} // namespace orvex
