#include "app/ReportPreview.h"

#include "app/Dialogs.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QPrinter>
#include <QProgressDialog>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

namespace orvex {
namespace {

constexpr double kGap = 16.0; // pixels around and between the pages

// Qt's own print-preview pictures, unless the desktop's icon theme has its own.
QIcon PreviewIcon(const char* theme, const char* picture) {
    QIcon fallback;
    const QString base =
        QStringLiteral(":/qt-project.org/dialogs/qprintpreviewdialog/images/%1-%2.png")
            .arg(QString::fromLatin1(picture));
    fallback.addFile(base.arg(24), QSize(24, 24));
    fallback.addFile(base.arg(32), QSize(32, 32));
    return QIcon::fromTheme(QString::fromLatin1(theme), fallback);
}

// A progress dialog for printing: it appears when printing takes a while, lets
// the event loop run (the link and recording go on) and cancels on request.
class TPrintProgress {
  public:
    explicit TPrintProgress(QWidget* parent) : parent_(parent) {}

    bool operator()(qint64 done, qint64 total) {
        if (!dialog_) {
            dialog_ =
                std::make_unique<QProgressDialog>(QString(), QStringLiteral("Cancel"), 0,
                                                  int(std::min<qint64>(total, INT_MAX)), parent_);
            dialog_->setObjectName(QStringLiteral("PrintProgress"));
            dialog_->setWindowTitle(QStringLiteral("Printing"));
            dialog_->setWindowModality(Qt::WindowModal);
            dialog_->setMinimumDuration(300);
            dialog_->setAutoClose(false);
            dialog_->setAutoReset(false);
        }
        dialog_->setLabelText(
            QStringLiteral("Printing page %1 of %2").arg(std::min(done + 1, total)).arg(total));
        dialog_->setValue(int(std::min<qint64>(done, INT_MAX)));
        QApplication::processEvents();
        return !dialog_->wasCanceled();
    }

