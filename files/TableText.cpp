// The tab-separated text format: writer, loader and the streaming appender.

#include "files/TableFiles.h"
#include "files/TableFilesCommon.h"

#include <QFile>

#include <array>
#include <cstring>

namespace orvex {

using detail::AppendInt;
using detail::AppendLatin1;
using detail::MoveRows;
using detail::ParseInt32;

namespace {

const char kHeader[] = "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n";

inline bool IsSeparator(unsigned char c) {
    return c >= 1 && c <= 32;
}

// One text column: trimmed of blanks and control characters, "NULL" when nothing
// is left. An item the loader would split or mistake for a quoted item (inner
// blanks or control characters, a leading double quote) is written in double
// quotes with inner quotes doubled; every other item is written as it is.
void AppendTextItem(QByteArray& out, QStringView text) {
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && text[b].unicode() <= 32)
        ++b;
    while (e > b && text[e - 1].unicode() <= 32)
        --e;
    if (b == e) {
        out.append("NULL", 4);
        return;
    }
    const QStringView t = text.sliced(b, e - b);
    bool quote = t.front() == QLatin1Char('"');
    for (qsizetype i = 0; !quote && i < t.size(); ++i) {
        const char16_t u = t[i].unicode();
        quote = u >= 1 && u <= 32;
    }
    if (!quote) {
        AppendLatin1(out, t);
        return;
    }
    out.append('"');
    // The runs between double quotes as they are, each quote doubled.
    qsizetype from = 0;
    for (qsizetype at; (at = t.indexOf(QLatin1Char('"'), from)) >= 0; from = at + 1) {
        AppendLatin1(out, t.sliced(from, at - from));
        out.append("\"\"", 2);
    }
    AppendLatin1(out, t.sliced(from));
    out.append('"');
}

// An item of a line: bytes b..e; a quoted item keeps its doubled quotes in there.
struct Item {
    const char* b;
    const char* e;
    bool quoted;
};

// Text of an item for a text field, cut to the field width.
QString ItemText(const Item& item) {
    const qsizetype length = item.e - item.b;
    if (!item.quoted || !std::memchr(item.b, '"', static_cast<std::size_t>(length)))
        return QString::fromLatin1(item.b, std::min<qsizetype>(length, RecordTable::kTextWidth));
    QString text;
    for (const char* p = item.b; p < item.e && text.size() < RecordTable::kTextWidth; ++p) {
        text.append(QChar(static_cast<unsigned char>(*p)));
        if (*p == '"') ++p; // the second quote of a doubled pair
    }
    return text;
}

bool ItemInteger(const Item& item, std::int32_t& out) {
    if (!item.quoted || !std::memchr(item.b, '"', static_cast<std::size_t>(item.e - item.b)))
        return ParseInt32(item.b, item.e, out);
    return false; // a number never holds a double quote
}

// Reuses the last text of a column when the next item has the same bytes: most
// columns repeat from row to row, and the table keeps each distinct text once.
struct TextCache {
    QByteArray bytes;
    QString text;
    bool quoted = false;
    bool valid = false;

    const QString& Get(const Item& item) {
        const QByteArrayView view(item.b, item.e - item.b);
        if (!valid || quoted != item.quoted || view != QByteArrayView(bytes)) {
            text = ItemText(item);
            quoted = item.quoted;
            valid = view.size() <= 4 * RecordTable::kTextWidth; // long items are not kept
            bytes = valid ? view.toByteArray() : QByteArray();
        }
        return text;
    }
};

void Fail(FileResult& result, const QString& why) {
    result.status = FileStatus::Failed;
    result.error = why;
}

} // namespace

QByteArray TextHeaderLine() {
    return QByteArray(kHeader);
}

void AppendTextLine(QByteArray& out, const RecordTable& table, int row) {
    if (table.Has(row, FieldNo)) AppendInt(out, table.Integer(row, FieldNo));
    for (int field = FieldTime; field <= FieldAuto; ++field) {
        out.append('\t');
        if (table.Has(row, field))
            AppendTextItem(out, table.Text(row, field));
        else
            out.append("NULL", 4);
    }
    out.append("\r\n", 2);
}

