#include "recording/RecordTable.h"

#include <QHash>

#include <algorithm>
#include <cstring>
#include <vector>

namespace orvex {

namespace {

const char* const kFieldNames[RecordTable::kFieldCount] = {"No",   "time", "DC/AC", "Value",
                                                           "Unit", "Auto", "NVal"};

constexpr int kTextColumns = 5; // time, DC/AC, Value, Unit, Auto

// Column of the text store for a text field, -1 for the integer fields.
constexpr int TextColumn(int field) {
    return (field >= FieldTime && field <= FieldAuto) ? field - FieldTime : -1;
}

// Rows live in fixed blocks so appending never moves what is already stored
// (no reallocation copies, no pauses that grow with the table). A block of 2048
// rows is about 75 KB: small enough that a table of a few rows (every load
// gathers its rows in a table of its own first) costs little, large enough that
// ten million rows need only some 5000 blocks.
constexpr int kChunkShift = 11;
constexpr int kChunkRows = 1 << kChunkShift;
constexpr int kChunkMask = kChunkRows - 1;

// Flag bits per row: bit f set means field f has a value; bit 7 is the appended mark.
constexpr std::uint8_t kAppendedBit = 0x80;

struct Chunk {
    std::int32_t no[kChunkRows];
    std::int32_t nval[kChunkRows];
    std::uint32_t text[kTextColumns][kChunkRows];
    std::int64_t stamp[kChunkRows]; // PackTimestamp
    std::uint8_t flags[kChunkRows];
};

// A timestamp in eight bytes: the milliseconds shifted up by 16 bits, the offset
// in minutes in the low 16 bits; kNoOffset there marks a row without a date.
constexpr std::uint16_t kNoOffset = 0x8000;

std::int64_t PackTimestamp(const RecordTimestamp& t) {
    const RecordTimestamp checked =
        t.valid ? RecordTimestamp::Of(t.msecsSinceEpoch, t.offsetMinutes) : RecordTimestamp();
    if (!checked.valid) return kNoOffset;
    return static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(checked.msecsSinceEpoch) << 16) |
        static_cast<std::uint16_t>(static_cast<std::int16_t>(checked.offsetMinutes)));
}

RecordTimestamp UnpackTimestamp(std::int64_t packed) {
    const auto low = static_cast<std::uint16_t>(packed & 0xFFFF);
    if (low == kNoOffset) return {};
    RecordTimestamp t;
    t.msecsSinceEpoch = packed >> 16;
    t.offsetMinutes = static_cast<std::int16_t>(low);
    t.valid = true;
    return t;
}

// Every distinct text of a column is kept once; rows keep its index.
class Dictionary {
  public:
    std::uint32_t Intern(const QString& text) {
        if (lastId_ != kNone && text == values_[lastId_]) return lastId_;
        auto it = index_.constFind(text);
        std::uint32_t id;
        if (it != index_.constEnd()) {
            id = it.value();
        } else {
            id = static_cast<std::uint32_t>(values_.size());
            values_.push_back(text);
            index_.insert(text, id);
        }
        lastId_ = id;
        return id;
    }
    const QString& Value(std::uint32_t id) const { return values_[id]; }
    std::size_t Size() const { return values_.size(); }
    void Clear() {
        values_.clear();
        values_.shrink_to_fit();
        index_.clear();
        lastId_ = kNone;
    }
    std::size_t Bytes() const {
        std::size_t bytes = values_.capacity() * sizeof(QString);
        for (const QString& s : values_)
            bytes += 32 + static_cast<std::size_t>(s.size()) * 2;
        // Hash node: key, value and bucket overhead.
        bytes += static_cast<std::size_t>(index_.size()) * (sizeof(QString) + 16);
        return bytes;
    }

  private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    std::vector<QString> values_;
    QHash<QString, std::uint32_t> index_;
    std::uint32_t lastId_ = kNone;
};

} // namespace

struct RecordTable::Impl {
    std::vector<std::unique_ptr<Chunk>> chunks;
    Dictionary dictionaries[kTextColumns];
    int rows = 0;
    int current = -1;