  private:
    QWidget* parent_;
    std::unique_ptr<QProgressDialog> dialog_;
};

} // namespace

// ---- the page view ----------------------------------------------------------------

TReportPageView::TReportPageView(const TDataReport& report, QWidget* parent)
    : QAbstractScrollArea(parent), report_(report) {
    setObjectName(QStringLiteral("ReportPages"));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    updateScrollBars();
}

double TReportPageView::pixelsPerMm() const {
    return viewport()->logicalDpiX() / 25.4;
}

QSizeF TReportPageView::pageSize() const {
    const double k = pixelsPerMm() * zoom_;
    return {report::kPaperWidth * k, report::kPaperHeight * k};
}

double TReportPageView::pitch() const {
    return pageSize().height() + kGap;
}

QRectF TReportPageView::pageRect(int page) const {
    const QSizeF size = pageSize();
    const double x =
        std::max(kGap, (viewport()->width() - size.width()) / 2) - horizontalScrollBar()->value();
    const double y = kGap + page * pitch() - verticalScrollBar()->value();
    return {QPointF(x, y), size};
}

int TReportPageView::currentPage() const {
    const int pages = pageCount();
    if (pages == 0) return 0;
    // The first of the pages that show most of themselves.
    const double top = verticalScrollBar()->value();
    const double height = viewport()->height();
    const double p = pitch();
    auto shown = [&](int page) {
        const double pageTop = kGap + page * p;
        return std::min(pageTop + pageSize().height(), top + height) - std::max(pageTop, top);
    };
    int first = std::clamp(int((top - kGap) / p), 0, pages - 1);
    int best = first;
    double bestShown = -1;
    for (int page = first; page < pages; ++page) {
        if (kGap + page * p > top + height) break;
        if (const double s = shown(page); s > bestShown + 0.5) {
            bestShown = s;
            best = page;
        }
    }
    // Zoomed out, the last pages cannot be scrolled to the top of the view: the
    // page gone to stays current while it shows as much of itself as any.
    if (chosen_ >= 0 && chosen_ < pages && shown(chosen_) >= bestShown - 0.5) return chosen_;
    return best;
}

void TReportPageView::setCurrentPage(int page) {
    if (pageCount() == 0) return;
    page = std::clamp(page, 0, pageCount() - 1);
    chosen_ = page;
    verticalScrollBar()->setValue(int(std::min(page * pitch(), double(INT_MAX))));
    noteCurrentPage();
}

void TReportPageView::setZoom(double factor) {
    // The scroll range is an int: a very long report gets a lower largest zoom.
    const double fits = ((INT_MAX - kGap) / std::max(1, pageCount()) - kGap) /
                        (report::kPaperHeight * pixelsPerMm());
    factor = std::clamp(factor, kMinZoom, std::max(kMinZoom, std::min(kMaxZoom, fits)));
    if (std::abs(factor - zoom_) < 1e-9) return;
    // Keep the place in the middle of the view where it is.
    const double oldPitch = pitch();
    const double middle = verticalScrollBar()->value() + viewport()->height() / 2.0;
    const double ratio = middle / oldPitch;
    zoom_ = factor;
    updateScrollBars();
    verticalScrollBar()->setValue(
        int(std::clamp(ratio * pitch() - viewport()->height() / 2.0, 0.0, double(INT_MAX))));
    viewport()->update();
    emit zoomChanged(zoom_);
    noteCurrentPage();
}

void TReportPageView::setZoomFactor(double factor) {
    mode_ = ZoomMode::Custom;
    setZoom(factor);
}

void TReportPageView::setZoomMode(ZoomMode mode) {
    mode_ = mode;
    applyFitMode();
}

void TReportPageView::zoomIn() {
    setZoomFactor(zoom_ * 1.25);
}

void TReportPageView::zoomOut() {
    setZoomFactor(zoom_ / 1.25);
}

void TReportPageView::applyFitMode() {
    if (mode_ == ZoomMode::Custom) return;
    const double k = pixelsPerMm();
    const double byWidth = (viewport()->width() - 2 * kGap) / (report::kPaperWidth * k);
    const double byHeight = (viewport()->height() - 2 * kGap) / (report::kPaperHeight * k);
    const int page = currentPage();
    setZoom(mode_ == ZoomMode::FitWidth ? byWidth : std::min(byWidth, byHeight));
    if (mode_ == ZoomMode::FitPage) setCurrentPage(page);
}

void TReportPageView::updateScrollBars() {
    const QSizeF size = pageSize();
    const double contentHeight = kGap + pageCount() * pitch();
    const double contentWidth = size.width() + 2 * kGap;
    const int vh = viewport()->height();
    const int vw = viewport()->width();
    verticalScrollBar()->setRange(0, int(std::clamp(contentHeight - vh, 0.0, double(INT_MAX))));
    verticalScrollBar()->setPageStep(std::max(1, vh));
    verticalScrollBar()->setSingleStep(std::max(1, int(size.height() / 20)));
    horizontalScrollBar()->setRange(0, int(std::max(0.0, contentWidth - vw)));
    horizontalScrollBar()->setPageStep(std::max(1, vw));
    horizontalScrollBar()->setSingleStep(20);
}

void TReportPageView::noteCurrentPage() {
    const int page = currentPage();
    if (page == lastCurrent_) return;
    lastCurrent_ = page;
    emit currentPageChanged(page);
}

void TReportPageView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Dark));
    const int pages = pageCount();
    if (pages == 0) return;
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    const double top = verticalScrollBar()->value();
    const double p = pitch();
    for (int page = std::max(0, int((top - kGap) / p)); page < pages; ++page) {
        const QRectF paper = pageRect(page);
        if (paper.top() > viewport()->height()) break;
        if (!paper.intersects(QRectF(event->rect()))) continue;
        painter.fillRect(paper.translated(3, 3), QColor(0, 0, 0, 90)); // shadow
        painter.fillRect(paper, Qt::white);
        report_.PaintPage(painter, page, paper);
        ++pagesPainted_;
    }
}

void TReportPageView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    applyFitMode();
}

void TReportPageView::scrollContentsBy(int, int) {
    viewport()->update();
    noteCurrentPage();
}

