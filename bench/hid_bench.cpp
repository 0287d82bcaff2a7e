// The USB adapter cable's road without the window: input reports -> the
// controller's reading thread -> synchronous hand-over to the user-interface
// thread -> OrvexHidData -> decoder.  The device is the in-memory HID layer
// (this machine has no HID devices), fed by a producer thread.
//
// 1. Google Benchmark: OrvexHidData alone, per report (no thread, no hand-over).
// 2. Throughput: as many reports as the road takes, as fast as they come.
// 3. The cable's full rate: a 19200 bit/s line fills about 250 reports of 8
//    bytes a second; CPU of the process (reading thread and user-interface
//    thread, the producer's own CPU left out) per report.  Three runs, the
//    median counts: on a paravirtualised machine the cost of a thread wake-up
//    varies several-fold from run to run.  ORVEX_HID_BENCH_SECONDS sets the
//    length of each run (default 5).
// Summary line:  hid_bench: reports/s = N, cpu us/report = N

#include "link/HidDeviceController.h"
#include "link/MemoryHidPlatform.h"
#include "link/UsbCableLink.h"
#include "protocol/MeterReading.h"
#include "protocol/PacketAssembler.h"
#include "protocol/PacketEncoder.h"
#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>

using namespace orvex;

namespace {

constexpr double kCableReportsPerSecond = 250.0;

double CpuSeconds(int who) {
    rusage ru{};
    getrusage(who, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// The reports of a stream of meter packets, report ID first.
std::vector<std::vector<std::uint8_t>> StreamReports(int packets) {
    std::vector<std::vector<std::uint8_t>> reports;
    sim::TMeterScenario scenario(9);
    for (int i = 0; i < packets; ++i) {
        const Packet p = EncodePacket(scenario.Next());
        for (auto& r : sim::CableReports(p.data(), p.size())) {
            r.insert(r.begin(), 0x00);
            reports.push_back(std::move(r));
        }
    }
    return reports;
}

struct Road {
    std::shared_ptr<TMemoryHidPlatform> platform = std::make_shared<TMemoryHidPlatform>(false);
    std::unique_ptr<THidDeviceController> HidCtl;
    TPacketAssembler frames;
    std::unique_ptr<TUsbCableLink> cable;
    std::atomic<long long> reports{0};
    long long decoded = 0;
    const QString path = QStringLiteral("/dev/hidraw0");

    Road() {
        TMemoryHidDeviceSpec spec;
        spec.devicePath = path;
        spec.deviceInstance = QStringLiteral("/sys/bench/0");
        spec.product = u"USB to Serial";
        platform->AddDevice(spec);
        HidCtl = std::make_unique<THidDeviceController>(platform);
        cable = std::make_unique<TUsbCableLink>(HidCtl.get(), frames);
        cable->onReport = [this](std::uint8_t, const std::uint8_t*, std::uint16_t) { ++reports; };
        cable->onFrame = [this](const QString& frame) {
            if (DecodeFrame(frame, QStringLiteral("."), 22000, 22).ok) ++decoded;
        };
        cable->AssignHandlers();
        cable->SetFeatureClick();
        cable->StartReading(cable->SelectedDevice());
    }
    ~Road() {
        cable.reset();
        HidCtl.reset();
    }
};

void BM_OrvexHidData(benchmark::State& state) {
    TPacketAssembler frames;
    TUsbCableLink cable(nullptr, frames);
    long long decoded = 0;
    cable.onFrame = [&](const QString& f) {
        if (DecodeFrame(f, QStringLiteral("."), 22000, 22).ok) ++decoded;
    };
    const auto reports = StreamReports(300);
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& r = reports[i];
        cable.OrvexHidData(nullptr, r[0], r.data() + 1, std::uint16_t(r.size() - 1));
        if (++i == reports.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["decoded"] = benchmark::Counter(double(decoded));
}
BENCHMARK(BM_OrvexHidData);

// Every report at once: how many the road takes per second.
double Throughput() {
    Road road;
    const auto reports = StreamReports(100000); // 300,000 reports
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    std::thread producer([&] {
        pthread_setname_np(pthread_self(), "producer");
        for (const auto& r : reports)
            road.platform->PushReport(road.path, r);
    });
    while (road.reports.load() < static_cast<long long>(reports.size()) && clock.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double seconds = clock.nsecsElapsed() * 1e-9;
    producer.join();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    const double rate = road.reports.load() / seconds;
    std::printf("hid_bench: throughput: %lld reports (%lld packets decoded) in %.2f s = %.0f "
                "reports/s, cpu %.2f us/report\n",
                road.reports.load(), road.decoded, seconds, rate,
                cpu * 1e6 / double(std::max<long long>(road.reports.load(), 1)));
    std::fflush(stdout);
    return rate;
}

// The cable's own pace for `seconds`.
double FullRate(double seconds) {
    Road road;
    std::atomic<bool> stop{false};
    std::atomic<long long> sent{0};
    double producerCpu = 0;
    const auto reports = StreamReports(int(kCableReportsPerSecond * seconds / 3) + 10);
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    std::thread producer([&] {
        pthread_setname_np(pthread_self(), "producer");
        const double start = CpuSeconds(RUSAGE_THREAD);
        sim::TPacer pacer(kCableReportsPerSecond);
        for (std::size_t i = 0; i < reports.size() && !stop; ++i) {
            if (!pacer.WaitNext(nullptr)) break;
            road.platform->PushReport(road.path, reports[i]);
            ++sent;
        }
        producerCpu = CpuSeconds(RUSAGE_THREAD) - start;
    });
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, [&] {
        stop = true;
        producer.join();
        QTimer::singleShot(200, &loop, &QEventLoop::quit); // the last hand-overs
    });
    loop.exec();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpu0 - producerCpu;
    const long long got = road.reports.load();
    const double perReport = cpu * 1e6 / double(std::max<long long>(got, 1));
    std::printf("hid_bench: cable rate %.0f reports/s for %.0f s: sent = %lld, handed over = %lld, "
                "lost = %lld, packets decoded = %lld, cpu %.1f us/report (%.3f%% of one core)\n",
                kCableReportsPerSecond, seconds, sent.load(), got, sent.load() - got, road.decoded,
                perReport, 100.0 * cpu / seconds);
    std::fflush(stdout);
    return perReport;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bool ok = false;
    double seconds = qEnvironmentVariable("ORVEX_HID_BENCH_SECONDS").toDouble(&ok);
    if (!ok || seconds <= 0) seconds = 5.0;
    const double rate = Throughput();
    std::vector<double> cpu;
    for (int run = 0; run < 3; ++run)
        cpu.push_back(FullRate(seconds));
    std::sort(cpu.begin(), cpu.end());
    std::printf("hid_bench: reports/s = %.0f, cpu us/report = %.1f\n", rate, cpu[1]);
    return 0;
}
