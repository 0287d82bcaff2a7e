#pragma once
// Small helpers shared by the fuzz targets: a reader that takes choices from the
// front of an input, a strict check of one JSON object, a check that aborts
// with a message (libFuzzer then keeps the input as a finding), and the checks
// the table file targets make of a load (appending, and load, save, load, save).

#include "files/TableFiles.h"
#include "testing/SampleRows.h"

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

namespace orvex::fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* what,
                              const std::string& detail) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", file, line, what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(cond, detail)                                                                   \
    do {                                                                                           \
        if (!(cond)) ::orvex::fuzz::Fail(__FILE__, __LINE__, #cond, (detail));                     \
    } while (0)

// Takes bytes off the front of the input for choices; what is left is the payload.
class ByteReader {
  public:
    ByteReader(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}

    std::uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
    bool Bit(std::uint8_t byte, int bit) const { return (byte >> bit) & 1; }
    std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }
    const std::uint8_t* data() const { return p_; }
    // Up to n bytes of the payload, consumed.
    std::string_view Take(std::size_t n) {
        n = std::min(n, left());
        const std::string_view out(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return out;
    }

  private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

// A strict reader of JSON (RFC 8259) that only says whether `text` is exactly one
// value, optionally surrounded by blanks.  Strings must be valid UTF-8 without raw
// control characters.
class JsonChecker {
  public:
    static bool IsValue(std::string_view text) {
        JsonChecker c(text);
        c.Blanks();
        if (!c.Value(0)) return false;
        c.Blanks();
        return c.p_ == c.text_.size();
    }

  private:
    explicit JsonChecker(std::string_view text) : text_(text) {}

    bool At(char c) const { return p_ < text_.size() && text_[p_] == c; }
    void Blanks() {
        while (p_ < text_.size() &&
               (text_[p_] == ' ' || text_[p_] == '\t' || text_[p_] == '\n' || text_[p_] == '\r'))
            ++p_;
    }
    bool Literal(std::string_view word) {
        if (text_.substr(p_, word.size()) != word) return false;
        p_ += word.size();
        return true;
    }
    bool Value(int depth) {
        if (depth > 64 || p_ >= text_.size()) return false;
        switch (text_[p_]) {
        case '{':
            return Object(depth);
        case '[':
            return Array(depth);
        case '"':
            return String();
        case 't':
            return Literal("true");
        case 'f':
            return Literal("false");
        case 'n':
            return Literal("null");
        default:
            return Number();
        }
    }
    bool Object(int depth) {
        ++p_;
        Blanks();
        if (At('}')) return ++p_, true;
        for (;;) {
            Blanks();
            if (!At('"') || !String()) return false;
            Blanks();
            if (!At(':')) return false;
            ++p_;
            Blanks();
            if (!Value(depth + 1)) return false;
            Blanks();
            if (At('}')) return ++p_, true;
            if (!At(',')) return false;
            ++p_;
        }
    }
    bool Array(int depth) {
        ++p_;
        Blanks();
        if (At(']')) return ++p_, true;
        for (;;) {
            Blanks();
            if (!Value(depth + 1)) return false;
            Blanks();
            if (At(']')) return ++p_, true;
            if (!At(',')) return false;
            ++p_;
        }
    }
    bool String() {
        ++p_;
        while (p_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[p_]);
            if (c == '"') return ++p_, true;
            if (c < 0x20) return false;
            if (c == '\\') {
                ++p_;
                if (p_ >= text_.size()) return false;
                const char e = text_[p_++];
                if (e == 'u') {
                    for (int i = 0; i < 4; ++i, ++p_)
                        if (p_ >= text_.size() ||
                            !std::isxdigit(static_cast<unsigned char>(text_[p_])))
                            return false;
                } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
                    return false;
                }
                continue;
            }
            if (c < 0x80) {
                ++p_;
                continue;
            }
            // UTF-8 sequence: lead byte, then continuation bytes.
            int extra = c >= 0xF0 && c <= 0xF4   ? 3
                        : c >= 0xE0              ? 2
                        : c >= 0xC2 && c <= 0xDF ? 1
                                                 : -1;
            if (extra < 0 || c > 0xF4) return false;
            ++p_;
            for (int i = 0; i < extra; ++i, ++p_)
                if (p_ >= text_.size() || (static_cast<unsigned char>(text_[p_]) & 0xC0) != 0x80)
                    return false;
        }
        return false;
    }
    bool Number() {
        const std::size_t start = p_;
        if (At('-')) ++p_;
        if (At('0')) {
            ++p_;
        } else {
            if (p_ >= text_.size() || text_[p_] < '1' || text_[p_] > '9') return false;
            while (p_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p_])))
                ++p_;
        }
        if (At('.')) {
            ++p_;
            if (p_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[p_])))
                return false;
            while (p_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p_])))
                ++p_;
        }
        if (At('e') || At('E')) {
            ++p_;
            if (At('+') || At('-')) ++p_;
            if (p_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[p_])))
                return false;
            while (p_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p_])))
                ++p_;
        }
        return p_ > start;
    }

    std::string_view text_;
    std::size_t p_ = 0;
};

