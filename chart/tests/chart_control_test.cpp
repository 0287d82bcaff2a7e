// TChartControl driving the real chart view (QCustomPlot on the offscreen
// platform): paging, following/browsing, page size changes, axis limits.
#include "chart/ChartCommands.h"
#include "chart/TChartControl.h"
#include "chart/TChartView.h"

#include <gtest/gtest.h>

using namespace orvex;

namespace {

class PagerTest : public ::testing::Test {
  protected:
    TChartView view;
    TChartControl pager{view.Facility(), 100};

    IChartBottomAxis& Bottom() { return view.Facility().BottomAxis(); }
    void Feed(int n) {
        for (int i = 0; i < n; ++i)
            pager.AddValue(i * 0.5);
    }
    void ExpectAxis(double min, double max) {
        EXPECT_DOUBLE_EQ(Bottom().Minimum(), min);
        EXPECT_DOUBLE_EQ(Bottom().Maximum(), max);
        // The drawn axis agrees with the facility's limits.
        EXPECT_DOUBLE_EQ(view.xAxis->range().lower, min);
        EXPECT_DOUBLE_EQ(view.xAxis->range().upper, max);
    }
};

TEST_F(PagerTest, StartsOnPageOneSpanningTheFirstHundredRecords) {
    ExpectAxis(1, 100);
    EXPECT_EQ(pager.GetPage(), 1);
    EXPECT_EQ(pager.GetPageCount(), 1);
    EXPECT_EQ(pager.GetPageSize(), 100);
    EXPECT_FALSE(pager.IsBrowsing());
    EXPECT_FALSE(Bottom().Automatic());
}

TEST_F(PagerTest, EveryValueGoesToEverySeriesAtItsIndex) {
    Feed(3);
    for (int s = 0; s < 2; ++s) {
        ASSERT_EQ(view.graph(s)->data()->size(), 3);
        EXPECT_EQ(view.Facility().Series(s).Count(), 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_DOUBLE_EQ(view.graph(s)->data()->at(i)->key, i);
            EXPECT_DOUBLE_EQ(view.graph(s)->data()->at(i)->value, i * 0.5);
        }
    }
}

TEST_F(PagerTest, PageTurnsAtThe101stPointAndAxisMovesAtThe102nd) {
    Feed(100);
    EXPECT_EQ(pager.GetPage(), 1);
    ExpectAxis(1, 100);

    pager.AddValue(7);
    EXPECT_EQ(pager.GetPage(), 2);
    EXPECT_EQ(pager.GetPageCount(), 2);
    ExpectAxis(1, 100); // largest X is 100, not beyond the maximum

    pager.AddValue(8);
    EXPECT_EQ(pager.GetPage(), 2);
    ExpectAxis(101, 200);
}

TEST_F(PagerTest, PreviousShowsOnlyTheFirstPointAndNextComesBack) {
    Feed(101);
    ASSERT_EQ(pager.GetPage(), 2);

    pager.PreviousPage();
    ExpectAxis(-99, 0);
    EXPECT_EQ(pager.GetPage(), 1);
    EXPECT_TRUE(pager.IsBrowsing());

    pager.PreviousPage(); // already on page 1
    ExpectAxis(-99, 0);
    EXPECT_EQ(pager.GetPage(), 1);

    pager.NextPage();
    ExpectAxis(1, 100);
    EXPECT_EQ(pager.GetPage(), 2);
    EXPECT_FALSE(pager.IsBrowsing());

    pager.NextPage(); // already on the last page
    ExpectAxis(1, 100);
    EXPECT_EQ(pager.GetPage(), 2);
}

TEST_F(PagerTest, SetPageSizeRecomputesPagesAndShowsTheLastOne) {
    struct Case {
        int points, size, pages;
        double min, max;
    };
    const Case cases[] = {
        {350, 100, 4, 301, 400}, {300, 100, 3, 201, 300}, {0, 100, 0, 1, 100},
        {1, 100, 1, 1, 100},     {101, 50, 3, 51, 100},   {350, 7, 50, 344, 350},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.points << " points, size " << c.size);
        TChartView v;
        TChartControl p(v.Facility(), 10);
        for (int i = 0; i < c.points; ++i)
            p.AddValue(i);
        p.FirstPage(); // the size change also ends browsing
        ASSERT_TRUE(p.SetPageSize(c.size));
        EXPECT_EQ(p.GetPageCount(), c.pages);
        EXPECT_EQ(p.GetPage(), c.pages);
        EXPECT_FALSE(p.IsBrowsing());
        EXPECT_DOUBLE_EQ(v.Facility().BottomAxis().Minimum(), c.min);
        EXPECT_DOUBLE_EQ(v.Facility().BottomAxis().Maximum(), c.max);
    }
}

