// The chart Chtshow: a QCustomPlot with the program's look, two series
// (index 0 "Series2", filled area; index 1 "Series1", line) of which exactly
// one is shown, the chart part of "New", and drawing/saving as a bitmap.
#pragma once

#include "chart/QcpChartFacility.h"

#include <QImage>
#include <QString>
#include <functional>
#include <memory>
#include <qcustomplot.h>
#include <utility>
#include <vector>

class QComboBox;

namespace orvex {

// Clips a line of points (in key order) to the values lower ... upper: a point
// outside lies on the nearer edge, and where the line crosses an edge a point is
// added at the crossing, so the line and the area under it are unchanged inside
// the band.  Points without a value (NaN) stay as they are.
void ClipToValueBand(QVector<QCPGraphData>& points, double lower, double upper);

class TChartView : public QCustomPlot {
    Q_OBJECT
  public:
    static inline const QColor kPanelColor{192, 221, 248};
    static inline const QColor kAreaFill{255, 255, 128};
    static inline const QColor kAreaOutline{0, 128, 255};
    static inline const QColor kLinePen{128, 255, 0};
    static inline const QColor kLeftAxisLine{0, 64, 128};

    explicit TChartView(QWidget* parent = nullptr);
    ~TChartView() override;

    // The facility TChartControl drives (series 0 area, series 1 line).
    IChartFacility& Facility() { return *facility_; }

    // Hides every series, then shows the one with this index (an index out of
    // range leaves every series hidden).
    void ShowSeries(int index);
    // Index of the shown series, -1 when none is shown.
    int ShownSeries() const;

    // The chart part of "New": every series is emptied and gets one random
    // sample point at X = 0; ComboBox1 goes to its first item; then the area
    // series is shown when BtFill is checked, else the line. The pager is not
    // told: its page, browsing state and the bottom axis stay.
    void BtNewClick(bool btFillChecked);
    // New with the given sample value (BtNewClick draws it at random).
    void NewWithSample(bool btFillChecked, double sample);

    // The brush behind the whole chart (the silver-to-white gradient).
    QBrush BackgroundBrush() const { return mBackgroundBrush; }

    // The hidden series selector "ComboBox1" (items "atile", "btile").
    QComboBox* ComboBox1() const { return comboBox1_; }

    // Owner-driven drawing: `schedule` is called whenever what the chart shows
    // changed; the owner then calls Redraw().  Without one the chart draws on the
    // next turn of the event loop.
    void SetRedrawScheduler(std::function<void()> schedule);
    // Draws the chart if it changed since it was last drawn; nothing while hidden
    // (it draws when shown).
    void Redraw();
    bool RedrawPending() const { return dirty_; }

    // Draws the chart at its current size onto a white image.
    QImage RenderImage();
    // Writes RenderImage() as a Windows BMP file. On failure returns false and
    // sets errorText to "Cannot create file "<path>". <reason>"; an existing
    // file is replaced only when the new one was written completely.
    bool SaveBitmap(const QString& path, QString* errorText);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void UpdateMargins();
    void Changed();
    // Gives every line of the chart its width in window pixels at this device
    // pixel ratio (see TChartView.cpp).
    void ScalePens(qreal ratio);
    // The gradient behind the chart with the border over it, at the widget's size
    // and pixel ratio.
    const QPixmap& Frame();

    std::unique_ptr<QcpChartFacility> facility_;
    // The chart's pens as set for a ratio of 1, with where each one goes.
    std::vector<std::pair<std::function<void(const QPen&)>, QPen>> pens_;
    qreal penRatio_ = 1.0;
    QPixmap frame_;
    QComboBox* comboBox1_ = nullptr;
    bool dirty_ = true;
    bool layoutDirty_ = true; // more than the series changed: everything is drawn again
    QCPLayer* seriesLayer_ = nullptr;
    bool queued_ = false;
    std::function<void()> scheduler_;
};

} // namespace orvex