    void Clear() {
        chunks.clear();
        chunks.shrink_to_fit();
        for (Dictionary& d : dictionaries)
            d.Clear();
        rows = 0;
        current = -1;
    }
    const Chunk& ChunkOf(int row) const {
        return *chunks[static_cast<std::size_t>(row) >> kChunkShift];
    }
    // The block of the row about to be appended at `index` (== rows).
    Chunk& ChunkFor(int index) {
        if ((index & kChunkMask) == 0 &&
            static_cast<std::size_t>(index >> kChunkShift) == chunks.size()) {
            // Not value-initialised on purpose: pages are touched only as rows are written.
            chunks.push_back(std::unique_ptr<Chunk>(new Chunk));
        }
        return *chunks[static_cast<std::size_t>(index) >> kChunkShift];
    }
};

QString CutToTextWidth(const QString& text) {
    if (text.size() <= RecordTable::kTextWidth) return text;
    // Count characters, not UTF-16 units: a character above U+FFFF is two units
    // and is never split.
    qsizetype units = 0;
    for (int chars = 0; chars < RecordTable::kTextWidth && units < text.size(); ++chars) {
        const bool pair = text[units].isHighSurrogate() && units + 1 < text.size() &&
                          text[units + 1].isLowSurrogate();
        units += pair ? 2 : 1;
    }
    return units >= text.size() ? text : text.left(units);
}

QString RecordTable::FieldName(int field) {
    if (field < 0 || field >= kFieldCount) return {};
    return QString::fromLatin1(kFieldNames[field]);
}

bool RecordTable::IsIntegerField(int field) {
    return field == FieldNo || field == FieldNVal;
}

int RecordTable::FieldIndex(QStringView name) {
    for (int f = 0; f < kFieldCount; ++f) {
        if (name.compare(QLatin1StringView(kFieldNames[f]), Qt::CaseInsensitive) == 0) return f;
    }
    return -1;
}

RecordTable::RecordTable(QObject* parent) : QObject(parent), d(std::make_unique<Impl>()) {}

RecordTable::~RecordTable() = default;

int RecordTable::rowCount() const {
    return d->rows;
}

void RecordTable::Append(const RecordRow& row) {
    const int index = d->rows;
    Chunk& chunk = d->ChunkFor(index);
    const int off = index & kChunkMask;

    std::uint8_t flags = row.appended ? kAppendedBit : 0;
    for (int f = 0; f < kFieldCount; ++f) {
        const FieldCell& value = row.fields[static_cast<std::size_t>(f)];
        if (value.has) flags |= static_cast<std::uint8_t>(1u << f);
    }
    const FieldCell& no = row.fields[FieldNo];
    const FieldCell& nval = row.fields[FieldNVal];
    chunk.no[off] = no.has ? no.integer : 0;
    chunk.nval[off] = nval.has ? nval.integer : 0;
    for (int c = 0; c < kTextColumns; ++c) {
        const FieldCell& value = row.fields[static_cast<std::size_t>(FieldTime + c)];
        if (value.has) {
            chunk.text[c][off] = d->dictionaries[c].Intern(CutToTextWidth(value.text));
        } else {
            chunk.text[c][off] = 0;
        }
    }
    chunk.stamp[off] = PackTimestamp(row.timestamp);
    chunk.flags[off] = flags;
    d->rows = index + 1;
    d->current = index;
    emit rowsAppended(index, index);
    emit currentRowChanged(index);
}

