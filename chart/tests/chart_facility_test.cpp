// The QCustomPlot chart facility: shared point storage, smallest/largest X,
// the bounded scroll and the axis limit refusals.
#include "chart/QcpChartFacility.h"
#include "chart/TChartView.h"

#include <QFile>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

using namespace orvex;

namespace {

// The kernel's flags for the mapping that holds `address` ("hg": huge pages
// advised), or "" when no mapping holds it.
std::string MappingFlags(const void* address) {
    const auto at = std::uintptr_t(address);
    std::ifstream smaps("/proc/self/smaps");
    bool holds = false;
    for (std::string line; std::getline(smaps, line);) {
        if (line.rfind("VmFlags:", 0) == 0) {
            if (holds) return line.substr(8) + " ";
            continue;
        }
        std::uintptr_t start = 0;
        std::uintptr_t end = 0;
        char dash = 0;
        std::istringstream header(line);
        if (header >> std::hex >> start >> dash >> end && dash == '-')
            holds = start <= at && at < end;
    }
    return "";
}

class FacilityTest : public ::testing::Test {
  protected:
    TChartView view;
    IChartFacility& chart = view.Facility();
    IChartSeries& s0 = chart.Series(0);
    IChartSeries& s1 = chart.Series(1);

    void AddToBoth(double x, double y) {
        s0.Add(x, y);
        s1.Add(x, y);
    }
    bool Shared() const { return view.graph(0)->data() == view.graph(1)->data(); }
    static std::vector<std::pair<double, double>> Points(QCPGraph* g) {
        std::vector<std::pair<double, double>> out;
        for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it)
            out.emplace_back(it->key, it->value);
        return out;
    }
};

TEST_F(FacilityTest, SeriesHoldingTheSamePointsShareOneContainer) {
    for (int i = 0; i < 1000; ++i)
        AddToBoth(i, i * 2.0);
    EXPECT_TRUE(Shared());
    EXPECT_EQ(view.graph(0)->data()->size(), 1000);
    EXPECT_EQ(s0.Count(), 1000);
    EXPECT_EQ(s1.Count(), 1000);
    EXPECT_DOUBLE_EQ(s1.MinX(), 0);
    EXPECT_DOUBLE_EQ(s1.MaxX(), 999);
}

TEST_F(FacilityTest, ASeriesThatReceivesADifferentPointGetsItsOwnCopy) {
    for (int i = 0; i < 5; ++i)
        AddToBoth(i, i);
    s0.Add(5, 100);
    s1.Add(5, -100);
    EXPECT_FALSE(Shared());
    using P = std::vector<std::pair<double, double>>;
    EXPECT_EQ(Points(view.graph(0)), (P{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 100}}));
    EXPECT_EQ(Points(view.graph(1)), (P{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, -100}}));
    EXPECT_EQ(s0.Count(), 6);
    EXPECT_EQ(s1.Count(), 6);
}

TEST_F(FacilityTest, SeriesLaggingBehindKeepsItsOwnCountAndRange) {
    for (int i = 0; i < 10; ++i)
        s0.Add(i, i);
    for (int i = 0; i < 4; ++i)
        s1.Add(i, i);
    EXPECT_TRUE(Shared());
    EXPECT_EQ(s1.Count(), 4);
    EXPECT_DOUBLE_EQ(s1.MaxX(), 3);
    EXPECT_DOUBLE_EQ(s0.MaxX(), 9);
}

TEST_F(FacilityTest, ClearingOneSeriesLeavesTheOtherIntact) {
    for (int i = 0; i < 10; ++i)
        AddToBoth(i, i);
    s0.Clear();
    EXPECT_EQ(s0.Count(), 0);
    EXPECT_EQ(view.graph(0)->data()->size(), 0);
    EXPECT_EQ(s1.Count(), 10);
    EXPECT_EQ(view.graph(1)->data()->size(), 10);
    EXPECT_DOUBLE_EQ(s0.MinX(), 0);
    EXPECT_DOUBLE_EQ(s0.MaxX(), 0);
}

