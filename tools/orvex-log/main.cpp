// orvex-log: the meter pipeline without a window.  Raw meter bytes in, one JSON
// line per decoded frame out.

#include "protocol/MeterProfile.h"
#include "protocol/MeterReading.h"
#include "protocol/PacketAssembler.h"
#include "recording/LimitJudge.h"
#include "recording/RecordTable.h"
#include "recording/Recorder.h"
#include "tools/orvex-log/LogOptions.h"
#include "tools/orvex-log/LogReport.h"
#include "tools/orvex-log/ReadingJson.h"
#include "tools/orvex-log/RunDeadline.h"
#include "tools/orvex-log/SampleStream.h"
#include "tools/orvex-log/StopSignals.h"
#include "tools/orvex-log/UsbInput.h"

#include "files/AtomicFileWriter.h"
#include "files/FileNames.h"
#include "files/TableCsv.h"
#include "files/TableFiles.h"
#include "link/PortOpenDiagnosis.h"
#include "link/SerialPortDriver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

namespace {

using namespace orvex;

// Everything that happens to one accepted frame: decoding, the judge, the
// recording gates, the JSON line.
class FrameLogger {
  public:
    FrameLogger(const MeterProfile& profile, const LogOptions& options)
        : profile_(profile), options_(options), decimalSeparator_(ReadDecimalSeparator()),
          recorder_(&table_) {
        recorder_.recordLimit = options.limit;
        hi_ = NormaliseLimitSeparator(QString::fromStdString(options.hi), decimalSeparator_);
        lo_ = NormaliseLimitSeparator(QString::fromStdString(options.lo), decimalSeparator_);
        clock_.start();
    }

    void OnFrame(const QString& frameText) {
        ++seen_;
        if (options_.frames > 0 && decoded_ >= options_.frames) return; // --frames reached
        const DecodeResult res = DecodeFrame(frameText, decimalSeparator_, profile_.fullScaleCounts,
                                             profile_.barOverloadPosition);
        if (!res.ok) {
            std::fprintf(stderr, "undecodable frame %s: %s\n", qPrintable(frameText),
                         qPrintable(res.error));
            return;
        }
        const MeterReading& r = res.reading;
        // The sampling countdown runs down once a second, whatever the frames do.
        const qint64 seconds = clock_.elapsed() / 1000;
        for (; ticks_ < seconds; ++ticks_)
            recorder_.TrecordTimer(options_.interval >= 0);

        RecordInput in;
        in.SetReading(r);
        in.verdictText = VerdictText(
            JudgeReading(r.valueText, FrameDigits(frameText), lo_, hi_, decimalSeparator_));
        in.recordSIChecked = options_.interval >= 0;
        in.repeatSetChecked = options_.repeat;
        in.recordSITimeText = QString::number(options_.interval >= 0 ? options_.interval : 10);
        SetRecordMomentNow(in);
        const RecordOutcome outcome = recorder_.INDataToTable(in);
        if (outcome.limitReached)
            std::fprintf(stderr,
                         "orvex-log: recording stopped at the record limit of %d rows (--limit); "
                         "the readings go on being written, but not recorded\n",
                         int(recorder_.recordLimit));

        std::string line =
            ReadingJson(frameText, r, RecordingJson{in.verdictText, outcome.appended, outcome.no},
                        DatedJson{IsoTimestampText(in.timestamp), decimalSeparator_});
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
        ++decoded_;
    }

    long long decoded() const { return decoded_; }
    // Packets that came (frames that passed the frame check), decoded or not.
    long long seen() const { return seen_; }

    RecordTable& table() { return table_; }

  private:
    MeterProfile profile_;
    LogOptions options_;
    QString decimalSeparator_;
    QString hi_, lo_;
    RecordTable table_;
    TRecorder recorder_;
    QElapsedTimer clock_;
    qint64 ticks_ = 0;
    long long decoded_ = 0;
    long long seen_ = 0;
};

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "orvex-log: %s\n", message.c_str());
    if (status == 2) std::fprintf(stderr, "Try 'orvex-log --help'.\n");
    return status;
}

