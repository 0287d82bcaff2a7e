#pragma once
// Pieces shared by the text and XML table formats (not part of the public API).

#include "files/AtomicFileWriter.h"
#include "files/TableFiles.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <unistd.h>
#include <vector>

namespace orvex::detail {

// Bytes collected before they are handed to the file.
inline constexpr qsizetype kWriteChunk = 1 << 20;

inline void AppendInt(QByteArray& out, std::int32_t v) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr - buf);
}

// Characters of the table are written as single bytes; a character that has no
// single-byte form becomes one "?" (also one above U+FFFF, two UTF-16 units).
inline void AppendLatin1(QByteArray& out, QStringView s) {
    const qsizetype base = out.size();
    out.resize(base + s.size());
    char* dst = out.data() + base;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t u = s[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < s.size() &&
            QChar::isLowSurrogate(s[i + 1].unicode()))
            ++i;
        *dst++ = u > 0xFF ? '?' : static_cast<char>(u);
    }
    out.resize(dst - out.constData());
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

// Appends whole rows to a file a logger writes as the table grows. `rowEnds` are
// the offsets in `bytes` just after each row. When a write fails part-way (a full
// disk), the file is cut back to the end of the last row written whole, so that no
// half row is left for a reader (a row of CSV may hold a line end inside quotes,
// so rows, not lines, count). `size` is the file's size and is kept up to date.
// Returns 0, or the system's error number of the failure.
inline int AppendRowsToFile(int fd, const QByteArray& bytes, const std::vector<qsizetype>& rowEnds,
                            qint64& size) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written,
                                  static_cast<std::size_t>(bytes.size() - written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            qsizetype whole = 0;
            for (const qsizetype end : rowEnds)
                if (end <= written) whole = end;
            size += whole;
            if (whole < written) (void)::ftruncate(fd, size); // not possible on a device: no harm
            return err;
        }
        written += n;
    }
    size += written;
    return 0;
}

// Rows moved between two progress calls when a load appends to a used table.
inline constexpr int kMoveSlice = 1 << 16;

// Moves the rows gathered in `staging` behind the rows of `table`. An empty table
// takes them over at once; any other gets them appended in slices of kMoveSlice
// rows, each in one step (one signal for the grid), with a progress call between
// slices so that the window and the link are served while millions of rows
// arrive. The file has been read by then: the calls report it whole and a
// request to cancel is no longer taken (the rows of a slice already appended
// cannot be taken back), and a frame recorded meanwhile lands between two slices.
inline void MoveRows(RecordTable& staging, RecordTable& table, const ProgressCallback& progress,
                     qint64 total) {
    const int count = staging.rowCount();
    if (count == 0) return;
    if (table.rowCount() == 0) {
        table.ReplaceWith(staging);
        table.setCurrentRow(table.rowCount() - 1);
        return;
    }
    for (int first = 0; first < count; first += kMoveSlice) {
        table.AppendRows(staging, first, std::min(kMoveSlice, count - first));
        if (progress && count - first > kMoveSlice) progress(total, total);
    }
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
