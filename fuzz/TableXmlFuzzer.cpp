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

// Two rows: one recorded (marked as appended), one loaded without mark and with
// empty fields.
void FillTable(RecordTable& table) {
    RecordRow row = fuzz::RecordedRow();
    row.fields[FieldNo] = FieldValue::Int(7);
    table.Append(row);
    RecordRow sparse;
    sparse.appended = false;
    sparse.fields[FieldUnit] = FieldValue::Text(QStringLiteral("&  *"));
    table.Append(sparse);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::TableFormat xml{
        [](QByteArrayView bytes, RecordTable& table) { return LoadTableXml(bytes, table); },
        [](const RecordTable& table) { return TableXmlBytes(table); }};
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));

    RecordTable table;
    FillTable(table);
    const QByteArray before = TableXmlBytes(table);
    const FileResult loaded = LoadTableXml(bytes, table);
    FUZZ_CHECK(!loaded.cancelled(), "");
    if (!loaded.ok()) {
        FUZZ_CHECK(!loaded.error.isEmpty(), "a failure without a reason");
        FUZZ_CHECK(TableXmlBytes(table) == before, fuzz::Show(TableXmlBytes(table)));
        return 0;
    }
    FUZZ_CHECK(loaded.rows == table.rowCount(), std::to_string(loaded.rows));
    FUZZ_CHECK(table.currentRow() == (table.rowCount() > 0 ? 0 : -1),
               std::to_string(table.currentRow()));

    fuzz::CheckRoundTrip(xml, TableXmlBytes(table), table.rowCount());
    return 0;
}