TEST_F(FacilityTest, SeriesShareAgainAfterClearingAll) {
    for (int i = 0; i < 10; ++i)
        AddToBoth(i, i);
    s0.Clear();
    s1.Clear();
    AddToBoth(0, 42);
    AddToBoth(1, 43);
    EXPECT_TRUE(Shared());
    EXPECT_EQ(view.graph(0)->data()->size(), 2);

    // Clear and refill one series at a time, as "New" does.
    s0.Clear();
    s0.Add(0, 7);
    s1.Clear();
    s1.Add(0, 7);
    EXPECT_TRUE(Shared());
    EXPECT_EQ(view.graph(1)->data()->size(), 1);
}

TEST_F(FacilityTest, PointsAddedOutOfOrderKeepMinAndMaxRight) {
    AddToBoth(5, 1);
    AddToBoth(2, 1);
    AddToBoth(9, 1);
    EXPECT_DOUBLE_EQ(s0.MinX(), 2);
    EXPECT_DOUBLE_EQ(s0.MaxX(), 9);
    EXPECT_DOUBLE_EQ(s1.MinX(), 2);
    EXPECT_DOUBLE_EQ(s1.MaxX(), 9);
    EXPECT_EQ(s1.Count(), 3);

    // A lagging series must not see a point sorted into the shared part.
    IChartSeries& a = s0;
    IChartSeries& b = s1;
    a.Clear();
    b.Clear();
    AddToBoth(10, 0);
    AddToBoth(20, 0);
    a.Add(15, 0);
    EXPECT_EQ(b.Count(), 2);
    EXPECT_DOUBLE_EQ(b.MaxX(), 20);
    using P = std::vector<std::pair<double, double>>;
    EXPECT_EQ(Points(view.graph(1)), (P{{10, 0}, {20, 0}}));
    EXPECT_EQ(Points(view.graph(0)), (P{{10, 0}, {15, 0}, {20, 0}}));
}

TEST_F(FacilityTest, BoundedScrollFollowsTheShownSeriesOnly) {
    struct Case {
        const char* name;
        int shown;   // series made visible
        int points0; // points of series 0 (X = 0 ... n-1)
        int points1; // points of series 1
        double min, max, d;
        double expectMin, expectMax;
    };
    const Case cases[] = {
        {"forward, data beyond", 0, 150, 150, 1, 100, 100, 101, 200},
        {"forward, last point on the maximum", 0, 101, 101, 1, 100, 100, 1, 100},
        {"back, data before", 0, 150, 150, 101, 200, -100, 1, 100},
        {"back, first point on the minimum", 0, 150, 150, 0, 99, -100, 0, 99},
        {"zero offset", 0, 500, 500, 1, 100, 0, 1, 100},
        {"no points counts as 0 ... 0", 0, 0, 0, 1, 100, 100, 1, 100},
        {"no points, back from 1", 0, 0, 0, 1, 100, -100, -99, 0},
        {"hidden series ignored", 0, 50, 500, 1, 100, 100, 1, 100},
        {"line series shown", 1, 50, 500, 1, 100, 100, 101, 200},
        {"nothing shown", -1, 500, 500, 1, 100, 100, 1, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TChartView v;
        IChartFacility& f = v.Facility();
        for (int i = 0; i < c.points0; ++i)
            f.Series(0).Add(i, 1);
        for (int i = 0; i < c.points1; ++i)
            f.Series(1).Add(i, 1);
        v.ShowSeries(c.shown);
        IChartBottomAxis& axis = f.BottomAxis();
        axis.SetMaximum(c.max);
        axis.SetMinimum(c.min);
        axis.Scroll(c.d);
        EXPECT_DOUBLE_EQ(axis.Minimum(), c.expectMin);
        EXPECT_DOUBLE_EQ(axis.Maximum(), c.expectMax);
    }
}

TEST_F(FacilityTest, AxesRefuseCrossingLimitsAndKeepTheirRange) {
    struct Case {
        bool bottom;
        bool setMin;
        double value;
        const char* error; // nullptr: accepted
    };
    const Case cases[] = {
        {true, true, 101, "Axis Minimum Value must be <= Maximum"},
        {true, false, -100.5, "Axis Maximum Value must be >= Minimum"},
        {false, true, 101, "Axis Minimum Value must be <= Maximum"},
        {false, false, -101, "Axis Maximum Value must be >= Minimum"},
        {true, true, 100, nullptr},
        {false, false, -100, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.bottom ? "bottom " : "left ")
                                        << (c.setMin ? "min " : "max ") << c.value);
        TChartView v;
        IChartAxis& axis = c.bottom ? static_cast<IChartAxis&>(v.Facility().BottomAxis())
                                    : v.Facility().LeftAxis();
        axis.SetMaximum(100);
        axis.SetMinimum(-100);
        const auto set = [&] { c.setMin ? axis.SetMinimum(c.value) : axis.SetMaximum(c.value); };
        if (c.error) {
            try {
                set();
                ADD_FAILURE() << "limit accepted";
            } catch (const EChartAxisError& e) {
                EXPECT_STREQ(e.what(), c.error);
            }
            EXPECT_DOUBLE_EQ(axis.Minimum(), -100);
            EXPECT_DOUBLE_EQ(axis.Maximum(), 100);
        } else {
            EXPECT_NO_THROW(set());
            EXPECT_DOUBLE_EQ(c.setMin ? axis.Minimum() : axis.Maximum(), c.value);
        }
    }
}

