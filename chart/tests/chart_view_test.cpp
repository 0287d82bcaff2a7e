// The chart view Chtshow: its look, the series switch, "New", the
// enlarge/restore geometry applied to the real widget, and bitmap files.
#include "chart/ChartCommands.h"
#include "chart/TChartControl.h"
#include "chart/TChartView.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <utility>
#include <vector>

using namespace orvex;

namespace {

TEST(ChartViewLook, DesignProperties) {
    TChartView view;
    EXPECT_EQ(view.objectName(), "Chtshow");
    EXPECT_EQ(view.geometry(), QRect(336, 204, 376, 269));
    EXPECT_EQ(view.palette().color(QPalette::Window), QColor(192, 221, 248));

    const QGradient* gradient = view.BackgroundBrush().gradient();
    ASSERT_NE(gradient, nullptr);
    ASSERT_EQ(gradient->type(), QGradient::LinearGradient);
    const auto* linear = static_cast<const QLinearGradient*>(gradient);
    EXPECT_EQ(linear->start().x(), linear->finalStop().x()) << "gradient is not vertical";
    ASSERT_EQ(gradient->stops().size(), 2);
    EXPECT_EQ(gradient->stops().front().second, QColor(192, 192, 192));
    EXPECT_EQ(gradient->stops().back().second, QColor(Qt::white));
    EXPECT_EQ(view.axisRect()->backgroundBrush().color(), QColor(Qt::white));

    EXPECT_FALSE(view.legend->visible());
    EXPECT_EQ(view.interactions(), QCP::Interactions());
    EXPECT_EQ(view.xAxis->label(), "Record Number");
    EXPECT_EQ(view.yAxis->label(), "Value");
    EXPECT_DOUBLE_EQ(view.yAxis->range().lower, -2200);
    EXPECT_DOUBLE_EQ(view.yAxis->range().upper, 2200);

    const QPen axisPen = view.yAxis->basePen();
    EXPECT_EQ(axisPen.color(), QColor(0, 64, 128));
    EXPECT_EQ(axisPen.style(), Qt::DashLine);
    EXPECT_EQ(axisPen.width(), 1);
    EXPECT_EQ(view.yAxis->tickLengthOut(), 3);
    EXPECT_EQ(view.yAxis->subTickLengthOut(), 3);

    ASSERT_EQ(view.graphCount(), 2);
    EXPECT_EQ(view.graph(0)->name(), "Series2");
    EXPECT_EQ(view.graph(0)->brush().color(), QColor(255, 255, 128));
    EXPECT_EQ(view.graph(0)->pen().color(), QColor(0, 128, 255));
    EXPECT_EQ(view.graph(1)->name(), "Series1");
    EXPECT_EQ(view.graph(1)->pen().color(), QColor(128, 255, 0));
    EXPECT_EQ(view.graph(1)->brush().style(), Qt::NoBrush);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(view.graph(i)->scatterStyle().shape(), QCPScatterStyle::ssNone);
    EXPECT_EQ(view.ShownSeries(), 0);
    EXPECT_FALSE(view.graph(1)->visible());

    ASSERT_NE(view.ComboBox1(), nullptr);
    EXPECT_EQ(view.ComboBox1()->objectName(), "ComboBox1");
    EXPECT_EQ(view.ComboBox1()->count(), 2);
    EXPECT_EQ(view.ComboBox1()->itemText(0), "atile");
    EXPECT_EQ(view.ComboBox1()->itemText(1), "btile");
    EXPECT_TRUE(view.ComboBox1()->isHidden());
}

TEST(ChartViewLook, FourMinorTicksBetweenMajorTicks) {
    TChartView view;
    QVector<double> ticks;
    QVector<double> subTicks;
    view.yAxis->ticker()->generate(view.yAxis->range(), QLocale::c(), u'g', 6, ticks, &subTicks,
                                   nullptr);
    ASSERT_GE(ticks.size(), 2);
    for (int i = 0; i + 1 < ticks.size(); ++i) {
        const auto between = std::count_if(subTicks.begin(), subTicks.end(), [&](double s) {
            return s > ticks[i] && s < ticks[i + 1];
        });
        EXPECT_EQ(between, 4) << "between " << ticks[i] << " and " << ticks[i + 1];
    }
}

TEST(ChartViewSeries, ExactlyOneSeriesIsShown) {
    TChartView view;
    for (int index : {1, 0, 1}) {
        view.ShowSeries(index);
        EXPECT_EQ(view.ShownSeries(), index);
        EXPECT_NE(view.graph(0)->visible(), view.graph(1)->visible());
    }
    view.ShowSeries(5);
    EXPECT_EQ(view.ShownSeries(), -1);
}

// Unchecking Fill in the toolbar shows the line and unchecks the menu item;
// the menu item then brings both back and shows the area. Re-applying the
// choice (Repeat / Continue Record clicks) changes nothing.
TEST(ChartViewSeries, FillSwitchKeepsCheckBoxMenuAndSeriesTogether) {
    TChartView view;
    FillState s = BtFillClicked(false);
    view.ShowSeries(s.series);
    EXPECT_FALSE(s.menuFillChecked);
    EXPECT_FALSE(s.btFillChecked);
    EXPECT_EQ(view.ShownSeries(), 1);

    s = BtFillClicked(s.btFillChecked); // "Repeat" click
    view.ShowSeries(s.series);
    EXPECT_EQ(view.ShownSeries(), 1);

    s = FillMenuClicked(s.btFillChecked);
    view.ShowSeries(s.series);
    EXPECT_TRUE(s.menuFillChecked);
    EXPECT_TRUE(s.btFillChecked);
    EXPECT_EQ(view.ShownSeries(), 0);

    s = FillMenuClicked(s.btFillChecked);
    EXPECT_FALSE(s.menuFillChecked);
    EXPECT_FALSE(s.btFillChecked);
    EXPECT_EQ(s.series, 1);

    for (bool checked : {true, false}) {
        EXPECT_EQ(BtFillClicked(checked).menuFillChecked, checked);
        EXPECT_EQ(BtFillClicked(checked).series, checked ? 0 : 1);
    }
}

TEST(ChartViewNew, LeavesOneSamplePointPerSeriesAndThePagerAlone) {
    for (bool fill : {true, false}) {
        SCOPED_TRACE(fill ? "Fill checked" : "Fill unchecked");
        TChartView view;
        TChartControl pager(view.Facility(), 100);
        for (int i = 0; i < 300; ++i)
            pager.AddValue(i);
        view.ComboBox1()->setCurrentIndex(1);
        const double min = view.Facility().BottomAxis().Minimum();
        const double max = view.Facility().BottomAxis().Maximum();

        view.BtNewClick(fill);
        for (int s = 0; s < 2; ++s) {
            IChartSeries& series = view.Facility().Series(s);
            EXPECT_EQ(series.Count(), 1);
            EXPECT_DOUBLE_EQ(series.MinX(), 0);
            EXPECT_DOUBLE_EQ(series.MaxX(), 0);
            ASSERT_EQ(view.graph(s)->data()->size(), 1);
            EXPECT_DOUBLE_EQ(view.graph(s)->data()->at(0)->key, 0);
        }
        EXPECT_EQ(view.graph(0)->data(), view.graph(1)->data());
        EXPECT_EQ(pager.GetPage(), 3);
        EXPECT_EQ(pager.GetPageCount(), 3);
        EXPECT_DOUBLE_EQ(view.Facility().BottomAxis().Minimum(), min);
        EXPECT_DOUBLE_EQ(view.Facility().BottomAxis().Maximum(), max);
        EXPECT_EQ(view.ComboBox1()->currentIndex(), 0);
        EXPECT_EQ(view.ShownSeries(), fill ? 0 : 1);

        pager.AddValue(5);
        EXPECT_DOUBLE_EQ(view.graph(0)->data()->at(1)->key, 1);
        EXPECT_DOUBLE_EQ(view.graph(1)->data()->at(1)->value, 5);
        EXPECT_EQ(view.Facility().Series(1).Count(), 2);
    }
}

// A sample equal to the first old point (its value drawn at random, here given)
// still leaves one point per series: the old points are not shown on.
TEST(ChartViewNew, ASampleEqualToTheFirstOldPointLeavesOnlyThatPoint) {
    TChartView view;
    TChartControl pager(view.Facility(), 100);
    for (int i = 0; i < 300; ++i)
        pager.AddValue(i);
    const QCPGraphData first = *view.graph(0)->data()->constBegin();
    ASSERT_DOUBLE_EQ(first.key, 0);
    view.NewWithSample(true, first.value);
    for (int s = 0; s < 2; ++s) {
        EXPECT_EQ(view.Facility().Series(s).Count(), 1);
        EXPECT_EQ(view.graph(s)->data()->size(), 1);
    }
    EXPECT_EQ(view.graph(0)->data(), view.graph(1)->data());
}

// TbFdClick applied to the real chart: enlarged it draws at the enlarged
// size, restored it is back exactly at its design place.
TEST(ChartViewLayout, EnlargeThenRestoreReturnsToTheDesignPlace) {
    QWidget window;
    window.resize(720, 520);
    TChartView view;
    view.setParent(&window);
    view.setGeometry(336, 204, 376, 269);
    const QSize outer(728, 574); // frame, title bar and menu bar included
    ChartBounds saved;

    ChartLayout big = ToggleChartLayout(view.geometry(), outer, saved);
    EXPECT_TRUE(big.enlarged);
    EXPECT_EQ(big.chart, QRect(2, 28, 716, 489));
    EXPECT_EQ(big.saved, (ChartBounds{204, 336, 269, 376}));
    EXPECT_FALSE(big.panel1Visible);
    EXPECT_FALSE(big.panel6Visible);
    EXPECT_FALSE(big.tbFdVisible);
    EXPECT_TRUE(big.tbSxVisible);
    EXPECT_EQ(big.panel5Pos, QPoint(2, 2));
    view.setGeometry(big.chart);
    saved = big.saved;
    EXPECT_EQ(view.RenderImage().size(), QSize(716, 489));

    ChartLayout back = ToggleChartLayout(view.geometry(), outer, saved);
    EXPECT_FALSE(back.enlarged);
    EXPECT_EQ(back.chart, QRect(336, 204, 376, 269));
    EXPECT_EQ(back.saved, saved);
    EXPECT_TRUE(back.panel1Visible);
    EXPECT_TRUE(back.panel6Visible);
    EXPECT_TRUE(back.tbFdVisible);
    EXPECT_FALSE(back.tbSxVisible);
    EXPECT_EQ(back.panel5Pos, QPoint(341, 166));
    view.setGeometry(back.chart);
    EXPECT_EQ(view.geometry(), QRect(336, 204, 376, 269));
}

// A new point that moves no axis redraws only the series; what is on screen
// must still be what a full drawing gives, also after an axis moved, a page
// turned or the series were switched between such redraws.
TEST(ChartViewRedraw, OnScreenAlwaysMatchesAFullDrawing) {
    TChartView view;
    TChartControl pager(view.Facility(), 100);
    view.show();
    const auto expectFullDrawing = [&view](const char* step) {
        SCOPED_TRACE(step);
        const QImage shown = view.grab().toImage();
        view.replot(); // every layer drawn again
        EXPECT_TRUE(shown == view.grab().toImage());
    };
    const auto addPoints = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            pager.AddValue(std::sin(i / 5.0) * 1500.0);
            view.Redraw();
        }
    };

    addPoints(0, 40);
    expectFullDrawing("points on the first page");
    view.Facility().LeftAxis().SetMaximum(1000);
    addPoints(40, 45);
    expectFullDrawing("the left axis shortened, then points");
    addPoints(45, 130);
    expectFullDrawing("the page turned");
    view.ShowSeries(1);
    view.Redraw();
    addPoints(130, 135);
    expectFullDrawing("the other series shown");
}

