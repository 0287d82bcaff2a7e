// The chart on a high-density screen: its lines are as thick, in window pixels,
// as on an ordinary one. CTest runs these cases twice: at the screen's own
// scale and under QT_SCALE_FACTOR=2 (chart_density_scale2).
#include "chart/TChartView.h"

#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

using namespace orvex;

namespace {

// Width in device pixels of a horizontal line of colour `ink` on white, read
// down the image's middle column: each pixel counts by how far it is from white
// towards the ink (so an antialiased line spread over two rows counts once).
double LineWidthAt(const QImage& image, int x, QColor ink, int fromY, int toY) {
    double width = 0;
    for (int y = fromY; y < toY; ++y) {
        const QColor c = image.pixelColor(x, y);
        const double coverage = double(255 - c.red()) / (255 - ink.red());
        if (c.green() >= ink.green() - 8 && coverage > 0.05) width += qMin(1.0, coverage);
    }
    return width;
}

TEST(ChartViewDensity, LinesKeepTheirWidthInWindowPixels) {
    TChartView view;
    view.resize(376, 269);
    view.ShowSeries(1); // the line series
    IChartSeries& line = view.Facility().Series(1);
    for (int x = 0; x <= 100; ++x)
        line.Add(x, 10);
    view.xAxis->setRange(0, 100);
    view.yAxis->setRange(-20, 20);
    view.show();
    view.replot();
    QApplication::processEvents();

    const QImage image = view.grab().toImage();
    const qreal ratio = view.devicePixelRatioF();
    ASSERT_EQ(image.width(), qRound(376 * ratio));
    // A column in the plot's middle.
    const QRect plot = view.axisRect()->rect();
    const int x = qRound((plot.left() + plot.width() * 0.55) * ratio);
    const int zeroY = qRound(view.yAxis->coordToPixel(0) * ratio);
    const int seriesY = qRound(view.yAxis->coordToPixel(10) * ratio);
    const int half = (zeroY - seriesY) / 2; // the grid lines are 10 apart: none in these bands

    // The series (a 1-pixel pen) at 10, the zero line (a hairline) at 0.
    EXPECT_NEAR(LineWidthAt(image, x, TChartView::kLinePen, seriesY - half, seriesY + half) / ratio,
                1.0, 0.3)
        << "series line at device pixel ratio " << ratio;
    EXPECT_NEAR(LineWidthAt(image, x, QColor(200, 200, 200), zeroY - half, zeroY + half) / ratio,
                1.0, 0.3)
        << "zero line at device pixel ratio " << ratio;
}

TEST(ChartViewDensity, BitmapHasOnePixelPerWindowPixel) {
    TChartView view;
    view.resize(376, 269);
    view.show();
    QApplication::processEvents();
    const QImage image = view.RenderImage();
    EXPECT_EQ(image.size(), QSize(376, 269));
    // The pens on screen are those of the screen's density again afterwards.
    const QPen shown = view.graph(0)->pen();
    EXPECT_NEAR(qMax<qreal>(1.0, shown.widthF()), view.devicePixelRatioF(), 0.01);
}

} // namespace
