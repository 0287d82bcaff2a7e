#include "chart/TChartView.h"

#include "chart/ChartCommands.h"

#include <QComboBox>
#include <QPainter>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvex {

namespace {

// A graph whose line is clipped to a little more than the visible values before
// it is drawn.  Far-off points (a page recorded in another range than the one the
// vertical axis now shows) would otherwise give the raster engine an area
// polygon many times the plot's height, and the antialiased fill of such a
// polygon takes time in proportion: up to seconds for a page a thousand times
// off scale.  Inside the band, and so inside the plot, nothing changes.
class TBandClippedGraph : public QCPGraph {
  public:
    using QCPGraph::QCPGraph;

  protected:
    void getOptimizedLineData(QVector<QCPGraphData>* lineData,
                              const QCPGraphDataContainer::const_iterator& begin,
                              const QCPGraphDataContainer::const_iterator& end) const override {
        QCPGraph::getOptimizedLineData(lineData, begin, end);
        const QCPRange shown = valueAxis()->range();
        // A twentieth of the plot beyond each edge keeps the clipped edges and
        // their antialiasing well outside the plot.
        const double margin = shown.size() / 20;
        ClipToValueBand(*lineData, shown.lower - margin, shown.upper + margin);
    }
};

// Four minor ticks between major ticks, whatever the tick step.
class FourSubTicks : public QCPAxisTicker {
  protected:
    int getSubTickCount(double) override { return 4; }
};

} // namespace

void ClipToValueBand(QVector<QCPGraphData>& points, double lower, double upper) {
    auto outside = [&](double v) { return v < lower || v > upper; };
    bool any = false;
    for (const QCPGraphData& p : points)
        any = any || outside(p.value);
    if (!any) return;
    QVector<QCPGraphData> clipped;
    clipped.reserve(points.size() + points.size() / 2);
    // Adds the points where the segment a -> b crosses the band's edges, in order.
    auto crossings = [&](const QCPGraphData& a, const QCPGraphData& b) {
        if (std::isnan(a.value) || std::isnan(b.value)) return;
        auto at = [&](double edge) {
            const double t = (edge - a.value) / (b.value - a.value);
            clipped.append(QCPGraphData(a.key + t * (b.key - a.key), edge));
        };
        const bool rising = b.value > a.value;
        const double first = rising ? lower : upper;
        const double second = rising ? upper : lower;
        auto between = [&](double edge) {
            return (a.value - edge) * (b.value - edge) < 0; // strictly on both sides
        };
        if (between(first)) at(first);
        if (between(second)) at(second);
    };
    for (int i = 0; i < points.size(); ++i) {
        if (i > 0) crossings(points[i - 1], points[i]);
        QCPGraphData p = points[i];
        if (!std::isnan(p.value)) p.value = std::clamp(p.value, lower, upper);
        clipped.append(p);
    }
    points.swap(clipped);
}

