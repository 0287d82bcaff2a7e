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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::TableFormat text{
        [](QByteArrayView bytes, RecordTable& table) { return LoadTableText(bytes, table); },
        [](const RecordTable& table) { return TableTextBytes(table); }, TextHeaderLine(),
        &AppendTextLine};
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));

    RecordTable fresh;
    const FileResult first = LoadTableText(bytes, fresh);
    FUZZ_CHECK(!first.cancelled(), "");
    FUZZ_CHECK(first.rows == fresh.rowCount(), std::to_string(first.rows));
    FUZZ_CHECK(fresh.currentRow() == fresh.rowCount() - 1, std::to_string(fresh.currentRow()));
    const QByteArray saved = TableTextBytes(fresh);

    // Appending to a table that already has a row: that row, then the same rows.
    fuzz::CheckLoadAppends(text, bytes, first, fresh, saved, fuzz::RecordedRow());

    // What was saved loads back completely and saves to the same bytes.
    fuzz::CheckRoundTrip(text, saved, fresh.rowCount());
    return 0;
}
