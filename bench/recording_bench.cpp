// Record table and recording pipeline figures:
//  - rows appended per second and resident bytes per row at 1 and 10 million rows;
//  - frames per second through assembler -> decoder -> judge -> recorder -> shown
//    grid, with the table already holding 1 million rows against an empty table.
// Figures are printed; nothing here is a pass/fail check.

#include "protocol/MeterReading.h"
#include "protocol/PacketAssembler.h"
#include "protocol/PacketEncoder.h"
#include "recording/LimitJudge.h"
#include "recording/RecordGrid.h"
#include "recording/Recorder.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <unistd.h>
#include <vector>

using namespace orvex;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

std::size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// 2026-12-10T00:00:00+01:00, in milliseconds since the epoch.
constexpr std::int64_t kFirstMoment = 1796857200000;

// Texts as the meter produces them: a wandering reading with four decimals, a time
// of day that moves one second every few rows with its timestamp, a handful of
// functions and units.
struct ReadingPool {
    std::vector<QString> values;
    std::vector<QString> times;
    QString functions[4] = {"DC", "AC", "Ohm", "Frequency"};
    QString units[4] = {"V", "mV", "K*", "Hz"};
    QString verdicts[2] = {"Pass", "Fail"};

    ReadingPool() {
        values.reserve(44001);
        for (int c = -22000; c <= 22000; ++c)
            values.push_back(QString::number(c / 10000.0, 'f', 4));
        times.reserve(86400);
        for (int s = 0; s < 86400; ++s)
            times.push_back(FormatTimeText(QTime(0, 0).addSecs(s), ":"));
    }

    RecordRow Row(int i, std::uint32_t& walk) const {
        walk = walk * 1664525u + 1013904223u;
        RecordRow row;
        const int value = static_cast<int>((walk >> 8) % values.size());
        row.fields[FieldNo] = FieldValue::Int(i + 1);
        row.fields[FieldTime] = FieldValue::Text(times[static_cast<std::size_t>(i / 3 % 86400)]);
        row.fields[FieldDcAc] = FieldValue::Text(functions[(i >> 14) & 3]);
        row.fields[FieldValue] = FieldValue::Text(values[static_cast<std::size_t>(value)]);
        row.fields[FieldUnit] = FieldValue::Text(units[(i >> 14) & 3]);
        row.fields[FieldAuto] = FieldValue::Text(verdicts[value > 30000 ? 1 : 0]);
        row.fields[FieldNVal] = FieldValue::Int(value - 22000);
        // Recorded from the meter: every row carries its moment (a reading every 333 ms).
        row.timestamp = RecordTimestamp::Of(kFirstMoment + std::int64_t(i) * 333, 60);
        return row;
    }
};

struct TableFigures {
    double bytesPerRow1M = 0;
    double bytesPerRow10M = 0;
    double rowsPerSecond = 0;
    double heldBytesPerRow10M = 0;
};

TableFigures MeasureTable(const ReadingPool& pool) {
    TableFigures f;
    const std::size_t before = ResidentBytes();
    auto table = std::make_unique<RecordTable>();
    std::uint32_t walk = 1;
    const auto start = Clock::now();
    for (int i = 0; i < 1000000; ++i)
        table->Append(pool.Row(i, walk));
    const double t1 = Seconds(start);
    f.bytesPerRow1M = static_cast<double>(ResidentBytes() - before) / 1e6;
    for (int i = 1000000; i < 10000000; ++i)
        table->Append(pool.Row(i, walk));
    const double t10 = Seconds(start);
    f.bytesPerRow10M = static_cast<double>(ResidentBytes() - before) / 1e7;
    f.heldBytesPerRow10M = static_cast<double>(table->memoryBytes()) / 1e7;
    f.rowsPerSecond = 1e7 / t10;
    std::printf("table: 1M rows in %.3f s (%.0f rows/s), %.1f bytes/row resident\n", t1, 1e6 / t1,
                f.bytesPerRow1M);
    std::printf("table: 10M rows in %.3f s (%.0f rows/s), %.1f bytes/row resident, %.1f held\n",
                t10, f.rowsPerSecond, f.bytesPerRow10M, f.heldBytesPerRow10M);
    return f;
}

// The frame handling of the window, without the panel and chart: assemble, decode,
// normalise the limit texts, judge, record; the grid is shown and follows.
struct Pipeline {
    RecordTable table;
    TRecorder recorder{&table};
    TPacketAssembler assembler;
    std::unique_ptr<TRecordGridModel> model;
    std::unique_ptr<TRecordGrid> grid;
    QString hi = "22000", lo = "-22000";
    long frames = 0;