void RecordTable::AppendRows(const RecordTable& source, int first, int count) {
    if (&source == this) return;
    first = std::clamp(first, 0, source.d->rows);
    if (count < 0 || count > source.d->rows - first) count = source.d->rows - first;
    if (count == 0) return;

    // Texts are copied once per distinct text, not once per row: each index of
    // the source's dictionaries is mapped to this table's the first time it is met.
    constexpr std::uint32_t kUnmapped = 0xFFFFFFFFu;
    std::array<std::vector<std::uint32_t>, kTextColumns> mapping;
    for (int c = 0; c < kTextColumns; ++c)
        mapping[static_cast<std::size_t>(c)].assign(source.d->dictionaries[c].Size(), kUnmapped);

    const int start = d->rows;
    int from = first;
    int to = start;
    int left = count;
    while (left > 0) {
        const Chunk& src = source.d->ChunkOf(from);
        Chunk& dst = d->ChunkFor(to);
        const int so = from & kChunkMask;
        const int to0 = to & kChunkMask;
        const int n = std::min({left, kChunkRows - so, kChunkRows - to0});
        std::memcpy(dst.no + to0, src.no + so, sizeof(std::int32_t) * std::size_t(n));
        std::memcpy(dst.nval + to0, src.nval + so, sizeof(std::int32_t) * std::size_t(n));
        std::memcpy(dst.stamp + to0, src.stamp + so, sizeof(std::int64_t) * std::size_t(n));
        std::memcpy(dst.flags + to0, src.flags + so, std::size_t(n));
        for (int c = 0; c < kTextColumns; ++c) {
            std::vector<std::uint32_t>& map = mapping[static_cast<std::size_t>(c)];
            const std::uint8_t bit = static_cast<std::uint8_t>(1u << (FieldTime + c));
            for (int i = 0; i < n; ++i) {
                if (!(src.flags[so + i] & bit)) {
                    dst.text[c][to0 + i] = 0;
                    continue;
                }
                const std::uint32_t id = src.text[c][so + i];
                std::uint32_t& mapped = map[id];
                if (mapped == kUnmapped)
                    mapped = d->dictionaries[c].Intern(source.d->dictionaries[c].Value(id));
                dst.text[c][to0 + i] = mapped;
            }
        }
        // Counted as they are written, so that the next block is found by ChunkFor.
        d->rows = to + n;
        from += n;
        to += n;
        left -= n;
    }
    d->current = d->rows - 1;
    emit rowsAppended(start, d->rows - 1);
    emit currentRowChanged(d->current);
}

bool RecordTable::Has(int row, int field) const {
    if (row < 0 || row >= d->rows || field < 0 || field >= kFieldCount) return false;
    return (d->ChunkOf(row).flags[row & kChunkMask] & (1u << field)) != 0;
}

std::int32_t RecordTable::Integer(int row, int field) const {
    if (!Has(row, field)) return 0;
    const Chunk& chunk = d->ChunkOf(row);
    if (field == FieldNo) return chunk.no[row & kChunkMask];
    if (field == FieldNVal) return chunk.nval[row & kChunkMask];
    return 0;
}

QString RecordTable::Text(int row, int field) const {
    if (!Has(row, field)) return {};
    if (IsIntegerField(field)) return QString::number(Integer(row, field));
    const int c = TextColumn(field);
    return d->dictionaries[c].Value(d->ChunkOf(row).text[c][row & kChunkMask]);
}

bool RecordTable::IsAppended(int row) const {
    if (row < 0 || row >= d->rows) return false;
    return (d->ChunkOf(row).flags[row & kChunkMask] & kAppendedBit) != 0;
}

RecordTimestamp RecordTable::Timestamp(int row) const {
    if (row < 0 || row >= d->rows) return {};
    return UnpackTimestamp(d->ChunkOf(row).stamp[row & kChunkMask]);
}

RecordRow RecordTable::Row(int row) const {
    RecordRow out;
    out.appended = IsAppended(row);
    out.timestamp = Timestamp(row);
    for (int f = 0; f < kFieldCount; ++f) {
        FieldCell& value = out.fields[static_cast<std::size_t>(f)];
        if (!Has(row, f)) continue;
        value.has = true;
        if (IsIntegerField(f))
            value.integer = Integer(row, f);
        else
            value.text = Text(row, f);
    }
    return out;
}

void RecordTable::Empty() {
    const bool hadCurrent = d->current != -1;
    d->Clear();
    emit reset();
    if (hadCurrent) emit currentRowChanged(-1);
}

void RecordTable::ReplaceWith(RecordTable& other) {
    if (&other == this) return;
    const int oldCurrent = d->current;
    std::swap(d, other.d);
    other.d->Clear();
    emit reset();
    if (d->current != oldCurrent) emit currentRowChanged(d->current);
    emit other.reset();
}

int RecordTable::currentRow() const {
    return d->current;
}

void RecordTable::setCurrentRow(int row) {
    if (row < -1) row = -1;
    if (row >= d->rows) row = d->rows - 1;
    if (row == d->current) return;
    d->current = row;
    emit currentRowChanged(row);
}

std::size_t RecordTable::memoryBytes() const {
    std::size_t bytes =
        d->chunks.size() * sizeof(Chunk) + d->chunks.capacity() * sizeof(std::unique_ptr<Chunk>);
    for (const Dictionary& dict : d->dictionaries)
        bytes += dict.Bytes();
    return bytes;
}

} // namespace orvex