TChartView::TChartView(QWidget* parent) : QCustomPlot(parent) {
    setObjectName(QStringLiteral("Chtshow"));
    setGeometry(336, 204, 376, 269);

    QPalette pal = palette();
    pal.setColor(QPalette::Window, kPanelColor);
    setPalette(pal);
    setAutoFillBackground(true);

    QLinearGradient gradient(0, 0, 0, 1);
    gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
    gradient.setColorAt(0, QColor(192, 192, 192));
    gradient.setColorAt(1, Qt::white);
    setBackground(QBrush(gradient));
    axisRect()->setBackground(Qt::white);

    // The title: one line of two blanks.
    plotLayout()->insertRow(0);
    auto* title = new QCPTextElement(this, QStringLiteral("  "));
    title->setObjectName(QStringLiteral("title"));
    plotLayout()->addElement(0, 0, title);

    legend->setVisible(false);
    setInteractions(QCP::Interactions());
    // The series are drawn on a layer of their own, which gets its own paint
    // buffer with the first new point (see Redraw): from then on a new point that
    // moves no axis redraws only them.  Until then the whole chart shares one
    // buffer, as nothing is drawn on the overlay layer (no selection, no
    // interaction) either: the first picture of the window clears and blends one
    // buffer instead of three.
    addLayer(QStringLiteral("series"), layer(QStringLiteral("main")), limAbove);
    seriesLayer_ = layer(QStringLiteral("series"));
    seriesLayer_->setMode(QCPLayer::lmLogical);
    if (QCPLayer* overlay = layer(QStringLiteral("overlay"))) overlay->setMode(QCPLayer::lmLogical);

    xAxis->setLabel(QStringLiteral("Record Number"));
    yAxis->setLabel(QStringLiteral("Value"));
    yAxis->setBasePen(QPen(kLeftAxisLine, 1, Qt::DashLine));
    yAxis->setTicker(QSharedPointer<QCPAxisTicker>(new FourSubTicks));
    yAxis->setTickLengthIn(0);
    yAxis->setTickLengthOut(3);
    yAxis->setSubTickLengthIn(0);
    yAxis->setSubTickLengthOut(3);
    yAxis->setRange(-2200, 2200);

    auto* area = new TBandClippedGraph(xAxis, yAxis);
    area->setName(QStringLiteral("Series2"));
    area->setPen(QPen(kAreaOutline));
    area->setBrush(QBrush(kAreaFill));
    area->setLineStyle(QCPGraph::lsLine);
    area->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    area->setLayer(seriesLayer_);

    auto* line = new TBandClippedGraph(xAxis, yAxis);
    line->setName(QStringLiteral("Series1"));
    line->setPen(QPen(kLinePen));
    line->setBrush(Qt::NoBrush);
    line->setLineStyle(QCPGraph::lsLine);
    line->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    line->setLayer(seriesLayer_);

    facility_ = std::make_unique<QcpChartFacility>(*this, std::vector<QCPGraph*>{area, line});
    facility_->SetChangeHandler([this](bool pointsOnly) {
        if (!pointsOnly) layoutDirty_ = true;
        Changed();
    });
    ShowSeries(0);

    comboBox1_ = new QComboBox(this);
    comboBox1_->setObjectName(QStringLiteral("ComboBox1"));
    comboBox1_->addItems({QStringLiteral("atile"), QStringLiteral("btile")});
    comboBox1_->setCurrentIndex(0);
    comboBox1_->hide();
    // ComboBox1Change: only a user's choice runs it, never a programmatic one.
    connect(comboBox1_, &QComboBox::activated, this, [this](int index) { ShowSeries(index); });

    UpdateMargins();

    for (QCPAxis* axis : axisRect()->axes()) {
        pens_.emplace_back([axis](const QPen& p) { axis->setBasePen(p); }, axis->basePen());
        pens_.emplace_back([axis](const QPen& p) { axis->setTickPen(p); }, axis->tickPen());
        pens_.emplace_back([axis](const QPen& p) { axis->setSubTickPen(p); }, axis->subTickPen());
        QCPGrid* grid = axis->grid();
        pens_.emplace_back([grid](const QPen& p) { grid->setPen(p); }, grid->pen());
        pens_.emplace_back([grid](const QPen& p) { grid->setSubGridPen(p); }, grid->subGridPen());
        pens_.emplace_back([grid](const QPen& p) { grid->setZeroLinePen(p); }, grid->zeroLinePen());
    }
    for (QCPGraph* graph : {area, line})
        pens_.emplace_back([graph](const QPen& p) { graph->setPen(p); }, graph->pen());
    ScalePens(devicePixelRatioF());
}

TChartView::~TChartView() = default;

// QCustomPlot draws pens of width 0 and 1 one device pixel wide, so on a
// high-density screen (device pixel ratio 2) the chart's lines would be half as
// thick as everything else in the window. There each pen becomes a cosmetic pen
// of its width in window pixels times the ratio; at a ratio of 1 the pens stay
// as they were set.
void TChartView::ScalePens(qreal ratio) {
    penRatio_ = ratio;
    for (const auto& [apply, pen] : pens_) {
        if (qFuzzyCompare(ratio, 1.0)) {
            apply(pen);
            continue;
        }
        QPen scaled = pen;
        scaled.setCosmetic(true);
        scaled.setWidthF(qMax<qreal>(1.0, pen.widthF()) * ratio);
        apply(scaled);
    }
}

void TChartView::ShowSeries(int index) {
    for (int i = 0; i < facility_->SeriesCount(); ++i)
        facility_->Series(i).SetVisible(false);
    if (index >= 0 && index < facility_->SeriesCount()) facility_->Series(index).SetVisible(true);
}

int TChartView::ShownSeries() const {
    for (int i = 0; i < facility_->SeriesCount(); ++i)
        if (facility_->Series(i).Visible()) return i;
    return -1;
}

void TChartView::BtNewClick(bool btFillChecked) {
    NewWithSample(btFillChecked, QRandomGenerator::global()->bounded(1000));
}

void TChartView::NewWithSample(bool btFillChecked, double sample) {
    // Every series is emptied before any gets the sample: a series given it while
    // another still held the old points would follow their storage when the
    // sample equals the first of them, and go on showing them all.
    for (int i = 0; i < facility_->SeriesCount(); ++i)
        facility_->Series(i).Clear();
    // One sample value for all series, so they keep sharing their storage.
    for (int i = 0; i < facility_->SeriesCount(); ++i)
        facility_->Series(i).Add(0.0, sample);
    comboBox1_->setCurrentIndex(0);
    ShowSeries(0);
    ShowSeries(SeriesForFill(btFillChecked));
}

