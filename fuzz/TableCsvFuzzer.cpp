// The CSV table loader on any bytes.
//
// Checked: loading into an empty table and appending to a table that already
// holds a row give the same rows after it; whatever loaded saves to CSV that
// loads back, and after one such round the bytes stay the same.

#include "files/TableCsv.h"
#include "fuzz/FuzzSupport.h"

#include <QByteArray>

#include <cstdint>
#include <string>

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const CsvLocale locale; // "." and ":", whatever the machine's locale
    static const fuzz::TableFormat csv{
        [](QByteArrayView bytes, RecordTable& table) {
            return LoadTableCsv(bytes, table, {}, locale);
        },
        [](const RecordTable& table) { return TableCsvBytes(table, -1, locale); }, CsvHeaderLine(),
        [](QByteArray& out, const RecordTable& table, int row) {
            AppendCsvLine(out, table, row, locale);
        }};
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));

    RecordTable fresh;
    const FileResult first = LoadTableCsv(bytes, fresh, {}, locale);
    FUZZ_CHECK(!first.cancelled(), "");
    FUZZ_CHECK(first.rows == fresh.rowCount(), std::to_string(first.rows));
    const QByteArray saved = TableCsvBytes(fresh, -1, locale);

    RecordRow earlier = fuzz::RecordedRow();
    earlier.timestamp = RecordTimestamp::Of(1796907787000, 60);
    fuzz::CheckLoadAppends(csv, bytes, first, fresh, saved, earlier);

    // What was saved loads back and saves to the same bytes once its rows have been
    // through a load: a row whose every field is blank in the file is taken for an
    // empty line (spreadsheets end their sheets with such lines) and left out.
    fuzz::CheckRoundTrip(csv, saved, fresh.rowCount(), /*mayDropRows=*/true);
    return 0;
}
