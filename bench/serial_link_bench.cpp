// The serial road of a packet without the window: virtual meter -> pseudo-
// terminal -> TSerialPortDriver poll -> packet assembler -> decoder.
//
// 1. Google Benchmark cases: one poll taking k packets (1, 7 = one 50 ms tick
//    of a full line, 100), CPU per frame.
// 2. Live runs on the driver's own 50 ms timer, with the meter sending from a
//    second thread at the line's top rate and at a real meter's 2 packets per
//    second.  Each prints
//      serial_link_bench: rate = R, sent = N, decoded = N, lost = N, cpu us/frame = T
//    (CPU of the user-interface thread, idle polling included).
//    ORVEX_LINK_BENCH_SECONDS sets the length of each live run (default 10).

#include "link/SerialPortDriver.h"
#include "protocol/MeterReading.h"
#include "protocol/PacketAssembler.h"
#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <sys/resource.h>
#include <thread>

using namespace orvex;

namespace {

double ThreadCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

struct Pipeline {
    sim::TMeterPty pty;
    TSerialPortDriver driver;
    TPacketAssembler assembler;
    long long frames = 0, decoded = 0;

    bool Open() {
        std::string error;
        if (!pty.Open(&error)) return false;
        driver.SetPortDevicePath(TSerialPortDriver::pnCOM1,
                                 QString::fromStdString(pty.devicePath()));
        ConfigureAsCOMM2(driver);
        assembler.onFrame = [this](const QString& frame) {
            ++frames;
            if (DecodeFrame(frame, QStringLiteral("."), 22000, 22).ok) ++decoded;
        };
        driver.OnReceiveData = [this](TSerialPortDriver*, const std::uint8_t* data, int size) {
            assembler.OrvexDATA(data, size);
        };
        return driver.Connect();
    }
};

void BM_PollAssembleDecode(benchmark::State& state) {
    Pipeline p;
    if (!p.Open()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    p.driver.SetComPortPollingDelay(60000); // polled by hand below
    const int k = static_cast<int>(state.range(0));
    sim::TMeterScenario scenario(2);
    std::vector<std::uint8_t> batch;
    for (int i = 0; i < k; ++i) {
        const Packet packet = EncodePacket(scenario.Next());
        batch.insert(batch.end(), packet.begin(), packet.end());
    }
    for (auto _ : state) {
        state.PauseTiming();
        p.pty.Write(batch.data(), batch.size());
        while (p.driver.InputQueueCount() < static_cast<int>(batch.size()))
            QThread::usleep(50);
        state.ResumeTiming();
        p.driver.PollReceive();
    }
    state.counters["frames"] = benchmark::Counter(static_cast<double>(p.decoded));
    state.counters["cpu_per_frame"] = benchmark::Counter(
        static_cast<double>(p.decoded), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(p.decoded);
}
BENCHMARK(BM_PollAssembleDecode)->Arg(1)->Arg(7)->Arg(100);

void LiveRun(const char* label, double rate, double seconds) {
    Pipeline p;
    if (!p.Open()) {
        std::printf("serial_link_bench: no pseudo-terminal\n");
        return;
    }
    std::atomic<bool> stop{false};
    std::atomic<long long> sent{0};
    // Each packet starts with the line feed that ends the packet before, so
    // the very first one lines the stream up: send one extra line feed first.
    const std::uint8_t lf = 0x0A;
    p.pty.Write(&lf, 1);
    std::thread meter([&] {
        sim::TMeterScenario scenario(8);
        sim::TPacer pacer(rate);
        while (!stop.load()) {
            if (!pacer.WaitNext(nullptr)) break;
            if (stop.load()) break;
            const Packet packet = EncodePacket(scenario.Next());
            // The meter's bytes end with CR LF; the assembler frames on CR
            // with the LF opening the next packet.
            if (p.pty.Write(packet.data(), packet.size()) == packet.size()) ++sent;
        }
    });
    const double cpu0 = ThreadCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, [&] {
        stop = true;
        meter.join();
        // Let the next tick take the tail of the stream.
        QTimer::singleShot(200, &loop, &QEventLoop::quit);
    });
    loop.exec();
    const double cpu = ThreadCpuSeconds() - cpu0;
    const long long n = sent.load();
    std::printf("serial_link_bench: %s rate = %.1f/s, sent = %lld, decoded = %lld, lost = %lld, "
                "cpu us/frame = %.1f, cpu share = %.3f%% of one core\n",
                label, rate, n, p.decoded, n - p.decoded,
                p.decoded ? cpu * 1e6 / static_cast<double>(p.decoded) : 0.0,
                100.0 * cpu / (static_cast<double>(clock.elapsed()) / 1000.0));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bool ok = false;
    double seconds = qEnvironmentVariable("ORVEX_LINK_BENCH_SECONDS").toDouble(&ok);
    if (!ok || seconds <= 0) seconds = 10.0;
    LiveRun("line maximum", sim::kMaxPacketsPerSecond, seconds);
    LiveRun("meter default", sim::kDefaultPacketsPerSecond, seconds);
    return 0;
}
