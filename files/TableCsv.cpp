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
    bool ascii = true;
    for (QChar c : text) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n') quote = true;
        if (c.unicode() >= 0x80) ascii = false;
    }
    if (!quote && ascii) { // most fields: the bytes as they are
        const qsizetype base = out.size();
        out.resize(base + text.size());
        char* dst = out.data() + base;
        for (QChar c : text)
            *dst++ = static_cast<char>(c.unicode());
        return;
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
    // The line the last record began on.
    int recordLine() const { return recordLine_; }

    // The fields of the last record: views into the bytes, or into the reader's
    // own copy for a quoted field whose doubled quotes were undone.
    std::size_t fieldCount() const { return refs_.size(); }
    QByteArrayView field(std::size_t i) const {
        const Ref& r = refs_[i];
        return r.copied ? QByteArrayView(copies_.constData() + r.at, r.size)
                        : QByteArrayView(r.begin, r.size);
    }

    // Reads one record; false with `error` set when it is malformed.
    bool Next(QString& error) {
        refs_.clear();
        copies_.clear();
        recordLine_ = line_;
        for (;;) {
            Ref ref;
            if (p_ < end_ && *p_ == '"') {
                ref.begin = ++p_;
                bool doubled = false;
                for (;;) {
                    if (p_ >= end_) {
                        error =
                            QStringLiteral("Line %1: a quoted field has no end").arg(recordLine_);
                        return false;
                    }
                    const char c = *p_++;
                    if (c == '"') {
                        if (p_ < end_ && *p_ == '"') {
                            doubled = true;
                            ++p_;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n' || (c == '\r' && (p_ >= end_ || *p_ != '\n'))) ++line_;
                }
                ref.size = p_ - 1 - ref.begin;
                if (doubled) {
                    ref.copied = true;
                    ref.at = copies_.size();
                    for (const char* q = ref.begin; q < ref.begin + ref.size; ++q) {
                        copies_.append(*q);
                        if (*q == '"') ++q; // the second quote of a doubled pair
                    }
                    ref.size = copies_.size() - ref.at;
                }
                if (p_ < end_ && *p_ != ',' && *p_ != '\r' && *p_ != '\n') {
                    error = QStringLiteral("Line %1: text after a closing quote").arg(recordLine_);
                    return false;
                }
            } else {
                ref.begin = p_;
                while (p_ < end_ && *p_ != ',' && *p_ != '\r' && *p_ != '\n')
                    ++p_;
                ref.size = p_ - ref.begin;
            }
            refs_.push_back(ref);
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

  private:
    struct Ref {
        const char* begin = nullptr;
        qsizetype size = 0;
        bool copied = false;
        qsizetype at = 0; // in copies_, when copied
    };

    const char* p_;
    const char* end_;
    int line_ = 1;
    int recordLine_ = 1;
    std::vector<Ref> refs_;
    QByteArray copies_;
};

QByteArrayView TrimmedView(QByteArrayView v) {
    while (!v.isEmpty() && static_cast<unsigned char>(v.front()) <= ' ')
        v = v.sliced(1);
    while (!v.isEmpty() && static_cast<unsigned char>(v.back()) <= ' ')
        v.chop(1);
    return v;
}

// The last field of a column and what was made of it: most columns repeat from
// row to row, and the table keeps each distinct text once.
template <class T> struct Last {
    QByteArray bytes;
    T made{};
    bool valid = false;

    template <class Make> const T& Get(QByteArrayView view, Make&& make) {
        if (!valid || view != QByteArrayView(bytes)) {
            made = make(view);
            valid = view.size() <= 256; // long fields are not kept
            bytes = valid ? view.toByteArray() : QByteArray();
        }
        return made;
    }
};

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
    if (stamp.valid) {
        char iso[kIsoTimestampMax];
        out.append(iso, FormatIsoTimestamp(stamp, iso));
    } else {
        AppendField(out, table.Text(row, FieldTime));
    }
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

    // The header: columns by name, letter case and surrounding blanks ignored.
    std::array<int, ColCount> at;
    at.fill(-1);
    if (reader.atEnd()) {
        fail(QStringLiteral("The file has no header line"));
        return result;
    }
    QString error;
    if (!reader.Next(error)) {
        fail(error);
        return result;
    }
    for (std::size_t i = 0; i < reader.fieldCount(); ++i) {
        const QString name = QString::fromUtf8(reader.field(i)).trimmed();
        for (int c = 0; c < ColCount; ++c) {
            if (at[static_cast<std::size_t>(c)] < 0 &&
                name.compare(QLatin1StringView(kColumnNames[c]), Qt::CaseInsensitive) == 0)
                at[static_cast<std::size_t>(c)] = static_cast<int>(i);
        }
    }
    for (int c = 0; c < kRequiredColumns; ++c) {
        if (at[static_cast<std::size_t>(c)] < 0) {
            fail(QStringLiteral("The header has no column \"%1\"")
                     .arg(QLatin1StringView(kColumnNames[c])));
            return result;
        }
    }
    const std::size_t columns = reader.fieldCount();

    // What each column's last field became.
    struct Time {
        QString text;
        RecordTimestamp stamp;
    };
    struct Value {
        QString text;
        std::optional<std::int32_t> counts;
        bool number = false;
    };
    Last<Time> lastTime;
    Last<QString> lastFunction, lastJudge;
    Last<Value> lastValue;
    Last<QString> lastUnit;
    QString lastUnitFunction;

    RecordTable staging;
    RecordRow row;
    row.appended = true;
    int records = 0;
    while (!reader.atEnd()) {
        if (!reader.Next(error)) {
            fail(error);
            break;
        }
        bool blank = true;
        for (std::size_t i = 0; blank && i < reader.fieldCount(); ++i)
            blank = TrimmedView(reader.field(i)).isEmpty();
        if (blank) continue;
        if (reader.fieldCount() > columns) {
            fail(
                QStringLiteral("Line %1 has more fields than the header").arg(reader.recordLine()));
            break;
        }
        auto cell = [&](int column) -> QByteArrayView {
            const int i = at[static_cast<std::size_t>(column)];
            if (i < 0 || static_cast<std::size_t>(i) >= reader.fieldCount()) return {};
            return reader.field(static_cast<std::size_t>(i));
        };

        const QByteArrayView no = TrimmedView(cell(ColNo));
        std::int32_t n = 0;
        if (!no.isEmpty() && !ParseInt32(no.data(), no.data() + no.size(), n)) {
            fail(QStringLiteral("Line %1: No is not a whole number").arg(reader.recordLine()));
            break;
        }
        row.fields[FieldNo] = no.isEmpty() ? FieldCell() : FieldCell::Int(n);

        const Time& time = lastTime.Get(cell(ColTimestamp), [&](QByteArrayView v) {
            const QString text = QString::fromUtf8(v);
            const std::optional<RecordTimestamp> stamp = ParseIsoTimestamp(text.trimmed());
            if (!stamp) return Time{text, RecordTimestamp()};
            const QTime local = QTime::fromMSecsSinceStartOfDay(stamp->LocalSecondOfDay() * 1000);
            return Time{FormatTimeText(local, locale.timeSeparator), *stamp};
        });
        row.timestamp = time.stamp;
        row.fields[FieldTime] = FieldCell::Text(time.text);

        const QString& function = lastFunction.Get(
            cell(ColFunction), [](QByteArrayView v) { return QString::fromUtf8(v); });
        row.fields[FieldDcAc] = FieldCell::Text(function);

        const Value& value = lastValue.Get(cell(ColValue), [&](QByteArrayView v) {
            const QString text = QString::fromUtf8(v);
            const QString trimmed = text.trimmed();
            if (!IsPlainNumber(trimmed)) return Value{text, std::nullopt, false};
            std::int32_t counts = 0;
            const bool fits = CountsOf(trimmed, counts);
            QString shown = trimmed;
            if (locale.decimalSeparator != u".") shown.replace(u'.', locale.decimalSeparator);
            return Value{shown, fits ? std::optional<std::int32_t>(counts) : std::nullopt, true};
        });
        if (!value.number && value.text.isEmpty() && TrimmedView(cell(ColOverload)) == "1")
            row.fields[FieldValue] = FieldCell::Text(QStringLiteral("0L"));
        else
            row.fields[FieldValue] = FieldCell::Text(value.text);
        row.fields[FieldNVal] = value.counts ? FieldCell::Int(*value.counts) : FieldCell();

        if (lastUnitFunction != function) { // the function decides between "V" and "V)"
            lastUnit.valid = false;
            lastUnitFunction = function;
        }
        row.fields[FieldUnit] = FieldCell::Text(lastUnit.Get(cell(ColUnit), [&](QByteArrayView v) {
            return LcdUnitText(QString::fromUtf8(v), function);
        }));
        row.fields[FieldAuto] = FieldCell::Text(
            lastJudge.Get(cell(ColJudge), [](QByteArrayView v) { return QString::fromUtf8(v); }));
        staging.Append(row);

        if (progress && ++records % kProgressStep == 0 &&
            !progress(reader.position() - bytes.data(), total)) {
            result.status = FileStatus::Cancelled;
            return result; // the table is left as it was
        }
    }

    result.rows = staging.rowCount();
    MoveRows(staging, table, progress, total);
    if (result.ok() && progress) progress(total, total);
    return result;
}

// ---- TableCsvAppender --------------------------------------------------------------

TableCsvAppender::TableCsvAppender(QObject* parent, const CsvLocale& locale)
    : TableAppender(
          QByteArray(kHeader),
          [locale](QByteArray& out, const RecordTable& table, int row) {
              AppendCsvLine(out, table, row, locale);
          },
          parent) {}

} // namespace orvex