void TReportPageView::wheelEvent(QWheelEvent* event) {
    if (event->modifiers() & Qt::ControlModifier) {
        const int steps = event->angleDelta().y() / 120;
        if (steps > 0) zoomIn();
        if (steps < 0) zoomOut();
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

// ---- the dialog -------------------------------------------------------------------

TReportPreview::TReportPreview(const TDataReport& report, IDialogs& dialogs, QWidget* parent)
    : QDialog(parent), report_(report), dialogs_(dialogs) {
    setObjectName(QStringLiteral("ReportPreview"));
    setWindowTitle(QStringLiteral("Print Preview"));
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setModal(true);

    view_ = new TReportPageView(report_, this);
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("PreviewToolbar"));
    bar->setIconSize(QSize(24, 24));

    auto add = [&](const char* name, const QString& text, const QIcon& icon, auto slot) {
        QAction* a = bar->addAction(icon, text);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };

    fitWidth_ = add("fitWidthAction", QStringLiteral("Fit width"),
                    PreviewIcon("zoom-fit-width", "zoom-fit-width"),
                    [this] { view_->setZoomMode(TReportPageView::ZoomMode::FitWidth); });
    fitPage_ = add("fitPageAction", QStringLiteral("Fit page"),
                   PreviewIcon("zoom-fit-best", "zoom-fit-page"),
                   [this] { view_->setZoomMode(TReportPageView::ZoomMode::FitPage); });
    auto* fits = new QActionGroup(this);
    for (QAction* a : {fitWidth_, fitPage_}) {
        a->setCheckable(true);
        fits->addAction(a);
    }
    fits->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    fitWidth_->setChecked(true);

    zoomBox_ = new QComboBox(bar);
    zoomBox_->setObjectName(QStringLiteral("zoomFactor"));
    zoomBox_->setEditable(true);
    zoomBox_->setInsertPolicy(QComboBox::NoInsert);
    for (const char* z : {"12.5%", "25%", "50%", "75%", "100%", "125%", "150%", "200%", "400%"})
        zoomBox_->addItem(QString::fromLatin1(z));
    zoomBox_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("\\d{1,3}([.,]\\d{0,2})?%?")), zoomBox_));
    zoomBox_->setMinimumContentsLength(6);
    connect(zoomBox_, &QComboBox::textActivated, this, [this] { zoomTextEdited(); });
    connect(zoomBox_->lineEdit(), &QLineEdit::editingFinished, this, [this] { zoomTextEdited(); });
    add("zoomOutAction", QStringLiteral("Zoom out"), PreviewIcon("zoom-out", "zoom-out"),
        [this] { view_->zoomOut(); });
    bar->addWidget(zoomBox_);
    add("zoomInAction", QStringLiteral("Zoom in"), PreviewIcon("zoom-in", "zoom-in"),
        [this] { view_->zoomIn(); });
    bar->addSeparator();

    add("firstPageAction", QStringLiteral("First page"), PreviewIcon("go-first", "go-first"),
        [this] { view_->setCurrentPage(0); });
    add("prevPageAction", QStringLiteral("Previous page"),
        PreviewIcon("go-previous", "go-previous"),
        [this] { view_->setCurrentPage(view_->currentPage() - 1); });
    pageEdit_ = new QLineEdit(bar);
    pageEdit_->setObjectName(QStringLiteral("pageNumEdit"));
    pageEdit_->setAlignment(Qt::AlignRight);
    pageEdit_->setValidator(new QIntValidator(1, std::max(1, report_.pageCount()), pageEdit_));
    const int digits = int(QString::number(std::max(1, report_.pageCount())).size());
    pageEdit_->setFixedWidth(pageEdit_->fontMetrics().horizontalAdvance(QString(digits + 1, '0')) +
                             12);
    connect(pageEdit_, &QLineEdit::editingFinished, this, [this] { pageNumberEdited(); });
    pageCountLabel_ = new QLabel(QStringLiteral(" / %1 ").arg(report_.pageCount()), bar);
    pageCountLabel_->setObjectName(QStringLiteral("pageNumLabel"));
    bar->addWidget(pageEdit_);
    bar->addWidget(pageCountLabel_);
    add("nextPageAction", QStringLiteral("Next page"), PreviewIcon("go-next", "go-next"),
        [this] { view_->setCurrentPage(view_->currentPage() + 1); });
    add("lastPageAction", QStringLiteral("Last page"), PreviewIcon("go-last", "go-last"),
        [this] { view_->setCurrentPage(view_->pageCount() - 1); });
    bar->addSeparator();
    add("printAction", QStringLiteral("Print"), PreviewIcon("document-print", "printer"),
        [this] { PrintReport(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(view_, 1);

    connect(view_, &TReportPageView::currentPageChanged, this,
            [this](int page) { showPageNumber(page); });
    connect(view_, &TReportPageView::zoomChanged, this, [this](double z) { showZoom(z); });
    showPageNumber(view_->currentPage());
    showZoom(view_->zoomFactor());

    // A page wide, as high as the screen allows.
    QSize size(820, 1000);
    if (const QScreen* screen = parent ? parent->screen() : QApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(size);
    view_->setFocus();
}

TReportPreview::~TReportPreview() = default;

void TReportPreview::showPageNumber(int page) {
    pageEdit_->setText(QString::number(page + 1));
}

void TReportPreview::showZoom(double factor) {
    zoomBox_->setEditText(
        QString::number(factor * 100, 'f', 1).remove(QRegularExpression(QStringLiteral("\\.0$"))) +
        QLatin1Char('%'));
    fitWidth_->setChecked(view_->zoomMode() == TReportPageView::ZoomMode::FitWidth);
    fitPage_->setChecked(view_->zoomMode() == TReportPageView::ZoomMode::FitPage);
}

void TReportPreview::pageNumberEdited() {
    bool ok = false;
    const int page = pageEdit_->text().toInt(&ok);
    if (ok) view_->setCurrentPage(page - 1);
    showPageNumber(view_->currentPage());
}

void TReportPreview::zoomTextEdited() {
    QString text = zoomBox_->currentText();
    text.remove(QLatin1Char('%')).replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double percent = text.toDouble(&ok);
    if (ok && percent > 0) view_->setZoomFactor(percent / 100.0);
    showZoom(view_->zoomFactor());
}

PrintPages PagesToPrint(const QPrinter& printer, int pageCount, int current) {
    PrintPages pages{0, std::max(0, pageCount - 1)};
    switch (printer.printRange()) {
    case QPrinter::PageRange:
        if (printer.fromPage() > 0) {
            pages.first = std::clamp(printer.fromPage() - 1, 0, pages.last);
            pages.last = std::clamp(printer.toPage() > 0 ? printer.toPage() - 1 : pages.last,
                                    pages.first, pages.last);
        }
        break;
    case QPrinter::CurrentPage:
        pages.first = pages.last = std::clamp(current, 0, pages.last);
        break;
    default:
        break;
    }
    return pages;
}

void TReportPreview::PrintReport() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setDocName(QStringLiteral("Data Report")); // the print queue's name for it
    printer.setCreator(QStringLiteral("Orvex Interface"));
    if (!dialogs_.AskPrinter(this, printer, report_.pageCount())) return;
    const PrintPages pages = PagesToPrint(printer, report_.pageCount(), view_->currentPage());

    TPrintProgress progress(this);
    FileResult r;
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        // A PDF file replaces an older one only once it is complete.
        r = SaveReportPdf(report_, printer.outputFileName(), pages.first, pages.last,
                          std::ref(progress));
    } else {
        printer.setFullPage(true);
        const int copies = printer.supportsMultipleCopies() ? 1 : printer.copyCount();
        r = report_.Print(
            printer, pages.first, pages.last,
            [&](qint64 done, qint64 total) {
                if (progress(done, total)) return true;
                printer.abort(); // the job is dropped, not sent half-done
                return false;
            },
            copies);
    }
    if (r.failed())
        dialogs_.ShowError(this,
                           QStringLiteral("The report could not be printed: %1").arg(r.error));
}

} // namespace orvex
