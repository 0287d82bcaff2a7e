// The chart pager: feeds every value into all series of the chart, keeps the
// newest page in view while the user has not paged away, and scrolls the
// bottom axis page by page on the paging commands.
//
// Page sizes below 1 are refused: SetPageSize returns false and nothing
// changes (the arithmetic divides by the page size, and the axis could not
// span a page of no width). The constructor treats such a size as 1.
//
// Axis refusals surface as EChartAxisError from SetAxisMax / SetAxisMin; the
// field assigned before the refusal keeps its new value.
#pragma once

#include "chart/ChartFacility.h"

#include <cstdint>

namespace orvex {

class TChartControl {
  public:
    // Create: takes the chart (not owned) and the start page size.
    TChartControl(IChartFacility& chart, int pageSize);

    // Returns false (and changes nothing) when size < 1.
    bool SetPageSize(int size);
    void AddValue(double value);
    void FirstPage();
    void PreviousPage();
    void NextPage();
    void LastPage();
    void ClearPoints();
    void SetAxisMax(double value);
    void SetAxisMin(double value);

    int GetPage() const { return Page; }
    int GetPageSize() const { return PageSize; }
    int GetPageCount() const { return PageCount; }
    bool IsBrowsing() const { return Browsing; }
    double GetAxisMax() const { return AxisMax; }
    double GetAxisMin() const { return AxisMin; }
    IChartFacility& GetChart() const { return Chart; }

  private:
    void SpanFirstPage();
    void RecomputePageCount();
    void ScrollPages(double offset, std::int64_t times);

    IChartFacility& Chart;
    int Page = 0;
    int PageSize = 0;
    int PageCount = 0;
    bool Browsing = false;
    double AxisMax = 0.0;
    double AxisMin = 0.0;
};

} // namespace orvex
