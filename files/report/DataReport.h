#pragma once
// The printed report DataReport1: the record table as a banded table on A4 paper.
//
//   page header    13.2 mm   "The Data Print Title", centred
//   column header  13.2 mm   No  Time  Function  Value  Unit  Judge
//   detail          6.6 mm   one band per row, 35 rows a page
//   ...
//   page footer    13.2 mm   "Test Data", at the bottom of every page
//
// Every page has the same layout, so a page is drawn straight from its rows:
// nothing is laid out or kept in advance, and drawing page 2,000 of a long
// table costs what drawing page 1 costs. The report draws on any QPainter
// (the preview's widget, a printer, a PDF writer); QtGui only.

#include "files/TableFiles.h"
#include "recording/RecordTable.h"

#include <QFont>
#include <QString>

#include <array>

class QPainter;
class QPagedPaintDevice;
class QRectF;

namespace orvex {

// The layout, in millimetres from the paper's top-left corner or from a band's
// top-left corner.
namespace report {
inline constexpr double kPaperWidth = 210.0;
inline constexpr double kPaperHeight = 297.0;
inline constexpr double kMargin = 10.0;
inline constexpr double kBandWidth = 190.0;
inline constexpr double kPageHeaderHeight = 13.2;
inline constexpr double kColumnHeaderHeight = 13.2;
inline constexpr double kDetailHeight = 6.6;
inline constexpr double kPageFooterHeight = 13.2;
inline constexpr double kTitleTop = 2.1;
inline constexpr double kColumnTitleTop = 4.2;
inline constexpr double kFieldTop = 2.1;
inline constexpr double kFooterLeft = 8.5;
inline constexpr double kFooterTop = 4.2;
inline constexpr double kFontPoints = 10.0;
// Detail bands between the column header and the page footer.
inline constexpr int kRowsPerPage = 35;

// Top of each band on the paper.
inline constexpr double kPageHeaderAt = kMargin;
inline constexpr double kColumnHeaderAt = kPageHeaderAt + kPageHeaderHeight;
inline constexpr double kFirstDetailAt = kColumnHeaderAt + kColumnHeaderHeight;
inline constexpr double kPageFooterAt = kPaperHeight - kMargin - kPageFooterHeight;
static_assert(kFirstDetailAt + kRowsPerPage * kDetailHeight <= kPageFooterAt);
static_assert(kFirstDetailAt + (kRowsPerPage + 1) * kDetailHeight > kPageFooterAt);

// The texts of the report.
inline constexpr const char* kTitle = "The Data Print Title";
inline constexpr const char* kFooter = "Test Data";

// Painter units of RenderPage: a hundredth of a millimetre.
inline constexpr double kUnitsPerMm = 100.0;
} // namespace report

// One printed column: its title in the column header band and its field in the
// detail bands, each at its distance from the band's left edge.
struct ReportColumn {
    const char* title;
    double titleAt; // mm
    bool titleInLcdFont;
    int field;      // RecordField
    double fieldAt; // mm
    bool fieldInLcdFont;
};
// The six columns, left to right (NVal is not printed).
const std::array<ReportColumn, 6>& ReportColumns();

// Pages needed for a number of rows: none for an empty table.
int ReportPageCount(int rows);

class TDataReport {
  public:
    // The report of the rows the table holds now; rows appended later are not
    // part of it. The table must outlive the report.
    explicit TDataReport(const RecordTable& table);

    int rowCount() const { return rows_; }
    int pageCount() const { return ReportPageCount(rows_); }

    // Draws page `page` (0-based) with the paper's top-left corner at the
    // painter's origin, one painter unit being report::kUnitsPerMm of a
    // millimetre. Paints only ink: the paper is whatever is below.
    void RenderPage(QPainter& painter, int page) const;
    // Draws page `page` scaled into `paper`, a rectangle of the painter's
    // coordinates that stands for the whole A4 sheet.
    void PaintPage(QPainter& painter, int page, const QRectF& paper) const;

    // Prints pages first..last (0-based, inclusive; clamped to the report) on a
    // paged device such as a QPrinter or a QPdfWriter, `copies` times over.
    // The device is set to A4 portrait; its painting origin is moved to the
    // paper's corner, so margins the device keeps are allowed for. The progress
    // callback gets pages done and pages in all, once before the first page and
    // after each page; returning false stops at once (Cancelled). The callback
    // may run the event loop. An empty report prints nothing and fails.
    FileResult Print(QPagedPaintDevice& device, int first, int last,
                     const ProgressCallback& progress = {}, int copies = 1) const;
    FileResult Print(QPagedPaintDevice& device, const ProgressCallback& progress = {}) const {
        return Print(device, 0, pageCount() - 1, progress);
    }

  private:
    const RecordTable& table_;
    int rows_;
    QFont arial_;
    QFont lcd_;
    double arialAscent_;
    double lcdAscent_;
};

// What the window and the logger say when the table holds no row.
QString NothingToPrintMessage();

// Writes pages first..last of the report as a PDF file (A4 portrait). The file is
// replaced atomically: a failed or cancelled write leaves any previous file as it
// was. An empty report writes nothing and fails with NothingToPrintMessage().
FileResult SaveReportPdf(const TDataReport& report, const QString& fileName, int first, int last,
                         const ProgressCallback& progress = {});
// The whole report of the rows the table holds now.
FileResult SaveReportPdf(const RecordTable& table, const QString& fileName,
                         const ProgressCallback& progress = {});

} // namespace orvex
