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
    row.timestamp = RecordTimestamp::Of(1796907787000, 60);
    return row;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const CsvLocale locale; // "." and ":", whatever the machine's locale

    RecordTable fresh;
    const FileResult first = LoadTableCsv(bytes, fresh, {}, locale);
    FUZZ_CHECK(!first.cancelled(), "");
    FUZZ_CHECK(first.rows == fresh.rowCount(), std::to_string(first.rows));

    RecordTable used;
    used.Append(EarlierRow());
    const FileResult appended = LoadTableCsv(bytes, used, {}, locale);
    FUZZ_CHECK(appended.status == first.status && appended.rows == first.rows,
               appended.error.toStdString());
    FUZZ_CHECK(used.rowCount() == fresh.rowCount() + 1, std::to_string(used.rowCount()));
    FUZZ_CHECK(used.currentRow() == used.rowCount() - 1, std::to_string(used.currentRow()));
    const QByteArray saved = TableCsvBytes(fresh, -1, locale);
    QByteArray expected = CsvHeaderLine();
    AppendCsvLine(expected, used, 0, locale);
    expected += saved.mid(CsvHeaderLine().size());
    FUZZ_CHECK(TableCsvBytes(used, -1, locale) == expected, Show(TableCsvBytes(used, -1, locale)));

    // What was saved loads back and saves to the same bytes once its rows have been
    // through a load: a row whose every field is blank in the file is taken for an
    // empty line (spreadsheets end their sheets with such lines) and left out.
    RecordTable again;
    const FileResult second = LoadTableCsv(saved, again, {}, locale);
    FUZZ_CHECK(second.ok(), second.error.toStdString() + "\n" + Show(saved));
    FUZZ_CHECK(again.rowCount() <= fresh.rowCount(), Show(saved));
    const QByteArray savedAgain = TableCsvBytes(again, -1, locale);
    RecordTable third;
    const FileResult thirdLoad = LoadTableCsv(savedAgain, third, {}, locale);
    FUZZ_CHECK(thirdLoad.ok(), thirdLoad.error.toStdString() + "\n" + Show(savedAgain));
    FUZZ_CHECK(third.rowCount() == again.rowCount(), Show(savedAgain));
    const QByteArray savedThird = TableCsvBytes(third, -1, locale);
    FUZZ_CHECK(savedThird == savedAgain, Show(savedAgain) + "\n----\n" + Show(savedThird));
    return 0;
}