// A file name with its folder resolved ("./day.pdf", "logs/../day.pdf" and the
// full path of day.pdf are one file), whether or not the file exists yet.
std::string ResolvedPath(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved)) return path;
    return std::string(resolved) + "/" + name;
}

// Hands the JSON lines written so far to standard output. False, with the error
// reported once, when they could not be written (a full disk, a closed reader).
bool FlushReadings() {
    static bool reported = false;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    if (!reported) {
        reported = true;
        Fail(1, std::string("writing the readings to standard output failed: ") +
                    std::strerror(errno ? errno : EIO));
    }
    return false;
}

// Feeds the whole input through the assembler until its end or a stop signal;
// `started` runs once the input is open. Returns the exit status.
int Run(const LogOptions& options, TPacketAssembler& assembler,
        const std::function<bool()>& started) {
    if (options.sample) {
        if (!started()) return 2;
        const std::vector<std::uint8_t> bytes = SampleStream();
        assembler.OrvexDATA(bytes.data(), static_cast<int>(bytes.size()));
        return FlushReadings() ? 0 : 1;
    }
    int fd = STDIN_FILENO;
    if (options.input != "-") {
        fd = ::open(options.input.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return Fail(2, "cannot open '" + options.input + "': " + std::strerror(errno));
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            return Fail(2, "cannot read '" + options.input + "': it is a directory");
        }
    }
    if (!started()) {
        if (fd != STDIN_FILENO) ::close(fd);
        return 2;
    }
    // A stream that does not end (a pipe, a terminal) is stopped by a signal.
    pollfd waits[2] = {{fd, POLLIN, 0}, {StopSignalDescriptor(), POLLIN, 0}};
    std::uint8_t buffer[4096];
    int status = 0;
    for (;;) {
        if (::poll(waits, waits[1].fd >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) continue;
            status = Fail(1, "read error: " + std::string(std::strerror(errno)));
            break;
        }
        if (waits[1].revents) break; // a stop signal
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            status = Fail(1, "read error: " + std::string(std::strerror(errno)));
            break;
        }
        assembler.OrvexDATA(buffer, static_cast<int>(n));
        if (!FlushReadings()) {
            status = 1;
            break;
        }
    }
    if (fd != STDIN_FILENO) ::close(fd);
    return status;
}

// "19200 bit/s, 7O1".
std::string LineText(const TSerialPortDriver& d) {
    const char parity = "NOEMS"[int(d.ComPortParity())];
    const char* stop = d.ComPortStopBits() == TSerialPortDriver::sb1BITS   ? "1"
                       : d.ComPortStopBits() == TSerialPortDriver::sb2BITS ? "2"
                                                                           : "1.5";
    return std::to_string(TSerialPortDriver::BaudRateValue(d.ComPortSpeed())) + " bit/s, " +
           std::to_string(int(d.ComPortDataBits()) + 5) + parity + stop;
}

// A packet not come for this long is told on standard error (once per silence).
constexpr int kSilenceSeconds = 10;

