#pragma once
// The print preview of the report: the pages one below the other in a scrolling
// view, zoom and paging in a toolbar, and "Print", which asks for the printer
// (or a PDF file) and prints with a progress dialog that can cancel.
//
// Pages are drawn when they come into view, straight from the report: opening
// the preview of 100,000 rows (2,858 pages) costs what opening one page costs,
// and nothing is kept per page. While the preview or a print runs, the event loop
// runs, so the window's link and recording go on.

#include "files/report/DataReport.h"

#include <QAbstractScrollArea>
#include <QDialog>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPrinter;

namespace orvex {

class IDialogs;

// The scrolling page view ("ReportPages").
class TReportPageView : public QAbstractScrollArea {
    Q_OBJECT
  public:
    enum class ZoomMode { FitWidth, FitPage, Custom };
    static constexpr double kMinZoom = 0.1;
    static constexpr double kMaxZoom = 4.0;

    explicit TReportPageView(const TDataReport& report, QWidget* parent = nullptr);

    int pageCount() const { return report_.pageCount(); }
    // The page in the middle of the view (0-based).
    int currentPage() const;
    // Scrolls so that the page's top is at the top of the view.
    void setCurrentPage(int page);

    // 1.0 shows the paper at its real size on the screen.
    double zoomFactor() const { return zoom_; }
    void setZoomFactor(double factor); // leaves the fit modes
    ZoomMode zoomMode() const { return mode_; }
    void setZoomMode(ZoomMode mode);
    void zoomIn();
    void zoomOut();

    // Pages drawn so far (a page drawn twice counts twice).
    int pagesPainted() const { return pagesPainted_; }
    // The page's rectangle in viewport coordinates.
    QRectF pageRect(int page) const;

  signals:
    void currentPageChanged(int page);
    void zoomChanged(double factor);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    double pixelsPerMm() const; // at zoom 1
    QSizeF pageSize() const;    // pixels at the current zoom
    double pitch() const;       // page height plus the gap
    void applyFitMode();
    void updateScrollBars();
    void noteCurrentPage();
    void setZoom(double factor);

    const TDataReport& report_;
    double zoom_ = 1.0;
    ZoomMode mode_ = ZoomMode::FitWidth;
    int lastCurrent_ = -1;
    int chosen_ = -1; // the page last gone to (First, Previous, Next, Last, the page box)
    int pagesPainted_ = 0;
};

class TReportPreview : public QDialog {
    Q_OBJECT
  public:
    // The preview of `report`; "Print" asks `dialogs` for the printer.
    TReportPreview(const TDataReport& report, IDialogs& dialogs, QWidget* parent = nullptr);
    ~TReportPreview() override;

    TReportPageView* pageView() const { return view_; }
    const TDataReport& report() const { return report_; }

    // "Print": the print dialog, then the chosen pages to the printer or to a
    // PDF file (written atomically), with a progress dialog that can cancel.
    void PrintReport();

  private:
    void showPageNumber(int page);
    void showZoom(double factor);
    void pageNumberEdited();
    void zoomTextEdited();

    const TDataReport& report_;
    IDialogs& dialogs_;
    TReportPageView* view_;
    QLineEdit* pageEdit_;
    QLabel* pageCountLabel_;
    QComboBox* zoomBox_;
    QAction* fitWidth_;
    QAction* fitPage_;
};

// The print dialog's answer applied: which pages (0-based, inclusive) of a report
// of `pageCount` pages the printer asks for, `current` being the preview's page.
struct PrintPages {
    int first = 0;
    int last = 0;
};
PrintPages PagesToPrint(const QPrinter& printer, int pageCount, int current);

} // namespace orvex
