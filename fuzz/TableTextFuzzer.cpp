// The text table loader on any bytes.
//
// Checked: loading into an empty table and appending to a table that already
// holds a row give the same rows after it; whatever loaded saves to text that
// loads back to the same rows, so load, save, load, save gives the same bytes.

#include "files/TableFiles.h"
#include "fuzz/FuzzSupport.h"

#include <QByteArray>

#include <cstdint>
#include <string>

using namespace orvex;

namespace {

std::string Show(const QByteArray& bytes) {
    return bytes.left(2000).toStdString();
}

RecordRow EarlierRow() {
    RecordRow row;
    row.fields[FieldNo] = FieldValue::Int(1);
    row.fields[FieldTime] = FieldValue::Text(QStringLiteral("10:20:30"));
    row.fields[FieldDcAc] = FieldValue::Text(QStringLiteral("DC"));
    row.fields[FieldValue] = FieldValue::Text(QStringLiteral("1.2345"));
    row.fields[FieldUnit] = FieldValue::Text(QStringLiteral("V"));
    row.fields[FieldAuto] = FieldValue::Text(QStringLiteral("Pass"));
    row.fields[FieldNVal] = FieldValue::Int(12345);
    return row;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));

    RecordTable fresh;
    const FileResult first = LoadTableText(bytes, fresh);
    FUZZ_CHECK(!first.cancelled(), "");
    FUZZ_CHECK(first.rows == fresh.rowCount(), std::to_string(first.rows));
    FUZZ_CHECK(fresh.currentRow() == fresh.rowCount() - 1, std::to_string(fresh.currentRow()));

    // Appending to a table that already has a row: that row, then the same rows.
    RecordTable used;
    used.Append(EarlierRow());
    const FileResult appended = LoadTableText(bytes, used);
    FUZZ_CHECK(appended.status == first.status && appended.rows == first.rows,
               appended.error.toStdString());
    FUZZ_CHECK(used.rowCount() == fresh.rowCount() + 1, std::to_string(used.rowCount()));
    FUZZ_CHECK(used.currentRow() == used.rowCount() - 1, std::to_string(used.currentRow()));
    QByteArray expected = TextHeaderLine();
    AppendTextLine(expected, used, 0);
    const QByteArray saved = TableTextBytes(fresh);
    expected += saved.mid(TextHeaderLine().size());
    FUZZ_CHECK(TableTextBytes(used) == expected, Show(TableTextBytes(used)));

    // What was saved loads back completely and saves to the same bytes.
    RecordTable again;
    const FileResult second = LoadTableText(saved, again);
    FUZZ_CHECK(second.ok(), second.error.toStdString() + "\n" + Show(saved));
    FUZZ_CHECK(again.rowCount() == fresh.rowCount(), Show(saved));
    const QByteArray savedAgain = TableTextBytes(again);
    FUZZ_CHECK(savedAgain == saved, Show(saved) + "\n----\n" + Show(savedAgain));
    return 0;
}
