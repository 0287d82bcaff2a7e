#pragma once
// The record table as comma-separated values for spreadsheets and scripts
// (RFC 4180): UTF-8 without a byte-order mark, CR LF after every line, "," between
// fields, "." as the decimal mark whatever the locale, and the header
//
//   No,Timestamp,Function,Value,Unit,Judge,Base value,Base unit,Overload
//
// Timestamp is ISO 8601 with date, seconds and UTC offset for a row recorded
// from the meter, the time text alone for a row without a date. Value is the
// reading in the unit shown, Unit a readable unit ("kΩ", "µA", "°C"), Base value
// the reading in the base unit (120.30 mV gives 0.1203); both values are empty
// for an overload, which Overload marks with 1.
//
// Loading reads such a file back (columns found by their header names), so
// "Open" and the loader take it like the other formats.

#include "files/TableFiles.h"

#include <QFile>

namespace orvex {

// The separators the table's texts are written in: the decimal separator of
// the Value texts and the time separator of the time texts.
struct CsvLocale {
    QString decimalSeparator = QStringLiteral(".");
    QString timeSeparator = QStringLiteral(":");
    // Those of the user's locale (what the decoder and the recorder use).
    static CsvLocale System();
};

// True when the extension is ".csv", letter case ignored.
bool IsCsvFileName(QStringView fileName);

// The header line with its CR LF.
QByteArray CsvHeaderLine();
// Appends the line of one row (CR LF included) to `out`.
void AppendCsvLine(QByteArray& out, const RecordTable& table, int row, const CsvLocale& locale);
// The whole file for the first `rows` rows (-1: all rows).
QByteArray TableCsvBytes(const RecordTable& table, int rows = -1,
                         const CsvLocale& locale = CsvLocale::System());

// Writes the file, atomically like the other formats: a failed or cancelled save
// leaves any previous file untouched. The file holds the rows present when the
// call began.
FileResult SaveTableCsv(const RecordTable& table, const QString& fileName,
                        const ProgressCallback& progress = {},
                        const CsvLocale& locale = CsvLocale::System());

// Appends the rows of a file to the table, as the text loader does: on a failure
// the rows of the lines before the failing line stay, a cancelled load leaves the
// table as it was, and afterwards the current row is the last row appended.
// A row comes back with its timestamp, its time text in `locale`'s separator,
// its Value with `locale`'s decimal separator, its unit in the LCD font's
// characters and NVal from the digits of its value. An overload comes back as
// "0L" without NVal (the file keeps neither its sign nor its decimal point).
// Fails on a header without the columns No, Timestamp, Function, Value, Unit and
// Judge, a line with more fields than the header, an unterminated quote, or a No
// that is not a whole number.
FileResult LoadTableCsv(QByteArrayView bytes, RecordTable& table,
                        const ProgressCallback& progress = {},
                        const CsvLocale& locale = CsvLocale::System());

// Writes the file as the table grows, like TableTextAppender: the header when
// opened, then one line per row, each handed to the system at once; a write that
// fails part-way cuts the file back to its last complete row.
class TableCsvAppender : public TableAppender {
    Q_OBJECT
  public:
    explicit TableCsvAppender(QObject* parent = nullptr,
                              const CsvLocale& locale = CsvLocale::System());
};

} // namespace orvex
