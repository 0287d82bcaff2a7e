// The chart facility over a QCustomPlot: one series per QCPGraph, the plot's
// xAxis as the bottom axis and yAxis as the vertical axis.
//
// Storage: every value the pager feeds goes to all series, so series that hold
// the same points share one QCPGraphDataContainer and a value is stored once.
// A series follows a shared container as long as its points are a prefix of
// it; it moves to a container of its own as soon as it receives a different
// point, and after a Clear it joins another series' container again when its
// first new point equals that container's first point.
//
// Every change queues a replot, so a burst of appends or page scrolls draws
// once: by default on the next turn of the event loop (QCustomPlot's queued
// replot); with SetChangeHandler the handler decides when (the chart view).
#pragma once

#include "chart/ChartFacility.h"

#include <QSharedPointer>
#include <functional>
#include <memory>
#include <qcustomplot.h>
#include <vector>

namespace orvex {

class QcpChartFacility;

// The points of one or more series. A chart that records for days holds
// hundreds of megabytes of points; once a store is that large it asks the
// kernel for huge pages, so that growing it faults once per 2 MiB instead of
// once per 256 points.
class TSeriesStore final : public QCPGraphDataContainer {
  public:
    // Appends, or sorts the point in when it is not the last by X.
    void Add(const QCPGraphData& point);

  private:
    void AdviseHugePages();
    // The memory block last advised; a new block (the points moved) is
    // advised again.
    const void* advised_ = nullptr;
};

class QcpSeries final : public IChartSeries {
  public:
    QcpSeries(QcpChartFacility& owner, QCPGraph* graph);
    void Add(double x, double y) override;
    std::int64_t Count() const override { return count_; }
    void Clear() override;
    double MinX() const override;
    double MaxX() const override;
    bool Visible() const override;
    void SetVisible(bool visible) override;

    QCPGraph* Graph() const { return graph_; }

  private:
    void UseStore(QSharedPointer<TSeriesStore> store);
    void Detach();
    bool JoinMatching(double x, double y);
    bool OthersHoldPointsInStore() const;

    QcpChartFacility& owner_;
    QCPGraph* graph_;
    // The container this series draws from (shared or its own).
    QSharedPointer<TSeriesStore> store_;
    int count_ = 0;
};

// One class serves both axes; only the bottom axis is handed out with Scroll.
class QcpAxis final : public IChartBottomAxis {
  public:
    QcpAxis(QcpChartFacility& owner, QCPAxis* axis, bool keyAxis);
    bool Automatic() const override { return automatic_; }
    void SetAutomatic(bool automatic) override;
    double Minimum() const override { return min_; }
    double Maximum() const override { return max_; }
    void SetMinimum(double value) override;
    void SetMaximum(double value) override;
    void Scroll(double d) override;
    // Follows the shown data while automatic scaling is on.
    void FitToData();

  private:
    void Apply(double min, double max);
    QcpChartFacility& owner_;
    QCPAxis* axis_;
    bool keyAxis_;
    double min_;
    double max_;
    bool automatic_ = false;
};

class QcpChartFacility final : public IChartFacility {
  public:
    // The graphs become the series in the given order; they must belong to
    // plot and use its xAxis/yAxis. The plot must outlive the facility.
    QcpChartFacility(QCustomPlot& plot, const std::vector<QCPGraph*>& graphs);

    int SeriesCount() const override { return static_cast<int>(series_.size()); }
    IChartSeries& Series(int index) override { return *series_.at(index); }
    QcpSeries& QcpSeriesAt(int index) { return *series_.at(index); }
    IChartBottomAxis& BottomAxis() override { return bottom_; }
    IChartAxis& LeftAxis() override { return left_; }

    // Smallest and largest X over the visible series that hold points.
    bool ShownDataRange(double& minX, double& maxX) const;

    QCustomPlot& Plot() { return plot_; }
    // The series' points or visibility changed (and the bottom axis, if it
    // follows the data, moved with them).
    void DataChanged();
    // `pointsOnly`: nothing but what the series draw changed.
    void QueueReplot(bool pointsOnly = false);
    // Called instead of queueing a replot whenever what the plot shows changed.
    void SetChangeHandler(std::function<void(bool pointsOnly)> handler) {
        onChange_ = std::move(handler);
    }

  private:
    friend class QcpSeries;
    QCustomPlot& plot_;
    std::vector<std::unique_ptr<QcpSeries>> series_;
    QcpAxis bottom_;
    QcpAxis left_;
    std::function<void(bool pointsOnly)> onChange_;
};

} // namespace orvex