QByteArray TableTextBytes(const RecordTable& table, int rows) {
    if (rows < 0 || rows > table.rowCount()) rows = table.rowCount();
    QByteArray out(kHeader);
    for (int row = 0; row < rows; ++row)
        AppendTextLine(out, table, row);
    return out;
}

FileResult SaveTableText(RecordTable& table, const QString& fileName,
                         const ProgressCallback& progress) {
    const int rows = table.rowCount();
    FileResult result = detail::StreamTable(
        table, fileName, rows, QByteArray(kHeader),
        [&table](QByteArray& out, int row) { AppendTextLine(out, table, row); }, QByteArray(),
        progress);
    if (result.ok()) table.setCurrentRow(table.rowCount() - 1);
    return result;
}

FileResult LoadTableText(QByteArrayView bytes, RecordTable& table,
                         const ProgressCallback& progress) {
    FileResult result;
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    const qint64 total = bytes.size();

    if (bytes.isEmpty()) {
        Fail(result, QStringLiteral("The file has no first line"));
        return result;
    }
    // The first line goes, whatever it holds.
    while (p < end && *p != '\r' && *p != '\n')
        ++p;
    if (p < end && *p++ == '\r' && p < end && *p == '\n') ++p;

    RecordTable staging;
    RecordRow row;
    row.appended = true;
    std::array<TextCache, 5> caches;
    std::array<Item, 8> items{};
    int line = 1;
    int lines = 0;

    while (p < end) {
        ++line;
        // Split one line into items.
        int count = 0;
        bool tooMany = false;
        for (;;) {
            while (p < end && IsSeparator(static_cast<unsigned char>(*p)) && *p != '\r' &&
                   *p != '\n')
                ++p;
            if (p == end || *p == '\r' || *p == '\n') break;
            Item item{};
            if (*p == '"') {
                item.quoted = true;
                item.b = ++p;
                while (p < end && *p != '\r' && *p != '\n') {
                    if (*p == '"') {
                        if (p + 1 < end && p[1] == '"') {
                            p += 2;
                            continue;
                        }
                        break;
                    }
                    ++p;
                }
                item.e = p;
                if (p < end && *p == '"') ++p; // closing quote; unterminated runs to the end
            } else {
                item.b = p;
                while (p < end && !IsSeparator(static_cast<unsigned char>(*p)))
                    ++p;
                item.e = p;
            }
            if (count == RecordTable::kFieldCount) {
                tooMany = true; // keep scanning to the end of the line, then fail
                continue;
            }
            items[static_cast<std::size_t>(count++)] = item;
        }
        if (p < end && *p == '\r') ++p;
        if (p < end && *p == '\n') ++p;

        if (tooMany) {
            Fail(result, QStringLiteral("Line %1 has more than seven items").arg(line));
            break;
        }
        if (count == 0) continue;

        bool bad = false;
        for (int f = 0; f < RecordTable::kFieldCount; ++f) {
            FieldCell& cell = row.fields[static_cast<std::size_t>(f)];
            if (f >= count) {
                cell.has = false;
                cell.text = QString();
                continue;
            }
            const Item& item = items[static_cast<std::size_t>(f)];
            cell.has = true;
            if (RecordTable::IsIntegerField(f)) {
                if (!ItemInteger(item, cell.integer)) {
                    bad = true;
                    break;
                }
            } else {
                cell.text = caches[static_cast<std::size_t>(f - FieldTime)].Get(item);
            }
        }
        if (bad) {
            // The half-filled row of a failing line is dropped.
            Fail(result, QStringLiteral("Line %1: an item is not a whole number").arg(line));
            break;
        }
        staging.Append(row);
        if (progress && ++lines % kProgressStep == 0 && !progress(p - bytes.data(), total)) {
            result.status = FileStatus::Cancelled;
            return result; // the table is left as it was
        }
    }

    result.rows = staging.rowCount();
    MoveRows(staging, table, progress, total);
    if (result.ok() && progress) progress(total, total);
    return result;
}

// ---- TableTextAppender -------------------------------------------------------------

TableTextAppender::TableTextAppender(QObject* parent)
    : TableAppender(QByteArray(kHeader), &AppendTextLine, parent) {}

} // namespace orvex