// The chart on screen sits on its gradient inside a black border with a lowered
// bevel, at any size it is given.
TEST(ChartViewLook, BorderAndGradientFollowTheSize) {
    TChartView view;
    TChartControl pager(view.Facility(), 100);
    view.show();
    for (int i = 0; i < 30; ++i)
        pager.AddValue(i * 40.0);
    const QRgb dark = TChartView::kPanelColor.darker(150).rgb();
    const QRgb light = TChartView::kPanelColor.lighter(115).rgb();
    for (const QSize size : {QSize(376, 269), QSize(500, 340), QSize(300, 200)}) {
        SCOPED_TRACE(size.width());
        view.resize(size);
        view.Redraw();
        const QImage shown = view.grab().toImage();
        const qreal ratio = shown.devicePixelRatio();
        const auto at = [&](int x, int y) { return shown.pixel(QPoint(x, y) * ratio); };
        const int w = size.width(), h = size.height();
        const struct {
            int x, y;
            QRgb colour;
        } border[] = {{0, 0, qRgb(0, 0, 0)}, {w - 1, h - 1, qRgb(0, 0, 0)}, {w / 2, 1, dark},
                      {1, h / 2, dark},      {w / 2, h - 3, light},         {w - 3, h / 2, light}};
        for (const auto& p : border)
            EXPECT_EQ(at(p.x, p.y), p.colour) << p.x << "," << p.y;
        // Inside the border, right of the plot: the gradient, silver at the top.
        EXPECT_NEAR(qRed(at(w - 4, 2)), 192, 4);
        EXPECT_GT(qRed(at(w - 4, h - 4)), 245);
    }
}

class ChartBitmapTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    TChartView view;
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        TChartControl pager(view.Facility(), 100);
        for (int i = 0; i < 150; ++i)
            pager.AddValue((i % 40) * 50.0);
    }
};

TEST_F(ChartBitmapTest, SavedFileIsAWindowsBitmapOfTheChartsSize) {
    const QString path = dir.filePath(BitmapFileName(QStringLiteral("chart.png")));
    EXPECT_TRUE(path.endsWith("chart.bmp"));
    QString error;
    ASSERT_TRUE(view.SaveBitmap(path, &error)) << error.toStdString();
    EXPECT_TRUE(error.isEmpty());

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(2), QByteArray("BM"));
    file.close();

    QImageReader reader(path);
    EXPECT_EQ(reader.format(), QByteArray("bmp"));
    const QImage image = reader.read();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(376, 269));
    // The top of the background gradient is silver, the plot area white.
    const QRgb top = image.pixel(image.width() / 2, 1);
    EXPECT_NEAR(qRed(top), 192, 3);
    EXPECT_NEAR(qBlue(top), 192, 3);
    const QRect plot = view.axisRect()->rect();
    EXPECT_EQ(image.pixel(plot.left() + 3, plot.top() + 3), qRgb(255, 255, 255));
    // The filled area of series 0 is drawn.
    bool areaFound = false;
    for (int y = 0; y < image.height() && !areaFound; ++y)
        for (int x = 0; x < image.width() && !areaFound; ++x)
            areaFound = image.pixel(x, y) == qRgb(255, 255, 128);
    EXPECT_TRUE(areaFound);
}

