#pragma once
// Pieces shared by the text and XML table formats (not part of the public API).

#include "files/AtomicFileWriter.h"
#include "files/TableFiles.h"

#include <QByteArray>

#include <charconv>
#include <cstdint>

namespace orvex::detail {

// Bytes collected before they are handed to the file.
inline constexpr qsizetype kWriteChunk = 1 << 20;

inline void AppendInt(QByteArray& out, std::int32_t v) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr - buf);
}

// Characters of the table are written as single bytes; what has no single-byte
// form becomes "?".
inline void AppendLatin1(QByteArray& out, QStringView s) {
    const qsizetype base = out.size();
    out.resize(base + s.size());
    char* dst = out.data() + base;
    for (QChar c : s) {
        const char16_t u = c.unicode();
        *dst++ = u > 0xFF ? '?' : static_cast<char>(u);
    }
}

// Decimal 32-bit integer with an optional sign; nothing else.
inline bool ParseInt32(const char* b, const char* e, std::int32_t& out) {
    if (b == e) return false;
    bool negative = false;
    if (*b == '+' || *b == '-') {
        negative = *b == '-';
        ++b;
        if (b == e) return false;
    }
    std::int64_t v = 0;
    for (; b != e; ++b) {
        if (*b < '0' || *b > '9') return false;
        v = v * 10 + (*b - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

// Moves the rows gathered in `staging` behind the rows of `table`.
inline void MoveRows(RecordTable& staging, RecordTable& table) {
    const int count = staging.rowCount();
    if (count == 0) return;
    if (table.rowCount() == 0) {
        table.ReplaceWith(staging);
        table.setCurrentRow(table.rowCount() - 1);
        return;
    }
    for (int row = 0; row < count; ++row)
        table.Append(staging.Row(row));
    staging.Empty();
}

// Streams a table through an AtomicFileWriter: head, one piece per row, tail.
// Takes the row count given by the caller (the rows present when the save began)
// and gives up when the table is emptied while the progress callback runs.
template <class RowWriter>
FileResult StreamTable(const RecordTable& table, const QString& fileName, int rows,
                       const QByteArray& head, RowWriter&& writeRow, const QByteArray& tail,
                       const ProgressCallback& progress) {
    FileResult result;
    bool emptied = false;
    const QMetaObject::Connection watch =
        QObject::connect(&table, &RecordTable::reset, [&emptied] { emptied = true; });
    struct Disconnect {
        const QMetaObject::Connection& c;
        ~Disconnect() { QObject::disconnect(c); }
    } disconnectOnExit{watch};

    auto failWith = [&](const QString& why, const QString& reason = QString()) {
        result.status = FileStatus::Failed;
        result.error = why;
        result.reason = reason.isEmpty() ? why : reason;
        return result;
    };

    if (progress && !progress(0, rows)) {
        result.status = FileStatus::Cancelled;
        return result;
    }
    AtomicFileWriter writer(fileName);
    if (!writer.open()) return failWith(writer.errorString(), writer.systemReason());

    QByteArray buffer;
    buffer.reserve(kWriteChunk + 4096);
    buffer.append(head);
    for (int row = 0; row < rows; ++row) {
        writeRow(buffer, row);
        if (buffer.size() >= kWriteChunk) {
            if (!writer.write(buffer.constData(), static_cast<std::size_t>(buffer.size())))
                return failWith(writer.errorString(), writer.systemReason());
            buffer.resize(0);
        }
        if (progress && (row + 1) % kProgressStep == 0) {
            if (!progress(row + 1, rows)) {
                writer.discard();
                result.status = FileStatus::Cancelled;
                return result;
            }
            if (emptied) {
                writer.discard();
                return failWith(QStringLiteral("The table was emptied during the save"));
            }
        }
    }
    buffer.append(tail);
    if (!writer.write(buffer.constData(), static_cast<std::size_t>(buffer.size())))
        return failWith(writer.errorString(), writer.systemReason());
    if (!writer.commit()) return failWith(writer.errorString(), writer.systemReason());
    if (progress) progress(rows, rows);
    result.rows = rows;
    return result;
}

} // namespace orvex::detail
