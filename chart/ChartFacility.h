// The chart facility as the pager sees it: an ordered list of series, a bottom
// axis that scrolls page by page and a vertical axis. TChartControl only talks
// to these interfaces; QcpChartFacility implements them over QCustomPlot.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace orvex {

// Raised when an axis refuses a limit. what() is the text shown to the user.
class EChartAxisError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kAxisMinimumRefused = "Axis Minimum Value must be <= Maximum";
inline constexpr const char* kAxisMaximumRefused = "Axis Maximum Value must be >= Minimum";

class IChartSeries {
  public:
    virtual ~IChartSeries() = default;
    // Appends the point (x, y).
    virtual void Add(double x, double y) = 0;
    virtual std::int64_t Count() const = 0;
    virtual void Clear() = 0;
    // Smallest and largest X of the series; 0 for a series without points.
    virtual double MinX() const = 0;
    virtual double MaxX() const = 0;
    virtual bool Visible() const = 0;
    virtual void SetVisible(bool visible) = 0;
};

class IChartAxis {
  public:
    virtual ~IChartAxis() = default;
    virtual bool Automatic() const = 0;
    virtual void SetAutomatic(bool automatic) = 0;
    virtual double Minimum() const = 0;
    virtual double Maximum() const = 0;
    // Both throw EChartAxisError and leave the axis unchanged when the new
    // limit would cross the other one (equal limits are accepted).
    virtual void SetMinimum(double value) = 0;
    virtual void SetMaximum(double value) = 0;
};

class IChartBottomAxis : public IChartAxis {
  public:
    // Bounded scroll by d: for d > 0 the axis moves only when the largest X of
    // the shown data lies beyond the maximum, for d < 0 only when the smallest
    // X lies before the minimum. Moving adds d to both limits and redraws.
    // The data are the points of the visible series; with none, min = max = 0.
    virtual void Scroll(double d) = 0;
};

class IChartFacility {
  public:
    virtual ~IChartFacility() = default;
    virtual int SeriesCount() const = 0;
    virtual IChartSeries& Series(int index) = 0;
    virtual IChartBottomAxis& BottomAxis() = 0;
    virtual IChartAxis& LeftAxis() = 0;
};

} // namespace orvex
