#pragma once
// Table files: the record table saved as tab-separated text (.xls, .txt and any
// other name) or as an XML data packet (.xml), and loaded back from either; the
// comma-separated format for other programs (.csv) is in files/TableCsv.h.
//
// Everything here is QtCore only; the window shows the dialogs and messages.
// Typical use from the window:
//
//   const QString name = ...;                      // from the save dialog
//   FileResult r = SaveTable(table, name, progress);
//   if (IsXmlFileName(name)) {
//       if (r.failed()) QMessageBox::critical(..., XmlSaveFailedMessage(name, r.error));
//   } else if (r.ok()) {
//       QMessageBox::information(..., SaveSucceededMessage(name));
//   } else if (r.failed()) {
//       QMessageBox::warning(..., SaveFailedMessage(name));
//   }                                              // cancelled: nothing was changed
//
//   FileResult l = LoadDataFile(name, table, progress);
//   if (l.failed()) QMessageBox::critical(..., LoadFailedCaption(), LoadFailedMessage());

#include "files/TableAppender.h"
#include "recording/RecordTable.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QStringView>

#include <functional>
#include <vector>

namespace orvex {

class AtomicFileWriter;

// ---- names, dialogs and messages -------------------------------------------------

// Text from the last "." after the last path separator on, the dot included; empty
// when there is none.
QString FileExtension(QStringView fileName);
// True exactly when the extension is ".xml" (letter case counts: "Data.XML" is text).
bool IsXmlFileName(QStringView fileName);

// Turns "text|pattern|text|pattern" pairs into Qt's ";;"-separated filter form,
// for example "Excel File(*.xls)|*.xls" -> "Excel File(*.xls)".
QString QtFilterFromPairs(QStringView pairs);
// Filters of the save and open dialogs, in Qt's form.
QString SaveDialogFilter();
QString OpenDialogFilter();
// Default suffix of the save dialog ("xls"); the open dialog has none.
QString SaveDefaultSuffix();
// The suffix (without the dot) a name typed without an extension gets in the save
// dialog: that of the type chosen in it, given as SaveDialogFilter() spells it
// ("XML(*.xml)" gives "xml"); SaveDefaultSuffix() for a type it does not list.
QString SaveSuffixForFilter(QStringView chosenFilter);

QString SaveFailedMessage(const QString& fileName);    // "Could not save table to ..."
QString SaveSucceededMessage(const QString& fileName); // "save table to ... Scuss!"
// The window's general report for an XML file that could not be written.
QString XmlSaveFailedMessage(const QString& fileName, const QString& reason);
QString LoadFailedMessage(); // "Failed to Load File!"
QString LoadFailedCaption(); // "Error"

// ---- results and progress ----------------------------------------------------------

enum class FileStatus { Ok, Failed, Cancelled };

struct FileResult {
    FileStatus status = FileStatus::Ok;
    int rows = 0;  // rows written, or rows that reached the table when loading
    QString error; // reason of a failure (system error, line number, ...)
    // For a failed save: the system's reason alone ("Permission denied"), for the
    // window's "Cannot create file "%s". %s" report; else the same as `error`.
    QString reason;

    bool ok() const { return status == FileStatus::Ok; }
    bool failed() const { return status == FileStatus::Failed; }
    bool cancelled() const { return status == FileStatus::Cancelled; }
};

// A failed result whose error and reason are both `why`.
FileResult FailedResult(const QString& why);

// Called now and then during a save or load with the work done so far and the
// whole: rows for saves, bytes of the file for loads. Return false to cancel. The
// callback may run the event loop (a QProgressDialog); frames recorded meanwhile
// are appended to the table as usual and are not part of a running save.
using ProgressCallback = std::function<bool(qint64 done, qint64 total)>;
// Rows written (or lines read when loading) between two progress calls.
inline constexpr int kProgressStep = 4096;

// ---- saving ------------------------------------------------------------------------

// Writes the text format. The file holds exactly the rows present when the call
// began. The target is replaced atomically: a failed or cancelled save leaves any
// previous file untouched. Afterwards the table's current row is its last row.
FileResult SaveTableText(RecordTable& table, const QString& fileName,
                         const ProgressCallback& progress = {});
// Writes the XML data packet, atomically like the text save.
FileResult SaveTableXml(const RecordTable& table, const QString& fileName,
                        const ProgressCallback& progress = {});
// Picks the format by the extension: ".xml" XML, ".csv" (any letter case) CSV, else text.
FileResult SaveTable(RecordTable& table, const QString& fileName,
                     const ProgressCallback& progress = {});

// In-memory forms of both formats for the first `rows` rows (-1: all rows).
QByteArray TableTextBytes(const RecordTable& table, int rows = -1);
QByteArray TableXmlBytes(const RecordTable& table, int rows = -1);
// The 29-character header line with its CR LF.
QByteArray TextHeaderLine();
// Appends the text line of one row (CR LF included) to `out`.
void AppendTextLine(QByteArray& out, const RecordTable& table, int row);

// ---- loading -----------------------------------------------------------------------

// Reads a file of any format into the table (a CSV file as LoadTableCsv does).
// Text: appends its rows. On a failure the rows of the lines before the failing
// line stay in the table; the row of the failing line itself is dropped. A
// cancelled text load leaves the table as it was. Afterwards the current row is
// the last row appended.
// XML: replaces the table only when the whole file was understood; on failure or
// cancel the table is unchanged. Rows recorded while the load runs (the progress
// callback may run the event loop) are kept, after the rows of the file.
// Afterwards the current row is the first row.
FileResult LoadDataFile(const QString& fileName, RecordTable& table,
                        const ProgressCallback& progress = {});

// Parsers on bytes already in memory, used by LoadDataFile.
FileResult LoadTableText(QByteArrayView bytes, RecordTable& table,
                         const ProgressCallback& progress = {});
FileResult LoadTableXml(QByteArrayView bytes, RecordTable& table,
                        const ProgressCallback& progress = {});

// ---- streaming text file for the headless logger -----------------------------------

// Writes the text format as the table grows (see TableAppender): the header when
// opened, then one line per row, each handed to the system at once, so a logger
// that is killed loses nothing already recorded.
class TableTextAppender : public TableAppender {
    Q_OBJECT
  public:
    explicit TableTextAppender(QObject* parent = nullptr);
};

} // namespace orvex
