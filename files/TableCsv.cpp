// The comma-separated format: writer, loader and the streaming appender.

#include "files/TableCsv.h"
#include "files/TableFilesCommon.h"

#include "protocol/MeterReading.h"
#include "protocol/UnitTable.h"
#include "recording/Recorder.h"

#include <QTime>

#include <array>
#include <vector>

namespace orvex {

using detail::AppendInt;
using detail::MoveRows;
using detail::ParseInt32;

namespace {

const char kHeader[] = "No,Timestamp,Function,Value,Unit,Judge,Base value,Base unit,Overload\r\n";

enum CsvColumn {
    ColNo,
    ColTimestamp,
    ColFunction,
    ColValue,
    ColUnit,
    ColJudge,
    ColBaseValue,
    ColBaseUnit,
    ColOverload,
    ColCount
};
const char* const kColumnNames[ColCount] = {"No",    "Timestamp",  "Function",  "Value",   "Unit",
                                            "Judge", "Base value", "Base unit", "Overload"};
// Columns the loader cannot do without; the others are derived or optional.
constexpr int kRequiredColumns = ColJudge + 1;

// One field: written as it is, or in double quotes (inner quotes doubled) when it
// holds a comma, a double quote or a line break.
void AppendField(QByteArray& out, QStringView text) {
    bool quote = false;
    for (QChar c : text) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        out.append(text.toUtf8());
        return;
    }
    out.append('"');
    QByteArray bytes = text.toUtf8();
    bytes.replace("\"", "\"\"");
    out.append(bytes);
    out.append('"');
}

// ---- reader ------------------------------------------------------------------------

// Splits the bytes into records of fields (RFC 4180; a lone LF or CR also ends a
// record, a quoted field may hold line breaks).
class CsvReader {
  public:
    CsvReader(const char* b, const char* e) : p_(b), end_(e) {}

    bool atEnd() const { return p_ >= end_; }
    const char* position() const { return p_; }
    int line() const { return line_; }