// Reads a live serial line through the window's driver until SIGINT/SIGTERM/SIGHUP,
// --frames or --seconds; returns the exit status.
int RunLive(const LogOptions& options, TPacketAssembler& assembler, FrameLogger& logger,
            const std::function<bool()>& started) {
    TSerialPortDriver driver;
    ConfigureAsCOMM2(driver);
    const auto port =
        static_cast<TSerialPortDriver::TComPortNumber>(options.com != 0 ? options.com - 1 : 0);
    if (options.com == 0 || !options.port.empty())
        driver.SetPortDevicePath(port, QString::fromStdString(options.port));
    driver.SetComPort(port);
    const std::string device = driver.PortDevicePath(driver.ComPort()).toStdString();
    const std::string where = options.com != 0
                                  ? TSerialPortDriver::PortName(port).toStdString() + " = " + device
                                  : device;
    if (!driver.Connect()) {
        // Why, and the fix, as the window says it.
        std::fprintf(stderr, "orvex-log: %s\n",
                     qPrintable(PortOpenFailureMessage(
                         driver, options.com != 0,
                         QStringLiteral("give the port the meter is on with --com N or --port "
                                        "PATH (\"orvex-log --list\" shows the serial ports of "
                                        "this computer)."))));
        return 2;
    }
    if (!started()) return 2;
    std::fprintf(stderr, "orvex-log: reading %s at %s; Ctrl-C to stop\n", where.c_str(),
                 LineText(driver).c_str());

    int status = 0;
    driver.OnReceiveData = [&](TSerialPortDriver*, const std::uint8_t* data, int size) {
        assembler.OrvexDATA(data, size);
        if (!FlushReadings()) {
            status = 1;
            QCoreApplication::quit();
        }
        if (options.frames > 0 && logger.decoded() >= options.frames) QCoreApplication::quit();
    };
    QObject::connect(&driver, &TSerialPortDriver::portLost, [&] {
        status = Fail(1, "the serial port '" + device + "' was lost");
        QCoreApplication::quit();
    });

    QSocketNotifier stopNotifier(StopSignalDescriptor(), QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    std::unique_ptr<TRunDeadline> deadline;
    if (options.seconds > 0)
        deadline =
            std::make_unique<TRunDeadline>(options.seconds, [] { QCoreApplication::quit(); });

    // A meter that sends nothing is told once per silence.
    QElapsedTimer sincePacket;
    sincePacket.start();
    long long seenBefore = 0;
    bool silenceTold = false;
    QTimer silence;
    QObject::connect(&silence, &QTimer::timeout, [&] {
        if (logger.seen() != seenBefore) {
            seenBefore = logger.seen();
            sincePacket.restart();
            silenceTold = false;
        } else if (!silenceTold && sincePacket.elapsed() >= kSilenceSeconds * 1000) {
            silenceTold = true;
            std::fprintf(stderr,
                         "orvex-log: no packet from %s for %d seconds: is the meter switched on "
                         "and its cable plugged in? (still reading)\n",
                         where.c_str(), kSilenceSeconds);
        }
    });
    silence.start(1000);

    QCoreApplication::exec();
    driver.Disconnect();
    if (!FlushReadings()) status = 1;
    return status;
}

} // namespace

