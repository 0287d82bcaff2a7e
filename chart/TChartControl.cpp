#include "chart/TChartControl.h"

#include <limits>

namespace orvex {

TChartControl::TChartControl(IChartFacility& chart, int pageSize) : Chart(chart) {
    SetPageSize(pageSize < 1 ? 1 : pageSize);
    Chart.BottomAxis().SetAutomatic(false);
    SpanFirstPage();
    PageCount = 1;
    Page = 1;
}

// Bottom axis := 1 ... PageSize. The span itself is always valid; the limits
// are set in the order the axis accepts, even when the view sits left of 1
// (a page at -99 ... 0), so this never fails half-way.
void TChartControl::SpanFirstPage() {
    IChartBottomAxis& bottom = Chart.BottomAxis();
    if (bottom.Maximum() >= 1.0) {
        bottom.SetMinimum(1.0);
        bottom.SetMaximum(PageSize);
    } else {
        bottom.SetMaximum(PageSize);
        bottom.SetMinimum(1.0);
    }
}

void TChartControl::RecomputePageCount() {
    const std::int64_t n = Chart.SeriesCount() > 0 ? Chart.Series(0).Count() : 0;
    std::int64_t pages = n / PageSize + (n % PageSize > 0 ? 1 : 0);
    if (pages > std::numeric_limits<int>::max()) pages = std::numeric_limits<int>::max();
    PageCount = static_cast<int>(pages);
}

void TChartControl::ScrollPages(double offset, std::int64_t times) {
    IChartBottomAxis& bottom = Chart.BottomAxis();
    for (std::int64_t i = 0; i < times; ++i)
        bottom.Scroll(offset);
}

bool TChartControl::SetPageSize(int size) {
    if (size < 1) return false;
    if (size == PageSize) return true;
    PageSize = size;
    SpanFirstPage();
    RecomputePageCount();
    ScrollPages(PageSize, static_cast<std::int64_t>(PageCount) - 1);
    Page = PageCount;
    Browsing = false;
    return true;
}

void TChartControl::AddValue(double value) {
    for (int i = 0; i < Chart.SeriesCount(); ++i) {
        IChartSeries& series = Chart.Series(i);
        series.Add(static_cast<double>(series.Count()), value);
    }
    RecomputePageCount();
    // Next after the points were cleared went on from the old page count to a
    // page the new points have not reached: the view could neither show them nor
    // go to them (Next and Last stop at that page). Back to following.
    if (Browsing && Page > PageCount) Browsing = false;
    if (!Browsing) {
        Chart.BottomAxis().Scroll(PageSize);
        Page = PageCount;
    }
}

void TChartControl::FirstPage() {
    if (PageCount < 2 || Page == 1) return;
    ScrollPages(-PageSize, static_cast<std::int64_t>(Page) - 1);
    Page = 1;
    Browsing = true;
}

void TChartControl::PreviousPage() {
    if (Page < 2) return;
    Chart.BottomAxis().Scroll(-PageSize);
    --Page;
    Browsing = true;
}

void TChartControl::NextPage() {
    if (PageCount < 2 || PageCount == Page) return;
    Chart.BottomAxis().Scroll(PageSize);
    ++Page;
    Browsing = (Page != PageCount);
}

void TChartControl::LastPage() {
    if (PageCount < 2 || PageCount == Page) return;
    ScrollPages(PageSize, static_cast<std::int64_t>(PageCount) - Page);
    Page = PageCount;
    Browsing = false;
}

void TChartControl::ClearPoints() {
    FirstPage();
    for (int i = 0; i < Chart.SeriesCount(); ++i)
        Chart.Series(i).Clear();
    Browsing = false;
}

void TChartControl::SetAxisMax(double value) {
    if (value == AxisMax) return;
    AxisMax = value;
    Chart.LeftAxis().SetMaximum(value);
}

void TChartControl::SetAxisMin(double value) {
    if (value == AxisMin) return;
    AxisMin = value;
    Chart.LeftAxis().SetMinimum(value);
}

} // namespace orvex
