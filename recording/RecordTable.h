#pragma once
// The in-memory record table: seven typed fields, rows in order of arrival, and
// for each row the recorder appended the moment it was recorded.  Held column by
// column with per-column dictionaries for the texts, so that millions of rows fit
// in a few tens of bytes each.

#include "recording/RecordTimestamp.h"

#include <QObject>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <memory>

namespace orvex {

// Field positions, in table order.
enum RecordField : int {
    FieldNo = 0,
    FieldTime,
    FieldDcAc,
    FieldValue,
    FieldUnit,
    FieldAuto,
    FieldNVal
};

// One field of one row; `has` false means the field is empty (no value).
struct FieldValue {
    bool has = false;
    std::int32_t integer = 0; // integer fields
    QString text;             // text fields

    static FieldValue Int(std::int32_t v) { return {true, v, {}}; }
    static FieldValue Text(const QString& t) { return {true, 0, t}; }
};

// The enumerator FieldValue hides the struct's plain name in this namespace; name the
// type as `struct FieldValue` (or FieldCell) where a declaration needs it.
using FieldCell = struct FieldValue;

struct RecordRow {
    std::array<FieldCell, 7> fields;
    bool appended = true;      // appended since the table was created or emptied
    RecordTimestamp timestamp; // when the recorder appended it; invalid for loaded rows
};

// A text as a text field holds it: at most RecordTable::kTextWidth characters,
// counted by code point, so a character above U+FFFF is kept whole or not at all.
QString CutToTextWidth(const QString& text);

class RecordTable : public QObject {
    Q_OBJECT
  public:
    static constexpr int kFieldCount = 7;
    static constexpr int kTextWidth = 20;

    // "No", "time", "DC/AC", "Value", "Unit", "Auto", "NVal".
    static QString FieldName(int field);
    static bool IsIntegerField(int field); // No and NVal
    // Position of the field with that name, letter case ignored; -1 when none.
    static int FieldIndex(QStringView name);

    explicit RecordTable(QObject* parent = nullptr);
    ~RecordTable() override;

    int rowCount() const;

    // Appends and posts a row; texts longer than 20 characters are cut.
    // The new row becomes the current row.
    void Append(const RecordRow& row);
    // Appends `count` rows of `source` from `first` on (all from `first` when
    // negative) as they are there, in one step: one rowsAppended and one
    // currentRowChanged for all of them; the last becomes the current row.
    void AppendRows(const RecordTable& source, int first = 0, int count = -1);

    // Fast field access for iteration (row in 0..rowCount()-1).
    bool Has(int row, int field) const;
    std::int32_t Integer(int row, int field) const; // 0 when empty
    QString Text(int row, int field) const;         // empty when empty; integers as decimal
    bool IsAppended(int row) const;
    // The moment the row was recorded; invalid for a row without a date.
    RecordTimestamp Timestamp(int row) const;
    RecordRow Row(int row) const;

    // Removes every row.
    void Empty();
    // Replaces every row by those of `other` (which is left empty); one reset.
    void ReplaceWith(RecordTable& other);

    // The current row (-1 when the table is empty).
    int currentRow() const;
    void setCurrentRow(int row);

    // Bytes held by the table, for benchmarks.
    std::size_t memoryBytes() const;

  signals:
    void rowsAppended(int first, int last);
    void reset();
    void currentRowChanged(int row);

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace orvex