    void Attach() {
        recorder.ChooseLimitItem(5);
        model = std::make_unique<TRecordGridModel>(&table);
        grid = std::make_unique<TRecordGrid>();
        SetupRecordGrid(grid.get(), model.get());
        grid->resize(420, 300);
        grid->show();
        QCoreApplication::processEvents();
        assembler.onFrame = [this](const QString& frame) { OnFrame(frame); };
    }

    void OnFrame(const QString& frame) {
        const QString separator = ReadDecimalSeparator();
        const QString h = NormaliseLimitSeparator(hi, separator);
        if (h != hi) hi = h;
        const QString l = NormaliseLimitSeparator(lo, separator);
        if (l != lo) lo = l;
        const DecodeResult decoded = DecodeFrame(frame, separator, 22000, 22);
        if (!decoded.ok) return;
        const Verdict verdict =
            JudgeReading(decoded.reading.valueText, FrameDigits(frame), lo, hi, separator);
        RecordInput in;
        in.SetReading(decoded.reading);
        in.verdictText = VerdictText(verdict);
        SetRecordMomentNow(in);
        recorder.INDataToTable(in);
        ++frames;
    }
};

std::vector<std::uint8_t> MakeStream(int packets) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(packets) * 14);
    std::uint32_t walk = 7;
    for (int i = 0; i < packets; ++i) {
        walk = walk * 1664525u + 1013904223u;
        PacketFields f;
        f.range = 0;
        int v = static_cast<int>((walk >> 8) % 22000);
        for (int d = 4; d >= 0; --d) {
            f.digits[static_cast<std::size_t>(d)] = static_cast<std::uint8_t>(v % 10);
            v /= 10;
        }
        f.function = 11;
        f.option3 = 10; // DC, AUTO
        const Packet p = EncodePacket(f);
        bytes.insert(bytes.end(), p.begin(), p.end());
    }
    return bytes;
}

// Frames per second with `prefill` rows in the table before the grid is attached.
double MeasurePipeline(const ReadingPool& pool, int prefill,
                       const std::vector<std::uint8_t>& stream) {
    Pipeline p;
    std::uint32_t walk = 3;
    for (int i = 0; i < prefill; ++i)
        p.table.Append(pool.Row(i, walk));
    p.recorder.nextRecordNo = prefill + 1;
    p.Attach();
    constexpr int kBatchPackets = 10; // what one 50 ms poll of a busy line brings
    const int batchBytes = kBatchPackets * 14;
    const auto start = Clock::now();
    for (std::size_t at = 0; at < stream.size(); at += static_cast<std::size_t>(batchBytes)) {
        const int n = static_cast<int>(std::min<std::size_t>(batchBytes, stream.size() - at));
        p.assembler.OrvexDATA(stream.data() + at, n);
        QCoreApplication::processEvents();
    }
    const double t = Seconds(start);
    const double fps = static_cast<double>(p.frames) / t;
    std::printf("pipeline: %ld frames with %d rows before: %.3f s, %.0f frames/s, grid at row %d\n",
                p.frames, prefill, t, fps, p.grid->currentIndex().row());
    return fps;
}

void BM_TableAppend(benchmark::State& state) {
    static const ReadingPool pool;
    RecordTable table;
    std::uint32_t walk = 1;
    int i = 0;
    for (auto _ : state) {
        table.Append(pool.Row(i++, walk));
        if (i == 2000000) {
            state.PauseTiming();
            table.Empty();
            i = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TableAppend)->MinTime(0.5);

void BM_TableReadRow(benchmark::State& state) {
    static const ReadingPool pool;
    RecordTable table;
    std::uint32_t walk = 1;
    for (int i = 0; i < 100000; ++i)
        table.Append(pool.Row(i, walk));
    int i = 0;
    for (auto _ : state) {
        for (int f = 0; f < RecordTable::kFieldCount; ++f)
            benchmark::DoNotOptimize(table.Text(i, f));
        i = (i + 7919) % 100000;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TableReadRow)->MinTime(0.3);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // --pipeline-only: just the frame figures (for profiling).
    bool pipelineOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--pipeline-only") {
            pipelineOnly = true;
            for (int j = i; j + 1 < argc; ++j)
                argv[j] = argv[j + 1];
            --argc;
            break;
        }
    }
    const ReadingPool pool;
    TableFigures table;
    if (!pipelineOnly) {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        table = MeasureTable(pool);
    }

    const std::vector<std::uint8_t> stream = MakeStream(30000);
    const double fpsEmpty = MeasurePipeline(pool, 0, stream);
    const double fpsFull = MeasurePipeline(pool, 1000000, stream);
    const double ratio = fpsEmpty / fpsFull; // cost per frame, 1M rows over empty

    std::printf(
        "recording_bench: bytes/row at 10M = %.1f, rows/s = %.0f, frame cost 1M/empty = %.2f\n",
        table.bytesPerRow10M, table.rowsPerSecond, ratio);
    return 0;
}
