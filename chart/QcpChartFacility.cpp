#include "chart/QcpChartFacility.h"

#include <cmath>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace orvex {

namespace {

bool SamePoint(const QCPGraphData& p, double x, double y) {
    const bool sameValue = p.value == y || (std::isnan(p.value) && std::isnan(y));
    return p.key == x && sameValue;
}

// Beyond this size a block of points is surely a mapping of its own (the C
// library maps large blocks separately and grows them by remapping), so the
// advice touches nothing else and follows the block as it grows.
constexpr std::size_t kHugePagesFrom = std::size_t(32) << 20;

} // namespace

// ---------------------------------------------------------------- store

void TSeriesStore::Add(const QCPGraphData& point) {
    add(point);
    if (mData.constData() != advised_ &&
        std::size_t(mData.capacity()) * sizeof(QCPGraphData) >= kHugePagesFrom)
        AdviseHugePages();
}

// Only advice: where the kernel has no huge pages to give, the points are
// held in ordinary pages as before.
void TSeriesStore::AdviseHugePages() {
    advised_ = mData.constData();
    const auto page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const auto first = std::uintptr_t(mData.constData());
    const auto last = first + std::size_t(mData.capacity()) * sizeof(QCPGraphData);
    const std::uintptr_t start = first / page * page;
    ::madvise(reinterpret_cast<void*>(start), (last - start + page - 1) / page * page,
              MADV_HUGEPAGE);
}

// ---------------------------------------------------------------- series

QcpSeries::QcpSeries(QcpChartFacility& owner, QCPGraph* graph) : owner_(owner), graph_(graph) {
    auto store = QSharedPointer<TSeriesStore>::create();
    store->add(*graph->data());
    UseStore(store);
    count_ = store_->size();
}

void QcpSeries::UseStore(QSharedPointer<TSeriesStore> store) {
    store_ = std::move(store);
    graph_->setData(store_);
}

bool QcpSeries::OthersHoldPointsInStore() const {
    for (const auto& other : owner_.series_) {
        if (other.get() != this && other->store_ == store_ && other->count_ > 0) return true;
    }
    return false;
}

// Gives this series a container of its own holding exactly its points.
void QcpSeries::Detach() {
    auto own = QSharedPointer<TSeriesStore>::create();
    if (count_ > 0) {
        QVector<QCPGraphData> points(store_->constBegin(), store_->constBegin() + count_);
        own->set(points, true);
    }
    UseStore(own);
}

// A series that has just been emptied shares again with another series whose
// container starts with the same point.
bool QcpSeries::JoinMatching(double x, double y) {
    for (const auto& other : owner_.series_) {
        if (other.get() == this || other->store_ == store_) continue;
        if (!other->store_->isEmpty() && SamePoint(*other->store_->constBegin(), x, y)) {
            UseStore(other->store_);
            count_ = 1;
            return true;
        }
    }
    return false;
}

void QcpSeries::Add(double x, double y) {
    if (count_ < store_->size()) {
        if (SamePoint(*store_->at(count_), x, y)) {
            ++count_;
            owner_.DataChanged();
            return;
        }
        if (count_ == 0 && JoinMatching(x, y)) {
            owner_.DataChanged();
            return;
        }
        Detach();
    } else if (count_ == 0 && JoinMatching(x, y)) {
        owner_.DataChanged();
        return;
    }
    // Here the series holds the whole container. A point that does not go to
    // the end would be sorted into the middle and change what the other
    // sharers see, so the series takes its own copy first.
    if (!store_->isEmpty() && x < (store_->constEnd() - 1)->key && OthersHoldPointsInStore())
        Detach();
    store_->Add(QCPGraphData(x, y));
    ++count_;
    owner_.DataChanged();
}

void QcpSeries::Clear() {
    count_ = 0;
    if (OthersHoldPointsInStore())
        UseStore(QSharedPointer<TSeriesStore>::create());
    else
        store_->clear();
    owner_.DataChanged();
}

// The container is sorted by X, and this series' points are its first count_.
double QcpSeries::MinX() const {
    return count_ > 0 ? store_->constBegin()->key : 0.0;
}

double QcpSeries::MaxX() const {
    return count_ > 0 ? store_->at(count_ - 1)->key : 0.0;
}

bool QcpSeries::Visible() const {
    return graph_->visible();
}

void QcpSeries::SetVisible(bool visible) {
    graph_->setVisible(visible);
    owner_.DataChanged();
}

// ---------------------------------------------------------------- axes

QcpAxis::QcpAxis(QcpChartFacility& owner, QCPAxis* axis, bool keyAxis)
    : owner_(owner), axis_(axis), keyAxis_(keyAxis), min_(axis->range().lower),
      max_(axis->range().upper) {}

void QcpAxis::Apply(double min, double max) {
    min_ = min;
    max_ = max;
    // The limits above stay the truth. QCustomPlot ignores a range of no width
    // (a page of one point, equal limits typed in): it is drawn one unit wide
    // around that place instead.
    if (max - min > 0)
        axis_->setRange(min, max);
    else
        axis_->setRange(min - 0.5, max + 0.5);
    owner_.QueueReplot();
}

void QcpAxis::SetAutomatic(bool automatic) {
    automatic_ = automatic;
    if (automatic_) FitToData();
}

void QcpAxis::SetMinimum(double value) {
    if (value > max_) throw EChartAxisError(kAxisMinimumRefused);
    Apply(value, max_);
}

void QcpAxis::SetMaximum(double value) {
    if (value < min_) throw EChartAxisError(kAxisMaximumRefused);
    Apply(min_, value);
}

void QcpAxis::Scroll(double d) {
    double minX = 0.0;
    double maxX = 0.0;
    owner_.ShownDataRange(minX, maxX);
    if (d > 0 && maxX > max_)
        Apply(min_ + d, max_ + d);
    else if (d < 0 && minX < min_)
        Apply(min_ + d, max_ + d);
}

// Only the bottom axis follows the data; X limits are known in O(1).
void QcpAxis::FitToData() {
    if (!automatic_ || !keyAxis_) return;
    double minX = 0.0;
    double maxX = 0.0;
    owner_.ShownDataRange(minX, maxX);
    if (minX != min_ || maxX != max_) Apply(minX, maxX);
}

// ---------------------------------------------------------------- facility

QcpChartFacility::QcpChartFacility(QCustomPlot& plot, const std::vector<QCPGraph*>& graphs)
    : plot_(plot), bottom_(*this, plot.xAxis, true), left_(*this, plot.yAxis, false) {
    for (QCPGraph* graph : graphs)
        series_.push_back(std::make_unique<QcpSeries>(*this, graph));
}

bool QcpChartFacility::ShownDataRange(double& minX, double& maxX) const {
    bool found = false;
    minX = 0.0;
    maxX = 0.0;
    for (const auto& s : series_) {
        if (!s->Visible() || s->Count() == 0) continue;
        const double lo = s->MinX();
        const double hi = s->MaxX();
        if (!found || lo < minX) minX = lo;
        if (!found || hi > maxX) maxX = hi;
        found = true;
    }
    return found;
}

void QcpChartFacility::DataChanged() {
    bottom_.FitToData(); // an axis that moves queues a full replot itself
    QueueReplot(true);
}

void QcpChartFacility::QueueReplot(bool pointsOnly) {
    if (onChange_)
        onChange_(pointsOnly);
    else
        plot_.replot(QCustomPlot::rpQueuedReplot);
}

} // namespace orvex
