// The window's per-frame cost and its start-up time.
//
// frames/s: frames through the receive handler with the LCD panel, judge,
// record table and grid updated, the window shown on the offscreen platform
// and the event loop run after every batch (so painting is counted); once with
// an empty table, once with a million rows and once with ten million in it.
// start-up ratio: median time from process start to the moment the first
// window is shown (the program prints "shown"), of orvex-interface against the
// smallest Qt window program built here.

#include "app/TFCOMM.h"
#include "bench/BenchSupport.h"
#include "protocol/PacketEncoder.h"
#include "recording/RecordTable.h"
#include "testing/SampleRows.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

std::vector<std::uint8_t> Stream(int packets) {
    std::vector<std::uint8_t> bytes{0x0A};
    for (int i = 0; i < packets; ++i) {
        orvex::PacketFields f;
        const int v = 10000 + (i * 37) % 9000;
        f.digits = {std::uint8_t(v / 10000), std::uint8_t(v / 1000 % 10),
                    std::uint8_t(v / 100 % 10), std::uint8_t(v / 10 % 10), std::uint8_t(v % 10)};
        f.function = 11;
        f.option3 = 10;
        const orvex::Packet p = orvex::EncodePacket(f);
        bytes.insert(bytes.end(), p.begin(), p.end());
    }
    return bytes;
}

// Frames per second for 3 s, after `preloadRows` rows were put into the table.
double MeasureFramesPerSecond(int preloadRows) {
    orvex::TFCOMM window;
    window.action(QStringLiteral("limitess"))->trigger();
    const orvex::RecordRow row = orvex::testing::RecordedRow();
    for (int i = 0; i < preloadRows; ++i)
        window.state().recording.cds1.Append(row);
    window.show();
    QApplication::processEvents();
    const std::vector<std::uint8_t> bytes = Stream(7);
    window.OrvexDATA(nullptr, bytes.data(), 1);
    QElapsedTimer t;
    t.start();
    std::int64_t frames = 0;
    while (t.elapsed() < 3000) {
        window.OrvexDATA(nullptr, bytes.data() + 1, int(bytes.size()) - 1);
        QApplication::processEvents();
        frames += 7;
    }
    return double(frames) * 1e9 / double(t.nsecsElapsed());
}

double MedianStartMs(const char* program, int runs, const QStringList& options = {}) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        p.start(QString::fromLocal8Bit(program),
                QStringList{QStringLiteral("--quit-when-shown")} + options);
        // Up to the moment the window is on screen; the program's ending is not
        // part of its start.
        QByteArray out;
        while (!out.contains("shown\n") && p.waitForReadyRead(30000))
            out += p.readAllStandardOutput();
        if (!out.contains("shown\n")) return -1;
        times.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!p.waitForFinished(30000)) return -1;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const orvex::bench::TScratchStateHome stateHome;
    QApplication app(argc, argv);

    // Start-up first, while this process is small: a fork of a process that held
    // ten million rows takes longer, and that time would count as start-up.
    const int runs = 9;
    const double window = MedianStartMs(ORVEX_INTERFACE_PATH, runs);
    const double minimal = MedianStartMs(ORVEX_MINIMAL_WINDOW_PATH, runs);
    const double withText =
        MedianStartMs(ORVEX_MINIMAL_WINDOW_PATH, runs, {QStringLiteral("--text")});
    std::printf("start-up median of %d runs: orvex-interface %.1f ms, minimal window %.1f ms, "
                "minimal window with a menu bar and a line of text %.1f ms\n",
                runs, window, minimal, withText);
    // Every frame becomes a row ("limitless").
    const double empty = MeasureFramesPerSecond(0);
    const double full = MeasureFramesPerSecond(1000000);
    const double tenMillion = MeasureFramesPerSecond(10000000);
    const double cost1M = full > 0 ? empty / full : 0.0;
    const double cost10M = tenMillion > 0 ? empty / tenMillion : 0.0;
    const double startRatio = minimal > 0 ? window / minimal : 0.0;
    std::printf("frames/s through OrvexDATA, window shown: empty table %.0f, 1M rows %.0f, "
                "10M rows %.0f, frame cost 1M/empty = %.2f, 10M/empty = %.2f\n",
                empty, full, tenMillion, cost1M, cost10M);

    std::printf("window_bench: frames/s = %.0f, frame cost 1M/empty = %.2f, 10M/empty = %.2f, "
                "start-up ratio = %.2f\n",
                empty, cost1M, cost10M, startRatio);
    return 0;
}
