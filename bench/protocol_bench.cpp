// Throughput of the meter protocol: bytes per second through the packet
// assembler and the decoder together, and frames per second through the decoder
// alone.  Ends with one summary line "protocol_bench: bytes/s = N, frames/s = N".

#include "protocol/MeterReading.h"
#include "protocol/PacketAssembler.h"
#include "protocol/PacketEncoder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace orvex;

// A realistic mix: every function, a few ranges and flags, digits 0..9.
std::vector<PacketFields> MixedFields(int count) {
    std::mt19937 rng(1234);
    const std::uint8_t functions[] = {0, 1, 2, 3, 4, 5, 6, 9, 11, 13, 15};
    const std::uint8_t option3s[] = {0x2, 0x6, 0xA, 0x7, 0xB, 0x0};
    std::vector<PacketFields> out;
    for (int i = 0; i < count; ++i) {
        PacketFields f;
        f.range = static_cast<std::uint8_t>(rng() % 8);
        for (auto& d : f.digits)
            d = static_cast<std::uint8_t>(rng() % 10);
        f.function = functions[rng() % std::size(functions)];
        f.status = static_cast<std::uint8_t>(rng() % 16 == 0 ? 1 : (rng() % 8 == 0 ? 4 : 0));
        f.option3 = option3s[rng() % std::size(option3s)];
        out.push_back(f);
    }
    return out;
}

std::vector<std::uint8_t> MixedStream() {
    std::vector<std::uint8_t> stream{0x0A};
    for (const PacketFields& f : MixedFields(1000)) {
        const Packet p = EncodePacket(f);
        stream.insert(stream.end(), p.begin(), p.end());
    }
    return stream;
}

void BM_AssembleAndDecode(benchmark::State& state) {
    const std::vector<std::uint8_t> stream = MixedStream();
    const int run = static_cast<int>(state.range(0)); // bytes per receive event
    const QString sep = QStringLiteral(".");
    TPacketAssembler assembler;
    double sum = 0;
    std::int64_t frames = 0;
    assembler.onFrame = [&](const QString& frame) {
        const DecodeResult res = DecodeFrame(frame, sep, 22000, 22);
        sum += res.reading.scaledValue;
        ++frames;
    };
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < stream.size(); pos += static_cast<std::size_t>(run)) {
            const int n = static_cast<int>(std::min<std::size_t>(run, stream.size() - pos));
            assembler.OrvexDATA(stream.data() + pos, n);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AssembleAndDecode)->Arg(48)->Arg(4096);

void BM_DecodeFrame(benchmark::State& state) {
    std::vector<QString> frames;
    for (const PacketFields& f : MixedFields(1000)) {
        const Packet p = EncodePacket(f);
        QString frame = QStringLiteral("A");
        for (int i = 0; i < 12; ++i)
            frame += QChar(u"0123456789ABCDEF"[p[i] & 0xF]);
        frame += u'D';
        frames.push_back(frame);
    }
    const QString sep = QStringLiteral(".");
    std::size_t i = 0;
    for (auto _ : state) {
        DecodeResult res = DecodeFrame(frames[i], sep, 22000, 22);
        benchmark::DoNotOptimize(res);
        if (++i == frames.size()) i = 0;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_DecodeFrame);

// Prints as usual and keeps the rates of the runs for the summary line.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name = run.benchmark_name();
            auto bytes = run.counters.find("bytes_per_second");
            if (bytes != run.counters.end() && name.find("AssembleAndDecode") != std::string::npos)
                bytesPerSecond = std::min(bytesPerSecond < 0 ? bytes->second.value : bytesPerSecond,
                                          double(bytes->second.value));
            auto items = run.counters.find("items_per_second");
            if (items != run.counters.end() && name.find("DecodeFrame") != std::string::npos)
                framesPerSecond = items->second.value;
        }
    }
    double bytesPerSecond = -1; // the slower of the run sizes
    double framesPerSecond = -1;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("protocol_bench: bytes/s = %.0f, frames/s = %.0f\n",
                reporter.bytesPerSecond < 0 ? 0.0 : reporter.bytesPerSecond,
                reporter.framesPerSecond < 0 ? 0.0 : reporter.framesPerSecond);
    return 0;
}
