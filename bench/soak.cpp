// Soak test: the virtual meter at the line's full rate (about 137 packets a
// second) into the window (offscreen, "limitless", every frame recorded and
// plotted) and, on a second pseudo-terminal, into `orvex-log --port` as a
// process, for a number of minutes.
//
//   orvex_soak MINUTES [--log PATH-of-orvex-log]
//
// Prints, for the window and for the logger: frames sent after the port was
// open, decoded and lost; resident memory after a warm-up and at the end, with
// the growth the table's rows (and the chart's points) explain; CPU per cent of
// one core. Exits 1 on a lost frame or on memory growth beyond what the rows
// explain (plus a fixed allowance for the allocator), 2 when it cannot run.
// The last line sums it up.

#include "app/TFCOMM.h"
#include "bench/BenchSupport.h"
#include "link/SerialPortDriver.h"
#include "protocol/PacketEncoder.h"
#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace orvex;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
// Growth no row explains that is still no leak: allocator arenas and caches,
// the fonts and pixmaps of the first drawings after the warm-up.
constexpr double kAllowanceBytes = 6 * kMiB;
// What one row of the logger's table may cost at most: about 40 bytes in the
// table's blocks, the rest for the distinct texts it adds to the dictionaries.
constexpr double kLoggerBytesPerRow = 120;
// A point of the chart: one value shared by both series (16 bytes), counted twice.
constexpr double kChartBytesPerPoint = 32;

double ThreadCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// Resident memory of a process in bytes (VmRSS of /proc/PID/status).
double ResidentBytes(qint64 pid) {
    QFile f(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() * 1024;
    return 0;
}

// CPU seconds of another process (utime + stime of /proc/PID/stat).
double ProcessCpuSeconds(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// True once process `pid` holds `device` open.
bool HoldsOpen(qint64 pid, const QString& device) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System))
        if (QFile::symLinkTarget(fds.filePath(fd)) == device) return true;
    return false;
}

