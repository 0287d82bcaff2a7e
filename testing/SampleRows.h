#pragma once
// Rows as the recorder makes them, for tests, fuzz targets and benchmarks.

#include "recording/RecordTable.h"

#include <QString>

namespace orvex::testing {

// A DC voltage of 1.2345 V that passed, numbered `no`.
inline RecordRow RecordedRow(int no = 1) {
    RecordRow row;
    row.fields[FieldNo] = FieldValue::Int(no);
    row.fields[FieldTime] = FieldValue::Text(QStringLiteral("10:20:30"));
    row.fields[FieldDcAc] = FieldValue::Text(QStringLiteral("DC"));
    row.fields[FieldValue] = FieldValue::Text(QStringLiteral("1.2345"));
    row.fields[FieldUnit] = FieldValue::Text(QStringLiteral("V"));
    row.fields[FieldAuto] = FieldValue::Text(QStringLiteral("Pass"));
    row.fields[FieldNVal] = FieldValue::Int(12345);
    return row;
}

} // namespace orvex::testing