    // Reads one record into `fields`; false with `error` set when it is malformed.
    bool Next(std::vector<QByteArray>& fields, QString& error) {
        fields.clear();
        recordLine_ = line_;
        QByteArray field;
        for (;;) {
            field.clear();
            if (p_ < end_ && *p_ == '"') {
                ++p_;
                for (;;) {
                    if (p_ >= end_) {
                        error =
                            QStringLiteral("Line %1: a quoted field has no end").arg(recordLine_);
                        return false;
                    }
                    const char c = *p_++;
                    if (c == '"') {
                        if (p_ < end_ && *p_ == '"') {
                            field.append('"');
                            ++p_;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n' || (c == '\r' && (p_ >= end_ || *p_ != '\n'))) ++line_;
                    field.append(c);
                }
                if (p_ < end_ && *p_ != ',' && *p_ != '\r' && *p_ != '\n') {
                    error = QStringLiteral("Line %1: text after a closing quote").arg(recordLine_);
                    return false;
                }
            } else {
                const char* b = p_;
                while (p_ < end_ && *p_ != ',' && *p_ != '\r' && *p_ != '\n')
                    ++p_;
                field = QByteArray(b, p_ - b);
            }
            fields.push_back(field);
            if (p_ < end_ && *p_ == ',') {
                ++p_;
                continue;
            }
            // End of the record.
            if (p_ < end_ && *p_ == '\r') ++p_;
            if (p_ < end_ && *p_ == '\n') ++p_;
            ++line_;
            return true;
        }
    }

    int recordLine() const { return recordLine_; }

  private:
    const char* p_;
    const char* end_;
    int line_ = 1;
    int recordLine_ = 1;
};

QString Trimmed(const QByteArray& field) {
    return QString::fromUtf8(field).trimmed();
}

// A decimal number written with "." as the mark: sign, digits, at most one ".".
bool IsPlainNumber(QStringView text) {
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) ++i;
    int digits = 0, points = 0;
    for (; i < text.size(); ++i) {
        if (text[i] >= u'0' && text[i] <= u'9')
            ++digits;
        else if (text[i] == u'.')
            ++points;
        else
            return false;
    }
    return digits > 0 && points <= 1;
}

// NVal of a value text: its digits without the decimal point, as the meter counts.
bool CountsOf(QStringView number, std::int32_t& counts) {
    QByteArray digits;
    for (QChar c : number) {
        if (c != u'.') digits.append(static_cast<char>(c.unicode()));
    }
    return ParseInt32(digits.constData(), digits.constData() + digits.size(), counts);
}

} // namespace

CsvLocale CsvLocale::System() {
    CsvLocale l;
    l.decimalSeparator = ReadDecimalSeparator();
    l.timeSeparator = LocaleTimeSeparator(QLocale::system());
    return l;
}

bool IsCsvFileName(QStringView fileName) {
    return FileExtension(fileName).compare(QLatin1StringView(".csv"), Qt::CaseInsensitive) == 0;
}

QByteArray CsvHeaderLine() {
    return QByteArray(kHeader);
}

void AppendCsvLine(QByteArray& out, const RecordTable& table, int row, const CsvLocale& locale) {
    if (table.Has(row, FieldNo)) AppendInt(out, table.Integer(row, FieldNo));
    out.append(',');
    const RecordTimestamp stamp = table.Timestamp(row);
    if (stamp.valid)
        out.append(IsoTimestampText(stamp).toLatin1());
    else
        AppendField(out, table.Text(row, FieldTime));
    out.append(',');
    AppendField(out, table.Text(row, FieldDcAc));
    out.append(',');
    const ReadingInUnits r = DescribeReading(table.Text(row, FieldValue),
                                             table.Text(row, FieldUnit), locale.decimalSeparator);
    AppendField(out, r.value);
    out.append(',');
    AppendField(out, r.unit);
    out.append(',');
    AppendField(out, table.Text(row, FieldAuto));
    out.append(',');
    AppendField(out, r.baseValue);
    out.append(',');
    AppendField(out, r.baseUnit);
    out.append(r.kind == ReadingInUnits::Overload ? ",1\r\n" : ",\r\n");
}

QByteArray TableCsvBytes(const RecordTable& table, int rows, const CsvLocale& locale) {
    if (rows < 0 || rows > table.rowCount()) rows = table.rowCount();
    QByteArray out(kHeader);
    for (int row = 0; row < rows; ++row)
        AppendCsvLine(out, table, row, locale);
    return out;
}

FileResult SaveTableCsv(const RecordTable& table, const QString& fileName,
                        const ProgressCallback& progress, const CsvLocale& locale) {
    return detail::StreamTable(
        table, fileName, table.rowCount(), QByteArray(kHeader),
        [&](QByteArray& out, int row) { AppendCsvLine(out, table, row, locale); }, QByteArray(),
        progress);
}

FileResult LoadTableCsv(QByteArrayView bytes, RecordTable& table, const ProgressCallback& progress,
                        const CsvLocale& locale) {
    FileResult result;
    auto fail = [&result](const QString& why) {
        result.status = FileStatus::Failed;
        result.error = why;
    };
    const qint64 total = bytes.size();
    const char* begin = bytes.data();
    if (bytes.startsWith("\xEF\xBB\xBF")) begin += 3; // a byte-order mark a spreadsheet added
    CsvReader reader(begin, bytes.data() + bytes.size());
    std::vector<QByteArray> fields;

    // The header: columns by name, letter case and surrounding blanks ignored.
    std::array<int, ColCount> at;
    at.fill(-1);
    if (reader.atEnd()) {
        fail(QStringLiteral("The file has no header line"));
        return result;
    }
    QString error;
    if (!reader.Next(fields, error)) {
        fail(error);
        return result;
    }
    for (int i = 0; i < static_cast<int>(fields.size()); ++i) {
        const QString name = Trimmed(fields[static_cast<std::size_t>(i)]);
        for (int c = 0; c < ColCount; ++c) {
            if (at[static_cast<std::size_t>(c)] < 0 &&
                name.compare(QLatin1StringView(kColumnNames[c]), Qt::CaseInsensitive) == 0)
                at[static_cast<std::size_t>(c)] = i;
        }
    }
    for (int c = 0; c < kRequiredColumns; ++c) {
        if (at[static_cast<std::size_t>(c)] < 0) {
            fail(QStringLiteral("The header has no column \"%1\"")
                     .arg(QLatin1StringView(kColumnNames[c])));
            return result;
        }
    }
    const std::size_t columns = fields.size();

    RecordTable staging;
    int records = 0;
    while (!reader.atEnd()) {
        if (!reader.Next(fields, error)) {
            fail(error);
            break;
        }
        bool blank = true;
        for (const QByteArray& f : fields)
            blank = blank && f.trimmed().isEmpty();
        if (blank) continue;
        if (fields.size() > columns) {
            fail(
                QStringLiteral("Line %1 has more fields than the header").arg(reader.recordLine()));
            break;
        }
        auto cell = [&](int column) -> QString {
            const int i = at[static_cast<std::size_t>(column)];
            if (i < 0 || static_cast<std::size_t>(i) >= fields.size()) return {};
            return QString::fromUtf8(fields[static_cast<std::size_t>(i)]);
        };

        RecordRow row;
        row.appended = true;
        const QString no = cell(ColNo).trimmed();
        if (!no.isEmpty()) {
            const QByteArray b = no.toLatin1();
            std::int32_t n = 0;
            if (!ParseInt32(b.constData(), b.constData() + b.size(), n)) {
                fail(QStringLiteral("Line %1: No is not a whole number").arg(reader.recordLine()));
                break;
            }
            row.fields[FieldNo] = FieldCell::Int(n);
        }
        const QString time = cell(ColTimestamp);
        if (const std::optional<RecordTimestamp> stamp = ParseIsoTimestamp(time.trimmed())) {
            row.timestamp = *stamp;
            row.fields[FieldTime] = FieldCell::Text(
                FormatTimeText(QTime::fromMSecsSinceStartOfDay(stamp->LocalSecondOfDay() * 1000),
                               locale.timeSeparator));
        } else {
            row.fields[FieldTime] = FieldCell::Text(time);
        }
        const QString function = cell(ColFunction);
        row.fields[FieldDcAc] = FieldCell::Text(function);
        const QString value = cell(ColValue).trimmed();
        if (IsPlainNumber(value)) {
            QString text = value;
            text.replace(u'.', locale.decimalSeparator);
            row.fields[FieldValue] = FieldCell::Text(text);
            std::int32_t counts = 0;
            if (CountsOf(value, counts)) row.fields[FieldNVal] = FieldCell::Int(counts);
        } else if (value.isEmpty() && cell(ColOverload).trimmed() == u"1") {
            row.fields[FieldValue] = FieldCell::Text(QStringLiteral("0L"));
        } else {
            row.fields[FieldValue] = FieldCell::Text(cell(ColValue));
        }
        row.fields[FieldUnit] = FieldCell::Text(LcdUnitText(cell(ColUnit), function));
        row.fields[FieldAuto] = FieldCell::Text(cell(ColJudge));
        staging.Append(row);

        if (progress && ++records % kProgressStep == 0 &&
            !progress(reader.position() - bytes.data(), total)) {
            result.status = FileStatus::Cancelled;
            return result; // the table is left as it was
        }
    }

    result.rows = staging.rowCount();
    MoveRows(staging, table);
    if (result.ok() && progress) progress(total, total);
    return result;
}

// ---- TableCsvAppender --------------------------------------------------------------

TableCsvAppender::TableCsvAppender(QObject* parent, const CsvLocale& locale)
    : QObject(parent), locale_(locale) {}

TableCsvAppender::~TableCsvAppender() {
    close();
}

bool TableCsvAppender::open(const QString& fileName) {
    close();
    failed_ = false;
    error_.clear();
    file_.setFileName(fileName);
    // Unbuffered: every write goes to the system at once.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        failed_ = true;
        error_ = QStringLiteral("%1: %2").arg(fileName, file_.errorString());
        emit writeFailed(error_);
        return false;
    }
    return writeAll(QByteArray(kHeader));
}

bool TableCsvAppender::appendRows(const RecordTable& table, int first, int last) {
    if (!file_.isOpen() || failed_) return false;
    QByteArray lines;
    for (int row = std::max(first, 0); row <= last && row < table.rowCount(); ++row)
        AppendCsvLine(lines, table, row, locale_);
    return writeAll(lines);
}

void TableCsvAppender::follow(const RecordTable& table) {
    QObject::disconnect(connection_);
    connection_ = connect(&table, &RecordTable::rowsAppended, this,
                          [this, &table](int first, int last) { appendRows(table, first, last); });
}

void TableCsvAppender::close() {
    QObject::disconnect(connection_);
    if (file_.isOpen()) file_.close();
}

bool TableCsvAppender::writeAll(const QByteArray& bytes) {
    if (bytes.isEmpty()) return true;
    if (file_.write(bytes) == bytes.size()) return true;
    failed_ = true;
    error_ = QStringLiteral("%1: %2").arg(file_.fileName(), file_.errorString());
    emit writeFailed(error_);
    return false;
}

} // namespace orvex