// A virtual meter on its own thread: full-rate packets into a pseudo-terminal.
class Meter {
  public:
    bool Open() {
        std::string error;
        if (!pty_.Open(&error)) {
            std::fprintf(stderr, "orvex_soak: no pseudo-terminal: %s\n", error.c_str());
            return false;
        }
        return true;
    }
    QString device() const { return QString::fromStdString(pty_.devicePath()); }
    void Start(std::uint32_t seed) {
        const std::uint8_t lf = 0x0A; // lines the stream up for the first packet
        pty_.Write(&lf, 1);
        thread_ = std::thread([this, seed] {
            sim::TMeterScenario scenario(seed);
            sim::TPacer pacer(sim::kMaxPacketsPerSecond);
            while (!stop_.load()) {
                if (!pacer.WaitNext(nullptr) || stop_.load()) break;
                const Packet packet = EncodePacket(scenario.Next());
                if (pty_.Write(packet.data(), packet.size()) == packet.size()) ++sent_;
                pty_.DrainInput();
            }
        });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    long long sent() const { return sent_.load(); }

  private:
    sim::TMeterPty pty_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<long long> sent_{0};
};

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Side {
    const char* name;
    long long sent = 0, decoded = 0;
    double rssStart = 0, rssEnd = 0, explained = 0, cpuPercent = 0;
    bool ok() const { return sent == decoded && Growth() <= explained + kAllowanceBytes; }
    double Growth() const { return rssEnd - rssStart; }
    void Print() const {
        std::printf("%s: sent %lld, decoded %lld, lost %lld; resident memory %.1f MiB after "
                    "the warm-up, %.1f MiB at the end (+%.1f MiB; the rows explain %.1f MiB, "
                    "allowance %.0f MiB); cpu %.1f%% of one core\n",
                    name, sent, decoded, sent - decoded, rssStart / kMiB, rssEnd / kMiB,
                    Growth() / kMiB, explained / kMiB, kAllowanceBytes / kMiB, cpuPercent);
    }
};

QString DefaultLogPath(const char* argv0) {
    // build/bench/orvex_soak -> build/tools/orvex-log/orvex-log
    const QString here = QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
    return QDir(here).absoluteFilePath(QStringLiteral("../tools/orvex-log/orvex-log"));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const orvex::bench::TScratchStateHome stateHome;
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool ok = args.size() >= 2;
    const double minutes = ok ? args[1].toDouble(&ok) : 0;
    QString logPath = DefaultLogPath(argv[0]);
    for (int i = 2; i + 1 < args.size(); i += 2)
        if (args[i] == QLatin1String("--log")) logPath = args[i + 1];
    if (!ok || !(minutes > 0)) {
        std::fprintf(stderr, "usage: orvex_soak MINUTES [--log PATH-of-orvex-log]\n");
        return 2;
    }
    const int totalMs = int(minutes * 60000);
    const int warmUpMs = std::clamp(totalMs / 10, 5000, 60000);

    Meter windowMeter, logMeter;
    if (!windowMeter.Open() || !logMeter.Open()) return 2;

    // The window, connected to the first line.
    WindowOptions options;
    options.portPaths[0] = windowMeter.device();
    TFCOMM window(options);
    window.action(QStringLiteral("limitess"))->trigger();
    window.show();
    QApplication::processEvents();
    window.action(QStringLiteral("START1"))->trigger();
    if (!window.COMM2().Connected()) {
        std::fprintf(stderr, "orvex_soak: the window could not open %s\n",
                     qPrintable(windowMeter.device()));
        return 2;
    }

    // The logger on the second line; its JSON lines are counted as they come.
    QProcess logger;
    long long loggerLines = 0;
    QObject::connect(&logger, &QProcess::readyReadStandardOutput,
                     [&] { loggerLines += logger.readAllStandardOutput().count('\n'); });
    QByteArray loggerErrors;
    QObject::connect(&logger, &QProcess::readyReadStandardError,
                     [&] { loggerErrors += logger.readAllStandardError(); });
    logger.start(logPath, {QStringLiteral("--port"), logMeter.device(), QStringLiteral("--limit"),
                           QStringLiteral("10000000")});
    if (!logger.waitForStarted(10000)) {
        std::fprintf(stderr, "orvex_soak: cannot start %s\n", qPrintable(logPath));
        return 2;
    }
    QElapsedTimer opening;
    opening.start();
    while (!HoldsOpen(logger.processId(), logMeter.device()) && opening.elapsed() < 10000)
        Wait(20);
    if (!HoldsOpen(logger.processId(), logMeter.device())) {
        std::fprintf(stderr, "orvex_soak: orvex-log did not open %s: %s\n",
                     qPrintable(logMeter.device()), loggerErrors.constData());
        return 2;
    }
    Wait(300); // the port is programmed and its queue emptied right after open

    windowMeter.Start(8);
    logMeter.Start(9);
    QElapsedTimer clock;
    clock.start();

    // Warm-up: the first rows, pages and drawings; then the memory baseline.
    Wait(warmUpMs);
    const int decoded0 = window.state().protocol.decodedFrames;
    const double table0 = double(window.state().recording.cds1.memoryBytes());
    const long long loggerLines0 = loggerLines;
    Side win{"window"}, log{"orvex-log"};
    win.rssStart = ResidentBytes(0);
    log.rssStart = ResidentBytes(logger.processId());
    const double winCpu0 = ThreadCpuSeconds();
    const double logCpu0 = ProcessCpuSeconds(logger.processId());
    QElapsedTimer measured;
    measured.start();

    Wait(std::max(0, totalMs - int(clock.elapsed())));

    windowMeter.Stop();
    logMeter.Stop();
    Wait(500); // the last poll takes the tail
    const double seconds = measured.elapsed() / 1000.0;
    win.rssEnd = ResidentBytes(0);
    log.rssEnd = ResidentBytes(logger.processId());
    win.cpuPercent = (ThreadCpuSeconds() - winCpu0) * 100.0 / seconds;
    log.cpuPercent = (ProcessCpuSeconds(logger.processId()) - logCpu0) * 100.0 / seconds;

    win.sent = windowMeter.sent();
    win.decoded = window.state().protocol.decodedFrames;
    win.explained = double(window.state().recording.cds1.memoryBytes()) - table0 +
                    double(win.decoded - decoded0) * kChartBytesPerPoint;
    window.action(QStringLiteral("STOP1"))->trigger();

    logger.terminate(); // SIGTERM: the logger flushes and ends
    if (!logger.waitForFinished(10000)) logger.kill();
    loggerLines += logger.readAllStandardOutput().count('\n');
    log.sent = logMeter.sent();
    log.decoded = loggerLines;
    log.explained = double(loggerLines - loggerLines0) * kLoggerBytesPerRow;
    if (logger.exitStatus() != QProcess::NormalExit || logger.exitCode() != 0)
        std::fprintf(stderr, "orvex_soak: orvex-log ended with status %d: %s\n", logger.exitCode(),
                     loggerErrors.constData());

    win.Print();
    log.Print();
    const bool pass = win.ok() && log.ok() && logger.exitStatus() == QProcess::NormalExit &&
                      logger.exitCode() == 0;
    std::printf("orvex_soak: %.1f min, window lost %lld, logger lost %lld, window memory "
                "+%.1f MiB (rows explain %.1f), logger memory +%.1f MiB (rows explain %.1f), "
                "cpu window %.1f%% logger %.1f%%: %s\n",
                minutes, win.sent - win.decoded, log.sent - log.decoded, win.Growth() / kMiB,
                win.explained / kMiB, log.Growth() / kMiB, log.explained / kMiB, win.cpuPercent,
                log.cpuPercent, pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
