// The LCD panel's own per-frame cost: RenderReading, AppendTrace and SetBarPosition
// for a stream of changing readings, with and without painting the panel
// (offscreen platform).  Prints "display_bench: frames/s = N (painted M)".

#include "display/LcdPanel.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

namespace {

using orvex::Indicator;

struct Frame {
    orvex::MeterReading reading;
    QString frameText;
    QString bitText;
};

std::vector<Frame> Frames() {
    std::vector<Frame> frames;
    const Indicator points[] = {Indicator::LcdP0, Indicator::LcdP1, Indicator::LcdP2,
                                Indicator::LcdP3};
    for (int i = 0; i < 64; ++i) {
        Frame f;
        const int v = (i * 3371) % 22000;
        const QString digits = QStringLiteral("%1").arg(v, 5, 10, QChar(u'0'));
        for (int d = 0; d < 5; ++d)
            f.reading.digitTexts[std::size_t(d)] = digits.mid(d, 1);
        f.reading.litSet.add(points[i % 4]);
        f.reading.litSet.add(i % 2 ? Indicator::LcdV : Indicator::LCDohm);
        f.reading.litSet.add(i % 3 ? Indicator::LcdAuto : Indicator::LcdManu);
        if (i % 5 == 0) f.reading.litSet.add(Indicator::LCDHold);
        f.frameText = QStringLiteral("A0") + digits + QStringLiteral("B000A0D");
        f.bitText = QString(48, u'0');
        frames.push_back(f);
    }
    return frames;
}

void Run(benchmark::State& state, bool paint) {
    orvex::TLcdPanel panel;
    panel.SetBarMaximum(22);
    panel.show();
    QImage image(panel.size(), QImage::Format_ARGB32_Premultiplied);
    const std::vector<Frame> frames = Frames();
    std::size_t i = 0;
    for (auto _ : state) {
        const Frame& f = frames[i++ % frames.size()];
        panel.AppendTrace(f.frameText, f.bitText);
        panel.RenderReading(f.reading);
        panel.SetBarPosition(f.reading.digitTexts[1].toInt() + 1);
        if (paint) {
            QPainter painter(&image);
            panel.render(&painter);
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_PanelFrame(benchmark::State& state) {
    Run(state, false);
}
void BM_PanelFramePainted(benchmark::State& state) {
    Run(state, true);
}
BENCHMARK(BM_PanelFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PanelFramePainted)->Unit(benchmark::kMicrosecond);

class Summary : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const double perSecond = run.iterations / run.real_accumulated_time;
            if (run.benchmark_name() == "BM_PanelFrame") plain_ = perSecond;
            if (run.benchmark_name() == "BM_PanelFramePainted") painted_ = perSecond;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double plain_ = 0, painted_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Summary reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("display_bench: frames/s = %.0f (painted %.0f)\n", reporter.plain_,
                reporter.painted_);
    benchmark::Shutdown();
    return 0;
}