TEST_F(PagerTest, SamePageSizeAgainLeavesABrowsedViewAlone) {
    Feed(350);
    pager.FirstPage();
    pager.NextPage();
    ASSERT_EQ(pager.GetPage(), 2);
    const double min = Bottom().Minimum();

    EXPECT_TRUE(pager.SetPageSize(100));
    EXPECT_EQ(pager.GetPage(), 2);
    EXPECT_EQ(pager.GetPageCount(), 4);
    EXPECT_TRUE(pager.IsBrowsing());
    EXPECT_DOUBLE_EQ(Bottom().Minimum(), min);
}

TEST_F(PagerTest, PageSizeBelowOneIsRefusedAndTheOldSizeStays) {
    Feed(250);
    pager.PreviousPage();
    for (int size : {0, -1, -100}) {
        SCOPED_TRACE(size);
        EXPECT_FALSE(pager.SetPageSize(size));
        EXPECT_EQ(pager.GetPageSize(), 100);
        EXPECT_EQ(pager.GetPage(), 2);
        EXPECT_EQ(pager.GetPageCount(), 3);
        EXPECT_TRUE(pager.IsBrowsing());
        ExpectAxis(101, 200);
    }
    pager.AddValue(1); // still pages by 100 afterwards
    EXPECT_EQ(pager.GetPageCount(), 3);
}

TEST(PagerCreate, StartSizeBelowOneBecomesOne) {
    TChartView view;
    TChartControl pager(view.Facility(), 0);
    EXPECT_EQ(pager.GetPageSize(), 1);
    EXPECT_DOUBLE_EQ(view.Facility().BottomAxis().Minimum(), 1);
    EXPECT_DOUBLE_EQ(view.Facility().BottomAxis().Maximum(), 1);
    pager.AddValue(1);
    pager.AddValue(2);
    pager.AddValue(3);
    EXPECT_EQ(pager.GetPageCount(), 3);
    EXPECT_EQ(pager.GetPage(), 3);
}

// With the view on -99 ... 0, setting the minimum 1 first would cross the
// maximum; the new page size must still be applied completely.
TEST_F(PagerTest, NewPageSizeWhileViewingLeftOfTheFirstRecord) {
    Feed(101);
    pager.PreviousPage();
    ASSERT_DOUBLE_EQ(Bottom().Maximum(), 0);

    EXPECT_NO_THROW(pager.SetPageSize(50));
    EXPECT_EQ(pager.GetPageSize(), 50);
    EXPECT_EQ(pager.GetPageCount(), 3);
    EXPECT_EQ(pager.GetPage(), 3);
    EXPECT_FALSE(pager.IsBrowsing());
    ExpectAxis(51, 100);
}

TEST_F(PagerTest, BrowsingHoldsTheViewWhilePointsArriveThenLastCatchesUp) {
    Feed(150);
    pager.FirstPage();
    ASSERT_EQ(pager.GetPage(), 1);
    ExpectAxis(1, 100);

    Feed(250);
    EXPECT_EQ(pager.GetPage(), 1);
    EXPECT_EQ(pager.GetPageCount(), 4);
    EXPECT_TRUE(pager.IsBrowsing());
    ExpectAxis(1, 100);

    pager.LastPage();
    EXPECT_EQ(pager.GetPage(), 4);
    EXPECT_FALSE(pager.IsBrowsing());
    ExpectAxis(301, 400);

    pager.AddValue(1); // following again: 401st point turns the page
    EXPECT_EQ(pager.GetPage(), 5);
}

TEST_F(PagerTest, FirstPageFromTheEndScrollsBackPageByPage) {
    Feed(450);
    ExpectAxis(401, 500);
    pager.FirstPage();
    EXPECT_EQ(pager.GetPage(), 1);
    EXPECT_TRUE(pager.IsBrowsing());
    ExpectAxis(1, 100);

    pager.FirstPage(); // on page 1 already
    ExpectAxis(1, 100);
}

TEST_F(PagerTest, ClearPointsKeepsPageCountUntilTheNextValue) {
    Feed(350);
    pager.ClearPoints();
    EXPECT_EQ(view.Facility().Series(0).Count(), 0);
    EXPECT_EQ(view.Facility().Series(1).Count(), 0);
    EXPECT_EQ(view.graph(0)->data()->size(), 0);
    EXPECT_EQ(view.graph(1)->data()->size(), 0);
    EXPECT_EQ(pager.GetPage(), 1);
    EXPECT_EQ(pager.GetPageCount(), 4);
    EXPECT_FALSE(pager.IsBrowsing());
    ExpectAxis(1, 100);

    // Next still advances the page, but there is no data for the axis to follow.
    pager.NextPage();
    EXPECT_EQ(pager.GetPage(), 2);
    ExpectAxis(1, 100);

    pager.AddValue(3);
    EXPECT_EQ(pager.GetPageCount(), 1);
    EXPECT_DOUBLE_EQ(view.graph(0)->data()->at(0)->key, 0);
    // The page that Next went to holds no points: the new point brings the pager
    // back to its last page, and the view follows the newest points from there.
    EXPECT_EQ(pager.GetPage(), 1);
    EXPECT_FALSE(pager.IsBrowsing());
    Feed(150); // 151 points: two pages
    EXPECT_EQ(pager.GetPage(), 2);
    EXPECT_EQ(pager.GetPageCount(), 2);
    EXPECT_FALSE(pager.IsBrowsing());
    ExpectAxis(101, 200);
}