int main(int argc, char** argv) {
    // A reader of the JSON lines that goes away (a pipe into a program that
    // ended) is a write error like any other: told, and the run ends with the
    // table file and the report written.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const LogOptionsResult parsed = ParseLogOptions(args);
    const auto app = CreateLogApplication(argc, argv, !parsed.options.report.empty());
    if (!parsed.error.empty()) return Fail(2, parsed.error);
    if (parsed.options.help) {
        std::fputs(LogUsage().c_str(), stdout);
        return 0;
    }
    if (parsed.options.list) return ListConnectableDevices();

    const MeterProfile* profile = FindMeterProfile(QStringLiteral("22"));
    FrameLogger logger(profile ? *profile : MeterProfile{}, parsed.options);
    TPacketAssembler assembler;
    assembler.onFrame = [&logger](const QString& frame) { logger.OnFrame(frame); };
    // The table file: text and CSV grow with the table, XML is written at the end.
    const LogOptions& o = parsed.options;
    // The bytes of the name as given, whatever their encoding.
    const QString out = DecodeFileName(QByteArrayView(o.out.data(), qsizetype(o.out.size())));
    // The report would replace the table file at the end of the run.
    if (!o.out.empty() && !o.report.empty()) {
        struct stat a {};
        struct stat b {};
        if (ResolvedPath(o.out) == ResolvedPath(o.report) ||
            (::stat(o.out.c_str(), &a) == 0 && ::stat(o.report.c_str(), &b) == 0 &&
             a.st_dev == b.st_dev && a.st_ino == b.st_ino))
            return Fail(2, "--out and --report name the same file '" + o.report +
                               "': give the report a name of its own");
    }
    // Every destination is checked before the run, not after an hour of logging:
    // the files written at the end are tried the way they will be written.
    for (const std::string* file : {&o.out, &o.report}) {
        if (file->empty() || (file == &o.out && !IsXmlFileName(out))) continue;
        AtomicFileWriter probe(
            DecodeFileName(QByteArrayView(file->data(), qsizetype(file->size()))));
        if (!probe.open())
            return Fail(2, "cannot write '" + *file + "': " + probe.systemReason().toStdString());
        probe.discard();
    }
    // Text and CSV files are replaced when the input is open, not before: a run
    // that cannot start (the port or cable missing) leaves the file of an
    // earlier run as it was.
    TableTextAppender appender;
    TableCsvAppender csvAppender;
    // Opens one of the two appenders on `out` and has it follow the table.
    const auto follow = [&](auto& a) -> bool {
        if (!a.open(out)) {
            Fail(2, "cannot write '" + o.out + "': " + a.reason().toStdString());
            return false;
        }
        QObject::connect(&a, &std::remove_reference_t<decltype(a)>::writeFailed,
                         [&o, appender = &a](const QString&) {
                             std::fprintf(stderr, "orvex-log: writing '%s' failed: %s\n",
                                          o.out.c_str(), qPrintable(appender->reason()));
                         });
        a.follow(logger.table());
        return true;
    };
    const auto openOutput = [&]() -> bool {
        // From here on a stop signal ends the run with the files written whole.
        StopSignalDescriptor();
        if (out.isEmpty() || IsXmlFileName(out)) return true;
        return IsCsvFileName(out) ? follow(csvAppender) : follow(appender);
    };

    const auto onFrame = [&logger](const QString& frame) {
        logger.OnFrame(frame);
        if (!FlushReadings()) QCoreApplication::quit(); // the lines cannot be written: stop
    };
    int status = 0;
    if (o.usb || !o.hidraw.empty())
        status = RunUsbInput({o.usb, o.hidraw, o.hidCapture, o.frames, o.seconds, openOutput},
                             onFrame, [&logger] { return logger.decoded(); });
    else if (!o.hidReplay.empty())
        status = RunHidReplay(o.hidReplay, onFrame, openOutput);
    else
        status = (!o.port.empty() || o.com != 0) ? RunLive(o, assembler, logger, openOutput)
                                                 : Run(o, assembler, openOutput);
    // Nothing was read: the files of an earlier run stay as they were.
    if (status == 2) return status;
    if (!FlushReadings()) status = std::max(status, 1);
    // A file of something else (a saved table, say) is not quietly taken for an empty run.
    if (status == 0 && !o.input.empty() && logger.seen() == 0)
        std::fprintf(stderr, "orvex-log: no meter packet found in %s\n",
                     o.input == "-" ? "the standard input" : ("'" + o.input + "'").c_str());
    if (!out.isEmpty() && IsXmlFileName(out)) {
        const FileResult saved = SaveTableXml(logger.table(), out);
        if (!saved.ok())
            status = Fail(1, "cannot write '" + o.out + "': " + saved.reason.toStdString());
    } else if (appender.isOpen()) {
        if (appender.failed() && status == 0) status = 1;
        appender.close();
    } else if (csvAppender.isOpen()) {
        if (csvAppender.failed() && status == 0) status = 1;
        csvAppender.close();
    }
    if (!o.report.empty()) {
        const std::string error = WriteLogReport(logger.table(), o.report);
        if (!error.empty()) status = std::max(status, Fail(1, error));
    }
    return status;
}