using orvex::testing::RecordedRow;

// Up to 2000 bytes of a file, for a check's message.
inline std::string Show(const QByteArray& bytes) {
    return bytes.left(2000).toStdString();
}

// One table file format as the table targets drive it.
struct TableFormat {
    std::function<FileResult(QByteArrayView bytes, RecordTable& table)> load;
    std::function<QByteArray(const RecordTable& table)> save;
    // The header line and the writer of one row's line (for CheckLoadAppends).
    QByteArray header = {};
    std::function<void(QByteArray& out, const RecordTable& table, int row)> appendLine = {};
};

// Loading `bytes` into a table that already holds `earlier` ends like the load into
// an empty table (`first`, leaving `fresh`, which saved to `saved`): the same status
// and rows, the last row current, and the table saves to the line of `earlier`
// followed by the lines of `fresh`.
inline void CheckLoadAppends(const TableFormat& format, QByteArrayView bytes,
                             const FileResult& first, const RecordTable& fresh,
                             const QByteArray& saved, const RecordRow& earlier) {
    RecordTable used;
    used.Append(earlier);
    const FileResult appended = format.load(bytes, used);
    FUZZ_CHECK(appended.status == first.status && appended.rows == first.rows,
               appended.error.toStdString());
    FUZZ_CHECK(used.rowCount() == fresh.rowCount() + 1, std::to_string(used.rowCount()));
    FUZZ_CHECK(used.currentRow() == used.rowCount() - 1, std::to_string(used.currentRow()));
    QByteArray expected = format.header;
    format.appendLine(expected, used, 0);
    expected += saved.mid(format.header.size());
    const QByteArray savedUsed = format.save(used);
    FUZZ_CHECK(savedUsed == expected, Show(savedUsed));
}

// Load, save, load, save: `saved`, what a table of `rows` rows saved to, loads back
// completely and saves to the same bytes. With `mayDropRows` the first load back
// may leave rows out; the bytes it saves to must then make that round exactly.
inline void CheckRoundTrip(const TableFormat& format, const QByteArray& saved, int rows,
                           bool mayDropRows = false) {
    RecordTable again;
    const FileResult loaded = format.load(saved, again);
    FUZZ_CHECK(loaded.ok(), loaded.error.toStdString() + "\n" + Show(saved));
    if (mayDropRows) {
        FUZZ_CHECK(again.rowCount() <= rows, Show(saved));
        CheckRoundTrip(format, format.save(again), again.rowCount());
        return;
    }
    FUZZ_CHECK(again.rowCount() == rows, Show(saved));
    const QByteArray savedAgain = format.save(again);
    FUZZ_CHECK(savedAgain == saved, Show(saved) + "\n----\n" + Show(savedAgain));
}

} // namespace orvex::fuzz