// A chart recording for days grows a store of hundreds of megabytes; faulting
// it in 4 KiB at a time costs as much as the appends themselves. The advice
// must reach every block the points live in: the shared one as it grows and
// moves, and the copy a series takes when it goes its own way.
TEST_F(FacilityTest, LargeStoresAskForHugePagesAsTheyGrowAndSplit) {
    if (!QFile::exists("/sys/kernel/mm/transparent_hugepage/enabled"))
        GTEST_SKIP() << "this kernel has no transparent huge pages";
    if (!QFile::exists("/proc/self/smaps"))
        GTEST_SKIP() << "no /proc/self/smaps here to read the kernel's advice from";
    const auto block = [this](int graph) {
        return static_cast<const void*>(&*view.graph(graph)->data()->constBegin());
    };
    int x = 0;
    for (; x < 2'200'000; ++x)
        AddToBoth(x, x % 100);
    ASSERT_TRUE(Shared());
    EXPECT_NE(MappingFlags(block(0)).find(" hg "), std::string::npos)
        << "a store of 35 MB is not advised";

    s0.Add(x, 1);
    s1.Add(x, 2);
    ASSERT_FALSE(Shared());
    EXPECT_NE(MappingFlags(block(1)).find(" hg "), std::string::npos)
        << "the copy a series took is not advised";

    const void* before = block(0);
    for (++x; x < 4'300'000; ++x)
        s0.Add(x, 0);
    EXPECT_NE(MappingFlags(block(0)).find(" hg "), std::string::npos)
        << "the store lost the advice when it grew from " << before << " to " << block(0);
    EXPECT_EQ(s0.Count(), 4'300'000);
    EXPECT_EQ(s1.Count(), 2'200'001);
    EXPECT_DOUBLE_EQ((view.graph(1)->data()->constEnd() - 1)->value, 2);
    EXPECT_DOUBLE_EQ(view.graph(1)->data()->at(2'199'999)->value, 2'199'999 % 100);
}

TEST_F(FacilityTest, AutomaticBottomAxisFollowsTheShownData) {
    IChartBottomAxis& axis = chart.BottomAxis();
    axis.SetAutomatic(true);
    for (int i = 0; i < 30; ++i)
        AddToBoth(i + 10, i);
    EXPECT_DOUBLE_EQ(axis.Minimum(), 10);
    EXPECT_DOUBLE_EQ(axis.Maximum(), 39);
    axis.SetAutomatic(false);
    AddToBoth(100, 0);
    EXPECT_DOUBLE_EQ(axis.Maximum(), 39);
}

} // namespace
