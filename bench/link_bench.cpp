// The whole window fed by the virtual meter over a pseudo-terminal: the driver's
// 50 ms poll, the packet assembler, the decoder, the LCD panel, the judge, the
// record table with its grid and the chart, on the offscreen platform.
//
// Three live runs: the line's top rate (about 137 packets per second) with the
// table growing, the same rate with the table at its record limit (10,000 rows
// held, every frame refused), and a real meter's 2 per second.  Each prints the packets sent and
// decoded and the CPU time of the user-interface thread per decoded frame (idle ticks and drawing
// included).  ORVEX_LINK_BENCH_SECONDS sets the length of a run (default 30);
// ORVEX_LINK_BENCH_ONLY=top, limit or meter runs only that one (for a profiler).

#include "app/TFCOMM.h"
#include "app/tests/ScriptedDialogs.h"
#include "bench/BenchSupport.h"
#include "link/ConnectionControl.h"
#include "link/SerialPortDriver.h"
#include "protocol/PacketEncoder.h"
#include "recording/Recorder.h"
#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace orvex;

namespace {

double ThreadCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

struct Figures {
    long long sent = 0, decoded = 0;
    double cpuPerFrameUs = 0;
};

// `atLimit`: the table starts full at the default limit of 10,000 rows, so every
// frame is decoded, judged and shown but refused by the table (and the chart).
Figures Run(double rate, double seconds, bool atLimit = false) {
    Figures f;
    sim::TMeterPty pty;
    std::string error;
    if (!pty.Open(&error)) {
        std::printf("link_bench: no pseudo-terminal: %s\n", error.c_str());
        return f;
    }
    // The record-limit notice is taken as read: a person would close it and
    // leave the window logging; a modal box here would hold the run.
    testing::ScriptedDialogs dialogs;
    WindowOptions options;
    options.dialogs = &dialogs;
    options.portPaths[0] = QString::fromStdString(pty.devicePath());
    TFCOMM window(options);
    if (atLimit) {
        // The table reaches its limit the way a long run does: the meter's packets
        // through the receive handler, so the chart holds the last page recorded.
        window.action(QStringLiteral("N100001"))->trigger();
        const TRecorder& recorder = window.state().recording.recorder;
        sim::TMeterScenario scenario(8);
        std::vector<std::uint8_t> bytes{0x0A};
        while (recorder.recordCount < recorder.recordLimit) {
            bytes.resize(1);
            for (int i = 0; i < 100; ++i) {
                const Packet packet = EncodePacket(scenario.Next());
                bytes.insert(bytes.end(), packet.begin(), packet.end());
            }
            window.OrvexDATA(nullptr, bytes.data(), int(bytes.size()));
            QApplication::processEvents();
        }
    } else {
        window.action(QStringLiteral("limitess"))->trigger();
    }
    window.show();
    QApplication::processEvents();
    window.action(QStringLiteral("START1"))->trigger();
    if (!window.COMM2().Connected()) {
        std::printf("link_bench: the window could not open %s\n", pty.devicePath().c_str());
        return f;
    }

    std::atomic<bool> stop{false};
    std::atomic<long long> sent{0};
    // A packet's text starts with the line feed that ends the one before it: the
    // first packet needs one in front, unless the fill above left its own.
    const std::uint8_t lf = 0x0A;
    if (window.state().protocol.assembler.lowNibbleText().isEmpty()) pty.Write(&lf, 1);
    std::thread meter([&] {
        sim::TMeterScenario scenario(8);
        sim::TPacer pacer(rate);
        while (!stop.load()) {
            if (!pacer.WaitNext(nullptr) || stop.load()) break;
            const Packet packet = EncodePacket(scenario.Next());
            if (pty.Write(packet.data(), packet.size()) == packet.size()) ++sent;
        }
    });
    const int decoded0 = window.state().protocol.decodedFrames;
    const double cpu0 = ThreadCpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, [&] {
        stop = true;
        meter.join();
        QTimer::singleShot(300, &loop, &QEventLoop::quit); // the last tick takes the tail
    });
    loop.exec();
    const double cpu = ThreadCpuSeconds() - cpu0;
    f.sent = sent.load();
    f.decoded = window.state().protocol.decodedFrames - decoded0;
    f.cpuPerFrameUs = f.decoded ? cpu * 1e6 / double(f.decoded) : 0.0;
    window.action(QStringLiteral("STOP1"))->trigger();
    return f;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const orvex::bench::TScratchStateHome stateHome;
    QApplication app(argc, argv);
    const char* env = std::getenv("ORVEX_LINK_BENCH_SECONDS");
    const double seconds = env ? std::atof(env) : 30.0;
    const QByteArray only = qgetenv("ORVEX_LINK_BENCH_ONLY");
    if (!only.isEmpty()) {
        const Figures f = only == "meter"
                              ? Run(2.0, seconds)
                              : Run(sim::kMaxPacketsPerSecond, seconds, only == "limit");
        std::printf("link_bench (%s only): sent = %lld, decoded = %lld, lost = %lld, "
                    "cpu us/frame = %.1f\n",
                    only.constData(), f.sent, f.decoded, f.sent - f.decoded, f.cpuPerFrameUs);
        return 0;
    }

    const Figures top = Run(sim::kMaxPacketsPerSecond, seconds);
    std::printf("top rate %.1f/s for %.0f s: sent = %lld, decoded = %lld, lost = %lld, "
                "cpu us/frame = %.1f, cpu share = %.2f%% of one core\n",
                sim::kMaxPacketsPerSecond, seconds, top.sent, top.decoded, top.sent - top.decoded,
                top.cpuPerFrameUs, top.cpuPerFrameUs * double(top.decoded) / (seconds * 1e4));
    const Figures full = Run(sim::kMaxPacketsPerSecond, seconds, true);
    std::printf("top rate at the record limit for %.0f s: sent = %lld, decoded = %lld, "
                "lost = %lld, cpu us/frame = %.1f\n",
                seconds, full.sent, full.decoded, full.sent - full.decoded, full.cpuPerFrameUs);
    const Figures slow = Run(2.0, seconds);
    std::printf("meter rate 2/s for %.0f s: sent = %lld, decoded = %lld, lost = %lld, "
                "cpu us/frame = %.1f\n",
                seconds, slow.sent, slow.decoded, slow.sent - slow.decoded, slow.cpuPerFrameUs);
    std::printf("link_bench: sent = %lld, decoded = %lld, lost = %lld, cpu us/frame = %.1f, "
                "at limit cpu us/frame = %.1f\n",
                top.sent, top.decoded, top.sent - top.decoded, top.cpuPerFrameUs,
                full.cpuPerFrameUs);
    return 0;
}
