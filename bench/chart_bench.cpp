// Chart pager and view figures: time per AddValue and per drawn page at a
// small and a very large number of points, memory per point, the time of
// LastPage across 100,000 pages, and the cost of a new point on a shown chart.
//
// Run: QT_QPA_PLATFORM=offscreen build-<dir>/bench/chart_bench
// The ratios use CPU time, which the other load of a shared machine disturbs
// less than wall time. The last line is the summary.
#include "chart/TChartControl.h"
#include "chart/TChartView.h"

#include <QApplication>
#include <QImage>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include <sys/mman.h>

using namespace orvex;

namespace {

long RssBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * 4096L;
}

// One chart with its pager, filled once per size and reused by the cases.
struct Filled {
    std::unique_ptr<TChartView> view;
    std::unique_ptr<TChartControl> pager;
    long rssGrowth = 0;
};

std::map<long, Filled>& Charts() {
    static std::map<long, Filled> charts;
    return charts;
}

Filled& ChartWith(long points) {
    auto& charts = Charts();
    auto it = charts.find(points);
    if (it != charts.end()) return it->second;
    Filled f;
    f.view = std::make_unique<TChartView>();
    f.pager = std::make_unique<TChartControl>(f.view->Facility(), 100);
    const long before = RssBytes();
    for (long i = 0; i < points; ++i)
        f.pager->AddValue(static_cast<double>(i % 4000) - 2000.0);
    f.rssGrowth = RssBytes() - before;
    return charts.emplace(points, std::move(f)).first->second;
}

std::map<std::string, double> figures;

// Appending to a chart that holds `points` values. The small chart is put
// back to its size after every thousand appends (outside the timing), the
// large one grows by at most a tenth during the run.
void BM_AddValue(benchmark::State& state) {
    const long points = state.range(0);
    Filled& f = ChartWith(points);
    const long refillAt = points < 100'000 ? 2 * points : 0;
    double v = 0;
    for (auto _ : state) {
        f.pager->AddValue(v);
        v += 1.0;
        if (refillAt && f.view->Facility().Series(0).Count() >= refillAt) {
            state.PauseTiming();
            f.pager->ClearPoints();
            for (long i = 0; i < points; ++i)
                f.pager->AddValue(static_cast<double>(i));
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// A full replot of the newest page into an image.
void BM_PageDraw(benchmark::State& state) {
    Filled& f = ChartWith(state.range(0));
    QImage image(f.view->size(), QImage::Format_RGB32);
    for (auto _ : state) {
        image.fill(Qt::white);
        QCPPainter painter(&image);
        f.view->toPainter(&painter, f.view->width(), f.view->height());
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

// A new point on a shown chart, drawn and painted as a screen refresh does.
void BM_NewPointOnScreen(benchmark::State& state) {
    TChartView view;
    TChartControl pager(view.Facility(), 100);
    view.show();
    QCoreApplication::processEvents();
    long i = 0;
    for (auto _ : state) {
        pager.AddValue(static_cast<double>((i++ * 37) % 4000) - 2000.0);
        view.Redraw();
        view.repaint();
    }
}

BENCHMARK(BM_NewPointOnScreen)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageDraw)->Arg(1000)->Arg(10'000'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AddValue)
    ->Arg(1000)
    ->Arg(10'000'000)
    ->Iterations(1'000'000)
    ->Unit(benchmark::kNanosecond);

class Collect : public benchmark::ConsoleReporter {
  public:
    Collect() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                figures[run.benchmark_name().substr(0, run.benchmark_name().find("/iter"))] =
                    run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// Nanoseconds to touch a page of memory the process has never used, per 4 KiB
// page, in ordinary pages and in huge pages: a growing chart writes into such
// pages (huge ones once its store is large), a refilled small one does not, so
// this is the part of the large chart's AddValue that is the machine's.
double FreshPageNs(bool huge) {
    const std::size_t hugePage = std::size_t(2) << 20;
    const std::size_t bytes = std::size_t(64) << 20;
    void* memory = ::mmap(nullptr, bytes + hugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return 0;
    auto* p = reinterpret_cast<volatile char*>(
        (reinterpret_cast<std::uintptr_t>(memory) + hugePage - 1) / hugePage * hugePage);
    if (huge) ::madvise(const_cast<char*>(p), bytes, MADV_HUGEPAGE);
    const auto t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < bytes; i += 4096)
        p[i] = 1;
    const auto t1 = std::chrono::steady_clock::now();
    ::munmap(memory, bytes + hugePage);
    return std::chrono::duration<double, std::nano>(t1 - t0).count() / double(bytes / 4096);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    // Memory per point, from a fresh 10-million-point chart.
    const long points = 10'000'000;
    const double bytesPerPoint = static_cast<double>(ChartWith(points).rssGrowth) / points;
    std::printf("chart memory: %.1f bytes per point (both series)\n", bytesPerPoint);

    // LastPage across 100,000 pages: 10 million points at 100 per page,
    // browsed back to page 1 first.
    Filled& big = ChartWith(points);
    big.pager->FirstPage();
    const auto t0 = std::chrono::steady_clock::now();
    big.pager->LastPage();
    QCoreApplication::processEvents(); // the queued redraw
    const auto t1 = std::chrono::steady_clock::now();
    const double lastPageMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
    std::printf("LastPage over %d pages: %.2f ms (page %d)\n", big.pager->GetPageCount() - 1,
                lastPageMs, big.pager->GetPage());

    Collect reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto ratio = [](const std::string& a, const std::string& b) {
        auto ia = figures.find(a);
        auto ib = figures.find(b);
        return ia != figures.end() && ib != figures.end() && ib->second > 0
                   ? ia->second / ib->second
                   : 0.0;
    };
    const double drawRatio = ratio("BM_PageDraw/10000000", "BM_PageDraw/1000");
    const double addRatio = ratio("BM_AddValue/10000000", "BM_AddValue/1000");
    for (const bool huge : {false, true}) {
        const double pageNs = FreshPageNs(huge);
        std::printf("first touch of fresh memory%s: %.0f ns per 4 KiB, %.1f ns per point of %.0f "
                    "bytes\n",
                    huge ? " in huge pages" : "", pageNs, pageNs * bytesPerPoint / 4096,
                    bytesPerPoint);
    }
    std::printf("chart_bench: page draw 10M/1k = %.2f, AddValue 10M/1k = %.2f, bytes/point = %.1f, "
                "LastPage 100000 pages ms = %.2f\n",
                drawRatio, addRatio, bytesPerPoint, lastPageMs);
    return 0;
}
