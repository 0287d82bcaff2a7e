#include "recording/RecordTable.h"

#include <QHash>

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
// (no reallocation copies, no pauses that grow with the table).
constexpr int kChunkShift = 16;
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
};

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
    if ((index & kChunkMask) == 0 &&
        static_cast<std::size_t>(index >> kChunkShift) == d->chunks.size()) {
        // Not value-initialised on purpose: pages are touched only as rows are written.
        d->chunks.push_back(std::unique_ptr<Chunk>(new Chunk));
    }
    Chunk& chunk = *d->chunks[static_cast<std::size_t>(index) >> kChunkShift];
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
            chunk.text[c][off] = d->dictionaries[c].Intern(
                value.text.size() > kTextWidth ? value.text.left(kTextWidth) : value.text);
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
