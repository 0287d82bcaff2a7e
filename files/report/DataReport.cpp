#include "files/report/DataReport.h"

#include "display/LcdFont.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orvex {
namespace {

using namespace report;

constexpr double Units(double mm) {
    return mm * kUnitsPerMm;
}

// A font of the report at 10 point, in painter units (1/100 mm). Hinting is
// off so that text is laid out the same on the screen, the printer and in a PDF.
QFont ReportFont(const QString& family) {
    QFont font(family);
    font.setPixelSize(int(std::lround(Units(kFontPoints * 25.4 / 72.0))));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferOutline);
    return font;
}

} // namespace

const std::array<ReportColumn, 6>& ReportColumns() {
    static const std::array<ReportColumn, 6> columns{{
        {"No", 8.5, true, FieldNo, 8.5, false},
        {"Time", 33.9, true, FieldTime, 33.9, false},
        {"Function", 64.3, false, FieldDcAc, 65.6, false},
        {"Value", 99.5, true, FieldValue, 99.5, false},
        {"Unit", 132.3, true, FieldUnit, 131.2, true},
        {"Judge", 163.0, true, FieldAuto, 163.0, true},
    }};
    return columns;
}

int ReportPageCount(int rows) {
    return rows <= 0 ? 0 : (rows + kRowsPerPage - 1) / kRowsPerPage;
}

QString NothingToPrintMessage() {
    return QStringLiteral("There is nothing to print: the record table is empty.");
}

TDataReport::TDataReport(const RecordTable& table)
    : table_(table), rows_(table.rowCount()), arial_(ReportFont(QStringLiteral("Arial"))),
      lcd_(ReportFont(RegisterLcdFont())) {
    lcd_.setKerning(false);
    arialAscent_ = QFontMetricsF(arial_).ascent();
    lcdAscent_ = QFontMetricsF(lcd_).ascent();
}

void TDataReport::RenderPage(QPainter& painter, int page) const {
    if (page < 0 || page >= pageCount()) return;
    painter.save();
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);

    // A label's text stands with its top at the label's top.
    const QFontMetricsF arialMetrics(arial_);
    const QFontMetricsF lcdMetrics(lcd_);
    auto draw = [&](bool lcd, double xMm, double topMm, const QString& text) {
        painter.drawText(QPointF(Units(xMm), Units(topMm) + (lcd ? lcdAscent_ : arialAscent_)),
                         text);
    };

    // Page header: the title, centred across the band.
    painter.setFont(lcd_);
    const QString title = QString::fromLatin1(kTitle);
    const double titleWidth = lcdMetrics.horizontalAdvance(title);
    painter.drawText(QPointF(Units(kMargin + kBandWidth / 2) - titleWidth / 2,
                             Units(kPageHeaderAt + kTitleTop) + lcdAscent_),
                     title);

    // Column header.
    const auto& columns = ReportColumns();
    for (const ReportColumn& c : columns) {
        painter.setFont(c.titleInLcdFont ? lcd_ : arial_);
        draw(c.titleInLcdFont, kMargin + c.titleAt, kColumnHeaderAt + kColumnTitleTop,
             QString::fromLatin1(c.title));
    }

    // Detail bands. A field ends where the next column's field begins; a text too
    // long for that is cut with an ellipsis rather than written over its neighbour.
    // Rows the table no longer holds (it was emptied meanwhile) print nothing.
    const int first = page * kRowsPerPage;
    const int last = std::min({rows_, first + kRowsPerPage, table_.rowCount()});
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ReportColumn& c = columns[i];
        const double endMm = i + 1 < columns.size() ? columns[i + 1].fieldAt : kBandWidth;
        const double room = Units(endMm - c.fieldAt - 1.0);
        const QFontMetricsF& metrics = c.fieldInLcdFont ? lcdMetrics : arialMetrics;
        painter.setFont(c.fieldInLcdFont ? lcd_ : arial_);
        for (int row = first; row < last; ++row) {
            QString text = table_.Text(row, c.field);
            if (text.isEmpty()) continue; // an empty field is an empty cell
            if (metrics.horizontalAdvance(text) > room)
                text = metrics.elidedText(text, Qt::ElideRight, room);
            draw(c.fieldInLcdFont, kMargin + c.fieldAt,
                 kFirstDetailAt + (row - first) * kDetailHeight + kFieldTop, text);
        }
    }

    // Page footer, at the bottom of every page.
    painter.setFont(lcd_);
    draw(true, kMargin + kFooterLeft, kPageFooterAt + kFooterTop, QString::fromLatin1(kFooter));
    painter.restore();
}

void TDataReport::PaintPage(QPainter& painter, int page, const QRectF& paper) const {
    painter.save();
    painter.translate(paper.topLeft());
    painter.scale(paper.width() / Units(kPaperWidth), paper.height() / Units(kPaperHeight));
    RenderPage(painter, page);
    painter.restore();
}

FileResult TDataReport::Print(QPagedPaintDevice& device, int first, int last,
                              const ProgressCallback& progress, int copies) const {
    const int pages = pageCount();
    if (pages == 0) return FailedResult(NothingToPrintMessage());
    first = std::clamp(first, 0, pages - 1);
    last = std::clamp(last, first, pages - 1);
    copies = std::max(1, copies);
    const qint64 total = qint64(last - first + 1) * copies;

    FileResult result;
    if (progress && !progress(0, total)) {
        result.status = FileStatus::Cancelled;
        return result;
    }

    // A4 portrait, with no margins where the device allows it (a printer may
    // keep its own); the painting origin is moved to the paper's corner below.
    if (!device.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)))) {
        device.setPageSize(QPageSize(QPageSize::A4));
        device.setPageOrientation(QPageLayout::Portrait);
    }
    QPainter painter;
    if (!painter.begin(&device))
        return FailedResult(QStringLiteral("The printer or file could not be opened for printing"));
    const QPageLayout layout = device.pageLayout();
    const double xScale = device.logicalDpiX() / 72.0;
    const double yScale = device.logicalDpiY() / 72.0;
    const QRectF full = layout.fullRect(QPageLayout::Point);
    const QRectF paint = layout.paintRect(QPageLayout::Point);
    const QRectF paper(-paint.left() * xScale, -paint.top() * yScale, full.width() * xScale,
                       full.height() * yScale);

    qint64 done = 0;
    for (int copy = 0; copy < copies; ++copy) {
        for (int page = first; page <= last; ++page) {
            if (done > 0 && !device.newPage()) {
                painter.end();
                return FailedResult(QStringLiteral("The printer did not take the next page"));
            }
            PaintPage(painter, page, paper);
            ++done;
            if (progress && !progress(done, total)) {
                painter.end();
                result.status = FileStatus::Cancelled;
                return result;
            }
        }
    }
    if (!painter.end())
        return FailedResult(QStringLiteral("The printer could not finish the report"));
    result.rows = std::min(rows_, (last + 1) * kRowsPerPage) - first * kRowsPerPage;
    return result;
}

} // namespace orvex
