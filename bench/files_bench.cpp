// Saving and loading a table of one million rows as text and as an XML data
// packet, against writing and reading the same number of bytes raw; and as CSV
// (its figures on the line before the summary).
//
//   files_bench [--benchmark_filter=...]
//
// The last line sums it up:
//   files_bench: text save rows/s = N, text load rows/s = N, xml save rows/s = N, ...

#include "files/TableCsv.h"
#include "files/TableFiles.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>

using namespace orvex;

namespace {

constexpr int kRows = 1000000;

QTemporaryDir& Folder() {
    static QTemporaryDir dir;
    return dir;
}

// A recording as the meter gives it: a few readings a second, a slowly moving
// value, the judge flipping now and then.
const RecordTable& Recording() {
    static RecordTable* table = [] {
        auto* t = new RecordTable;
        RecordRow row;
        QString time;
        int lastSecond = -1;
        for (int i = 0; i < kRows; ++i) {
            const int second = i / 3;
            const int counts = 10000 + int((std::int64_t(i) * 7919) % 40000);
            if (second != lastSecond) {
                char text[16];
                std::snprintf(text, sizeof text, "%02d:%02d:%02d", (second / 3600) % 24,
                              (second / 60) % 60, second % 60);
                time = QString::fromLatin1(text);
                lastSecond = second;
            }
            row.fields[FieldNo] = FieldCell::Int(i + 1);
            row.fields[FieldTime] = FieldCell::Text(time);
            row.fields[FieldDcAc] = FieldCell::Text(QStringLiteral("DC"));
            row.fields[FieldValue] = FieldCell::Text(QString::number(counts / 10000.0, 'f', 4));
            row.fields[FieldUnit] = FieldCell::Text(QStringLiteral("V"));
            row.fields[FieldAuto] =
                FieldCell::Text((i / 50) % 4 ? QStringLiteral("Pass") : QStringLiteral("Fail"));
            row.fields[FieldNVal] = FieldCell::Int(counts);
            // 2026-12-10T00:00:00+01:00 onwards, a reading every 333 ms.
            row.timestamp = RecordTimestamp::Of(1796857200000 + std::int64_t(i) * 333, 60);
            t->Append(row);
        }
        return t;
    }();
    return *table;
}

QString PathOf(const char* name) {
    return Folder().filePath(QString::fromLatin1(name));
}

// A file of the given format, written once.
QString SavedFile(bool xml) {
    static std::map<bool, QString> files;
    auto it = files.find(xml);
    if (it != files.end()) return it->second;
    const QString name = PathOf(xml ? "million.xml" : "million.xls");
    QFile f(name);
    f.open(QIODevice::WriteOnly);
    f.write(xml ? TableXmlBytes(Recording()) : TableTextBytes(Recording()));
    f.close();
    return files[xml] = name;
}

void SaveFormat(benchmark::State& state, bool xml) {
    auto& table = const_cast<RecordTable&>(Recording());
    const QString name = PathOf(xml ? "save.xml" : "save.xls");
    for (auto _ : state) {
        const FileResult r = xml ? SaveTableXml(table, name) : SaveTableText(table, name);
        if (!r.ok()) state.SkipWithError(r.error.toStdString().c_str());
    }
    const qint64 bytes = QFile(name).size();
    state.counters["rows/s"] =
        benchmark::Counter(double(kRows), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * bytes);
}

void LoadFormat(benchmark::State& state, bool xml, bool intoFilledTable) {
    const QString name = SavedFile(xml);
    for (auto _ : state) {
        state.PauseTiming();
        auto table = std::make_unique<RecordTable>();
        if (intoFilledTable) table->Append(Recording().Row(0));
        state.ResumeTiming();
        const FileResult r = LoadDataFile(name, *table);
        if (!r.ok() || r.rows != kRows) state.SkipWithError("load failed");
        state.PauseTiming();
        table.reset();
        state.ResumeTiming();
    }
    state.counters["rows/s"] =
        benchmark::Counter(double(kRows), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * QFile(name).size());
}

// The same bytes written in one go, synced like a save; and read back.
void RawWrite(benchmark::State& state, bool xml) {
    const QByteArray bytes = xml ? TableXmlBytes(Recording()) : TableTextBytes(Recording());
    const QByteArray name = QFile::encodeName(PathOf(xml ? "raw.xml" : "raw.xls"));
    for (auto _ : state) {
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() ||
            ::fsync(fd) != 0)
            state.SkipWithError("raw write failed");
        if (fd >= 0) ::close(fd);
    }
    state.counters["rows/s"] =
        benchmark::Counter(double(kRows), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void RawRead(benchmark::State& state, bool xml) {
    const QString name = SavedFile(xml);
    for (auto _ : state) {
        QFile f(name);
        f.open(QIODevice::ReadOnly);
        QByteArray bytes = f.readAll();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["rows/s"] =
        benchmark::Counter(double(kRows), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * QFile(name).size());
}

// The comma-separated format for other programs.
void BM_CsvSave(benchmark::State& state) {
    const QString name = PathOf("save.csv");
    for (auto _ : state) {
        const FileResult r = SaveTableCsv(Recording(), name);
        if (!r.ok()) state.SkipWithError(r.error.toStdString().c_str());
    }
    state.counters["rows/s"] =
        benchmark::Counter(double(kRows), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * QFile(name).size());
}

void BM_CsvLoad(benchmark::State& state) {
    const QString name = PathOf("million.csv");
    if (!QFile::exists(name)) SaveTableCsv(Recording(), name);
    for (auto _ : state) {
        state.PauseTiming();
        auto table = std::make_unique<RecordTable>();
        state.ResumeTiming();
        const FileResult r = LoadDataFile(name, *table);
        if (!r.ok() || r.rows != kRows) state.SkipWithError("load failed");
        state.PauseTiming();
        table.reset();
        state.ResumeTiming();
    }
    state.counters["rows/s"] =
        benchmark::Counter(double(kRows), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * QFile(name).size());
}

// A million text rows appended to a table that already holds a row, as "Open"
// does in the window: the longest stretch without a progress call (the window
// runs its event loop, and so serves the link, in each call).
void BM_TextAppendLongestPause(benchmark::State& state) {
    const QString name = SavedFile(false);
    double longest = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto table = std::make_unique<RecordTable>();
        table->Append(Recording().Row(0));
        state.ResumeTiming();
        QElapsedTimer gap;
        gap.start();
        const FileResult r = LoadDataFile(name, *table, [&](qint64, qint64) {
            longest = std::max(longest, gap.nsecsElapsed() / 1e6);
            gap.restart();
            return true;
        });
        longest = std::max(longest, gap.nsecsElapsed() / 1e6);
        if (!r.ok() || table->rowCount() != kRows + 1) state.SkipWithError("load failed");
        state.PauseTiming();
        table.reset();
        state.ResumeTiming();
    }
    state.counters["longest pause ms"] = longest;
}

// An XML packet declaring `n` fields besides the table's, with `n` rows that each
// name the last of them: the time must grow with the size of the packet, not
// with the number of declarations times the number of attributes.
void BM_XmlManyFieldDeclarations(benchmark::State& state) {
    const int n = int(state.range(0));
    QByteArray packet = "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
    for (int i = 0; i < n; ++i)
        packet += "<FIELD attrname=\"F" + QByteArray::number(i) + "\" fieldtype=\"string\"/>";
    packet += "<FIELD attrname=\"No\" fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA><ROWDATA>";
    const QByteArray last = "F" + QByteArray::number(n - 1);
    for (int i = 0; i < n; ++i)
        packet += "<ROW " + last + "=\"x\" No=\"" + QByteArray::number(i) + "\"/>";
    packet += "</ROWDATA></DATAPACKET>";
    for (auto _ : state) {
        RecordTable table;
        const FileResult r = LoadTableXml(packet, table);
        if (!r.ok() || table.rowCount() != n) state.SkipWithError("load failed");
    }
    state.counters["rows/s"] =
        benchmark::Counter(double(n), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_TextSave(benchmark::State& s) {
    SaveFormat(s, false);
}
void BM_TextLoad(benchmark::State& s) {
    LoadFormat(s, false, false);
}
void BM_TextLoadAppending(benchmark::State& s) {
    LoadFormat(s, false, true);
}
void BM_XmlSave(benchmark::State& s) {
    SaveFormat(s, true);
}
void BM_XmlLoad(benchmark::State& s) {
    LoadFormat(s, true, false);
}
void BM_TextRawWrite(benchmark::State& s) {
    RawWrite(s, false);
}
void BM_TextRawRead(benchmark::State& s) {
    RawRead(s, false);
}
void BM_XmlRawWrite(benchmark::State& s) {
    RawWrite(s, true);
}
void BM_XmlRawRead(benchmark::State& s) {
    RawRead(s, true);
}

#define FILES_BENCH(fn) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)

FILES_BENCH(BM_TextSave);
FILES_BENCH(BM_TextRawWrite);
FILES_BENCH(BM_TextLoad);
FILES_BENCH(BM_TextLoadAppending);
FILES_BENCH(BM_TextRawRead);
FILES_BENCH(BM_XmlSave);
FILES_BENCH(BM_XmlRawWrite);
FILES_BENCH(BM_XmlLoad);
FILES_BENCH(BM_XmlRawRead);
FILES_BENCH(BM_CsvSave);
FILES_BENCH(BM_CsvLoad);
FILES_BENCH(BM_TextAppendLongestPause);
BENCHMARK(BM_XmlManyFieldDeclarations)
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// Keeps the rows per second of every run for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> rate;
    std::map<std::string, double> pause; // "longest pause ms"
    std::map<std::string, double> ms;    // real time of one iteration
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            auto it = run.counters.find("rows/s");
            if (it != run.counters.end()) rate[run.benchmark_name()] = it->second;
            it = run.counters.find("longest pause ms");
            if (it != run.counters.end()) pause[run.benchmark_name()] = it->second;
            ms[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }
    static double Find(const std::map<std::string, double>& m, const std::string& name) {
        for (const auto& [key, value] : m)
            if (key.rfind(name, 0) == 0 && (key.size() == name.size() || key[name.size()] == '/'))
                return value;
        return 0;
    }
    double Get(const std::string& prefix) const {
        for (const auto& [name, value] : rate)
            if (name.rfind(prefix, 0) == 0 &&
                (name.size() == prefix.size() || name[prefix.size()] == '/'))
                return value;
        return 0;
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Recording(); // built before any timing
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto ratio = [&](const char* format, const char* raw) {
        const double f = reporter.Get(format);
        return f > 0 ? reporter.Get(raw) / f : 0.0;
    };
    std::printf("raw time ratio (format time / raw time for the same bytes): text save %.2f, "
                "text load %.2f, xml save %.2f, xml load %.2f\n",
                ratio("BM_TextSave", "BM_TextRawWrite"), ratio("BM_TextLoad", "BM_TextRawRead"),
                ratio("BM_XmlSave", "BM_XmlRawWrite"), ratio("BM_XmlLoad", "BM_XmlRawRead"));
    std::printf("csv: save rows/s = %.0f, load rows/s = %.0f\n", reporter.Get("BM_CsvSave"),
                reporter.Get("BM_CsvLoad"));
    std::printf("text appended to a used table: 1M rows in %.0f ms, longest pause between "
                "progress calls %.1f ms; xml with 10k / 40k / 200k field declarations and "
                "rows: %.0f / %.0f / %.0f ms\n",
                SummaryReporter::Find(reporter.ms, "BM_TextAppendLongestPause"),
                SummaryReporter::Find(reporter.pause, "BM_TextAppendLongestPause"),
                SummaryReporter::Find(reporter.ms, "BM_XmlManyFieldDeclarations/10000"),
                SummaryReporter::Find(reporter.ms, "BM_XmlManyFieldDeclarations/40000"),
                SummaryReporter::Find(reporter.ms, "BM_XmlManyFieldDeclarations/200000"));
    std::printf("files_bench: text save rows/s = %.0f, text load rows/s = %.0f, xml save rows/s = "
                "%.0f, xml load rows/s = %.0f\n",
                reporter.Get("BM_TextSave"), reporter.Get("BM_TextLoad"),
                reporter.Get("BM_XmlSave"), reporter.Get("BM_XmlLoad"));
    return 0;
}