// A page of one point spans one X: the drawn axis still moves to it (the plot
// ignores a range of no width) and holds the point.
TEST_F(PagerTest, PageSizeOneStillMovesTheDrawnAxis) {
    Feed(350);
    ASSERT_TRUE(pager.SetPageSize(1));
    pager.AddValue(1); // X = 350
    EXPECT_DOUBLE_EQ(Bottom().Minimum(), 350);
    EXPECT_DOUBLE_EQ(Bottom().Maximum(), 350);
    const QCPRange drawn = view.xAxis->range();
    EXPECT_LT(drawn.lower, 350);
    EXPECT_GT(drawn.upper, 350);
    EXPECT_LE(drawn.size(), 2.0);

    pager.FirstPage(); // 351 pages back by one: the first point, X = 0
    EXPECT_DOUBLE_EQ(Bottom().Minimum(), 0);
    EXPECT_LT(view.xAxis->range().lower, 0);
    EXPECT_GT(view.xAxis->range().upper, 0);
    EXPECT_LE(view.xAxis->range().size(), 2.0);
}

TEST_F(PagerTest, AxisLimitThatIsAlreadySetDoesNotTouchTheAxis) {
    IChartAxis& left = view.Facility().LeftAxis();
    pager.SetAxisMax(22);
    pager.SetAxisMin(-22);
    EXPECT_DOUBLE_EQ(left.Maximum(), 22);
    EXPECT_DOUBLE_EQ(left.Minimum(), -22);
    EXPECT_DOUBLE_EQ(view.yAxis->range().upper, 22);

    left.SetMaximum(50);
    left.SetMinimum(-50);
    pager.SetAxisMax(22);
    pager.SetAxisMin(-22);
    EXPECT_DOUBLE_EQ(left.Maximum(), 50);
    EXPECT_DOUBLE_EQ(left.Minimum(), -50);

    pager.SetAxisMax(220);
    pager.SetAxisMin(-220);
    EXPECT_DOUBLE_EQ(pager.GetAxisMax(), 220);
    EXPECT_DOUBLE_EQ(left.Maximum(), 220);
    EXPECT_DOUBLE_EQ(left.Minimum(), -220);
}

TEST_F(PagerTest, RefusedAxisLimitIsReportedAndNotApplied) {
    IChartAxis& left = view.Facility().LeftAxis();
    ASSERT_DOUBLE_EQ(left.Minimum(), -2200);
    ASSERT_DOUBLE_EQ(left.Maximum(), 2200);

    try {
        pager.SetAxisMax(-3000);
        FAIL() << "maximum below the minimum accepted";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Axis Maximum Value must be >= Minimum");
    }
    try {
        pager.SetAxisMin(3000);
        FAIL() << "minimum above the maximum accepted";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Axis Minimum Value must be <= Maximum");
    }
    EXPECT_DOUBLE_EQ(left.Minimum(), -2200);
    EXPECT_DOUBLE_EQ(left.Maximum(), 2200);
    EXPECT_DOUBLE_EQ(view.yAxis->range().lower, -2200);
    EXPECT_DOUBLE_EQ(view.yAxis->range().upper, 2200);
    // The pager's own fields keep the values given before the refusal.
    EXPECT_DOUBLE_EQ(pager.GetAxisMax(), -3000);
    EXPECT_DOUBLE_EQ(pager.GetAxisMin(), 3000);
}

} // namespace

namespace {

TEST(PagerPointRange, LastLitPointSetsTheValueAxis) {
    struct Case {
        bool p0, p1, p2, p3;
        double range;
    };
    const Case cases[] = {
        {true, false, false, false, 22},     {false, true, false, false, 22},
        {false, false, true, false, 220},    {false, false, false, true, 2200},
        {true, false, true, false, 220},     {false, false, true, true, 2200},
        {false, false, false, false, 22000}, // no point: the start-up range stays
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.p0 << c.p1 << c.p2 << c.p3);
        TChartView view;
        TChartControl pager(view.Facility(), 100);
        pager.SetAxisMax(22000);
        pager.SetAxisMin(-22000);
        // From the widest range down to the narrowest and back must never be refused.
        EXPECT_NO_THROW(ApplyPointAxisRange(pager, c.p0, c.p1, c.p2, c.p3));
        EXPECT_DOUBLE_EQ(view.Facility().LeftAxis().Maximum(), c.range);
        EXPECT_DOUBLE_EQ(view.Facility().LeftAxis().Minimum(), -c.range);
        ApplyPointAxisRange(pager, false, false, false, true);
        ApplyPointAxisRange(pager, true, false, false, false);
        EXPECT_DOUBLE_EQ(view.Facility().LeftAxis().Maximum(), 22);
        EXPECT_DOUBLE_EQ(view.Facility().LeftAxis().Minimum(), -22);
    }
}

} // namespace