TEST_F(ChartBitmapTest, ReplacesAnExistingFile) {
    const QString path = dir.filePath("old.bmp");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("not a picture");
    }
    QString error;
    ASSERT_TRUE(view.SaveBitmap(path, &error)) << error.toStdString();
    EXPECT_EQ(QImage(path).size(), view.size());
}

TEST_F(ChartBitmapTest, UncreatableFileGivesTheCannotCreateText) {
    ASSERT_TRUE(QDir().mkdir(dir.filePath("taken.bmp")));
    for (const QString& path :
         {dir.filePath("no/such/folder/chart.bmp"), dir.filePath("taken.bmp")}) {
        SCOPED_TRACE(path.toStdString());
        const QString prefix = QStringLiteral("Cannot create file \"%1\". ").arg(path);
        QString error;
        EXPECT_FALSE(view.SaveBitmap(path, &error));
        EXPECT_TRUE(error.startsWith(prefix)) << error.toStdString();
        EXPECT_GT(error.size(), prefix.size()) << "no reason given";
        EXPECT_FALSE(QFileInfo(path).isFile());
    }
}

TEST_F(ChartBitmapTest, ReadOnlyFolderGivesTheCannotCreateText) {
    if (geteuid() == 0) GTEST_SKIP() << "running as root: a read-only folder is still writable";
    const QString sub = dir.filePath("ro");
    ASSERT_TRUE(QDir().mkdir(sub));
    ASSERT_TRUE(QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner));
    const QString path = sub + "/chart.bmp";
    QString error;
    EXPECT_FALSE(view.SaveBitmap(path, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)))
        << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path));
    QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

namespace {

// The line drawn is clipped to a band around the visible values: the same line
// inside the band, edge points where it leaves and enters it.
TEST(ChartViewClip, LineKeepsItsShapeInsideTheBand) {
    using Points = std::vector<std::pair<double, double>>;
    const double nan = std::nan("");
    struct Case {
        const char* name;
        Points in, out;
    };
    const Case cases[] = {
        {"inside", {{0, -1}, {1, 0.5}, {2, 1}}, {{0, -1}, {1, 0.5}, {2, 1}}},
        {"spike above", {{0, 0}, {1, 10}, {2, 0}}, {{0, 0}, {0.1, 1}, {1, 1}, {1.9, 1}, {2, 0}}},
        {"through both edges", {{0, -10}, {1, 10}}, {{0, -1}, {0.45, -1}, {0.55, 1}, {1, 1}}},
        {"down through both edges", {{0, 10}, {1, -10}}, {{0, 1}, {0.45, 1}, {0.55, -1}, {1, -1}}},
        {"all far off", {{0, 1000}, {1, 2000}}, {{0, 1}, {1, 1}}},
        {"gap", {{0, nan}, {1, 5}, {2, 0}}, {{0, nan}, {1, 1}, {1.8, 1}, {2, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVector<QCPGraphData> points;
        for (const auto& [key, value] : c.in)
            points.append(QCPGraphData(key, value));
        ClipToValueBand(points, -1, 1);
        ASSERT_EQ(points.size(), qsizetype(c.out.size()));
        for (qsizetype i = 0; i < points.size(); ++i) {
            EXPECT_NEAR(points[i].key, c.out[i].first, 1e-9) << i;
            if (std::isnan(c.out[i].second))
                EXPECT_TRUE(std::isnan(points[i].value)) << i;
            else
                EXPECT_NEAR(points[i].value, c.out[i].second, 1e-9) << i;
        }
    }
}

} // namespace