QImage TChartView::RenderImage() {
    QImage image(qMax(1, width()), qMax(1, height()), QImage::Format_RGB32);
    image.fill(Qt::white);
    // The bitmap has one pixel per window pixel, whatever the screen's density.
    const qreal screenRatio = penRatio_;
    if (!qFuzzyCompare(screenRatio, 1.0)) ScalePens(1.0);
    QCPPainter painter(&image);
    toPainter(&painter, width(), height());
    painter.end();
    if (!qFuzzyCompare(screenRatio, 1.0)) ScalePens(screenRatio);
    return image;
}

bool TChartView::SaveBitmap(const QString& path, QString* errorText) {
    const QImage image = RenderImage();
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly) && image.save(&file, "BMP") && file.commit();
    if (!ok) {
        if (errorText) *errorText = CannotCreateFileText(path, file.errorString());
        file.cancelWriting();
    }
    return ok;
}

void TChartView::UpdateMargins() {
    // Left 1 %, top 0 %, bottom 1 % of the panel; the right keeps 3 %.
    plotLayout()->setMargins(QMargins(width() / 100, 0, width() * 3 / 100, height() / 100));
}

void TChartView::resizeEvent(QResizeEvent*) {
    UpdateMargins();
    setViewport(rect());
    // Shown, the new size is drawn at once (as the plot itself does); hidden, when
    // the chart is shown.
    if (isVisible()) {
        replot(rpQueuedRefresh);
        dirty_ = false;
    } else {
        dirty_ = true;
        layoutDirty_ = true;
    }
}

void TChartView::showEvent(QShowEvent* event) {
    QCustomPlot::showEvent(event);
    if (dirty_) Redraw();
}

void TChartView::SetRedrawScheduler(std::function<void()> schedule) {
    scheduler_ = std::move(schedule);
}

void TChartView::Changed() {
    dirty_ = true;
    if (scheduler_) {
        scheduler_();
        return;
    }
    if (queued_) return;
    queued_ = true;
    QTimer::singleShot(0, this, [this] {
        queued_ = false;
        Redraw();
    });
}

void TChartView::Redraw() {
    if (!dirty_ || !isVisible()) return;
    dirty_ = false;
    // Drawn into the plot's buffers now; the widget is painted with the others.
    // When only the series changed, only their layer is drawn again (QCustomPlot
    // draws everything when its buffers are not up to date).
    bool everything = std::exchange(layoutDirty_, false);
    if (!everything && seriesLayer_->mode() != QCPLayer::lmBuffered) {
        seriesLayer_->setMode(QCPLayer::lmBuffered);
        everything = true; // the new buffer is filled by a full drawing
    }
    if (everything)
        replot(rpQueuedRefresh);
    else
        seriesLayer_->replot();
}

void TChartView::paintEvent(QPaintEvent* event) {
    // Moved to a screen of another density: QCustomPlot renews its buffers, the
    // lines take their widths for the new screen.
    if (!qFuzzyCompare(devicePixelRatioF(), penRatio_)) {
        ScalePens(devicePixelRatioF());
        replot(rpQueuedReplot);
    }
    if (!qFuzzyCompare(bufferDevicePixelRatio(), devicePixelRatioF())) {
        QCustomPlot::paintEvent(event); // renews the buffers and queues their drawing
        return;
    }
    // What QCustomPlot's own paint event does, with the background and the border
    // copied from one picture instead of a gradient fill and five lines at every
    // refresh.  Nothing of the plot reaches the border: the layout keeps within it.
    QCPPainter painter(this);
    if (!painter.isActive()) return;
    painter.drawPixmap(0, 0, Frame());
    for (const QSharedPointer<QCPAbstractPaintBuffer>& buffer : std::as_const(mPaintBuffers))
        buffer->draw(&painter);
}

const QPixmap& TChartView::Frame() {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (frame_.size() == pixels && qFuzzyCompare(frame_.devicePixelRatio(), ratio)) return frame_;
    frame_ = QPixmap(pixels);
    frame_.setDevicePixelRatio(ratio);
    QPainter p(&frame_);
    p.fillRect(rect(), mBackgroundBrush);
    // Single border, then a lowered inner bevel in the panel colour.
    const QRect r = rect();
    p.setPen(Qt::black);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    const QRect inner = r.adjusted(1, 1, -2, -2);
    p.setPen(kPanelColor.darker(150));
    p.drawLine(inner.topLeft(), inner.topRight());
    p.drawLine(inner.topLeft(), inner.bottomLeft());
    p.setPen(kPanelColor.lighter(115));
    p.drawLine(inner.bottomLeft(), inner.bottomRight());
    p.drawLine(inner.topRight(), inner.bottomRight());
    return frame_;
}

} // namespace orvex
