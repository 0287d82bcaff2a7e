// The XML data-packet loader on any bytes.
//
// Checked: a load that fails leaves the table exactly as it was; a load that
// succeeds replaces it, and the table then saves to a packet that loads back
// to the same rows and saves to the same bytes.

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

// Two rows: one recorded (marked as appended), one loaded without mark and with
// empty fields.
void FillTable(RecordTable& table) {
    RecordRow row;
    row.fields[FieldNo] = FieldValue::Int(7);
    row.fields[FieldTime] = FieldValue::Text(QStringLiteral("10:20:30"));
    row.fields[FieldDcAc] = FieldValue::Text(QStringLiteral("DC"));
    row.fields[FieldValue] = FieldValue::Text(QStringLiteral("1.2345"));
    row.fields[FieldUnit] = FieldValue::Text(QStringLiteral("V"));
    row.fields[FieldAuto] = FieldValue::Text(QStringLiteral("Pass"));
    row.fields[FieldNVal] = FieldValue::Int(12345);
    table.Append(row);
    RecordRow sparse;
    sparse.appended = false;
    sparse.fields[FieldUnit] = FieldValue::Text(QStringLiteral("&  *"));
    table.Append(sparse);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));

    RecordTable table;
    FillTable(table);
    const QByteArray before = TableXmlBytes(table);
    const FileResult loaded = LoadTableXml(bytes, table);
    FUZZ_CHECK(!loaded.cancelled(), "");
    if (!loaded.ok()) {
        FUZZ_CHECK(!loaded.error.isEmpty(), "a failure without a reason");
        FUZZ_CHECK(TableXmlBytes(table) == before, Show(TableXmlBytes(table)));
        return 0;
    }
    FUZZ_CHECK(loaded.rows == table.rowCount(), std::to_string(loaded.rows));
    FUZZ_CHECK(table.currentRow() == (table.rowCount() > 0 ? 0 : -1),
               std::to_string(table.currentRow()));

    const QByteArray saved = TableXmlBytes(table);
    RecordTable again;
    const FileResult reloaded = LoadTableXml(saved, again);
    FUZZ_CHECK(reloaded.ok(), reloaded.error.toStdString() + "\n" + Show(saved));
    FUZZ_CHECK(again.rowCount() == table.rowCount(), Show(saved));
    const QByteArray savedAgain = TableXmlBytes(again);
    FUZZ_CHECK(savedAgain == saved, Show(saved) + "\n----\n" + Show(savedAgain));
    return 0;
}
