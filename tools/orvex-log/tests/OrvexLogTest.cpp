// orvex-log run as a process: what it writes and how it exits.

#include "protocol/PacketEncoder.h"
#include "tools/orvex-log/RunDeadline.h"
#include "tools/orvex-log/SampleStream.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <limits>
#include <regex>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace orvex;

namespace {

struct RunResult {
    int exitCode = -1;
    bool crashed = false;
    std::string out;
    std::string err;
};

RunResult RunLog(const QStringList& args, const QByteArray& stdinBytes = {},
                 const QString& lcAll = QStringLiteral("C"), const QString& tz = QString()) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("LANG");
    env.remove("LC_NUMERIC");
    env.insert("LC_ALL", lcAll);
    if (!tz.isEmpty()) env.insert("TZ", tz);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVEX_LOG_PATH), args);
    RunResult r;
    if (!p.waitForStarted(30000)) return r;
    if (!stdinBytes.isEmpty()) p.write(stdinBytes);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

QByteArray Bytes(const Packet& p) {
    return QByteArray(reinterpret_cast<const char*>(p.data()), static_cast<qsizetype>(p.size()));
}

PacketFields Fields(std::uint8_t range, std::array<std::uint8_t, 5> digits, std::uint8_t function,
                    std::uint8_t status, std::uint8_t option3) {
    return MakePacketFields(range, digits, function, status, option3);
}

const std::string kWorkedLine =
    R"({"frame":"A012345B000A0D","value":"1.2345","counts":12345,"scaled":1.2345,"unit":"V",)"
    R"("function":"DC","range":"AUTO","point":0,"sign":"","digits":["1","2","3","4","5"],)"
    R"("lit":["LcdAuto","LcdDc1","LcdP0","LcdV"],"bar":12,"verdict":"Pass","recorded":true,"no":1})";

// A mid-packet start (fails the frame check), the worked example, an undecodable
// frame (range nibble A), then a negative overload.
QByteArray MixedInput() {
    QByteArray in = QByteArrayLiteral("\x35\x3B\x30\x30\x30\x3A\x30\x0D\x0A");
    in += Bytes(EncodePacket(Fields(0, {1, 2, 3, 4, 5}, 11, 0, 0xA)));
    in += Bytes(EncodePacket(Fields(0xA, {1, 2, 3, 4, 5}, 11, 0, 0xA)));
    in += Bytes(EncodePacket(Fields(1, {0, 0, 0, 0, 0}, 11, 5, 0xA)));
    return in;
}

const std::string kOverloadLine =
    R"({"frame":"A100000B500A0D","value":"-0.L","counts":-22000,"scaled":-22000,"unit":"V",)"
    R"("function":"DC","range":"AUTO","point":1,"sign":"-","digits":["","0","@","",""],)"
    R"("lit":["LcdAuto","LcdDc1","LcdFH","LcdP1","LcdV"],"bar":22,"verdict":"Fail","recorded":true,"no":2})";

// The keys every line ends with: the moment, the readable unit and the base value.
const std::regex kDatedTail(R"(,"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d",)"
                            R"("unit_text":"[^"]*","base_value":(null|-?\d+(\.\d+)?),)"
                            R"("base_unit":(null|"[^"]*")\}$)");

// A line without its dated tail when the tail has the expected form; else unchanged.
std::string Undated(const std::string& line) {
    const std::size_t at = line.rfind(",\"time\":");
    if (at == std::string::npos || !std::regex_match(line.substr(at), kDatedTail)) return line;
    return line.substr(0, at) + "}";
}

// Lines as written.
std::vector<std::string> RawLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Lines with their dated tails taken off (see DatedKeysCloseEveryLine).
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines = RawLines(text);
    for (std::string& line : lines)
        line = Undated(line);
    return lines;
}

// Starts the virtual meter sending `rate` packets a second and returns the device
// it prints; empty when it does not start or print one.
QString StartMeter(QProcess& meter, const char* rate) {
    meter.start(QStringLiteral(ORVEX_METER_SIM_PATH), {QStringLiteral("--rate"), rate});
    if (!meter.waitForStarted(10000) || !meter.waitForReadyRead(10000)) return {};
    return QString::fromLocal8Bit(meter.readLine()).trimmed();
}

} // namespace

TEST(OrvexLog, FileAndStandardInputGiveOneLinePerDecodedFrame) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("meter.bin");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(MixedInput());
    f.close();

    for (const RunResult& r : {RunLog({"--input", path}), RunLog({"--input=" + path}),
                               RunLog({"--input", "-"}, MixedInput())}) {
        ASSERT_FALSE(r.crashed);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Lines(r.out), (std::vector<std::string>{kWorkedLine, kOverloadLine}));
        const std::vector<std::string> errLines = Lines(r.err);
        ASSERT_EQ(errLines.size(), 1u) << r.err;
        EXPECT_EQ(errLines[0].rfind("undecodable frame AA12345B000A0D", 0), 0u) << r.err;
    }
}

TEST(OrvexLog, ValueUsesTheLocaleDecimalSeparator) {
    const RunResult r =
        RunLog({"--input", "-"}, "\n" + Bytes(EncodePacket(Fields(0, {1, 2, 3, 4, 5}, 11, 0, 0xA))),
               QStringLiteral("de_DE.UTF-8"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string expected = kWorkedLine;
    expected.replace(expected.find("\"1.2345\""), 8, "\"1,2345\"");
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{expected});
}

TEST(OrvexLog, SampleStreamDecodesEveryPacket) {
    const RunResult r = RunLog({"--sample"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Lines(r.out);
    // Every packet of the sample yields a line (the stream starts with a line feed).
    const std::size_t packets = (SampleStream().size() - 1) / 14;
    ASSERT_EQ(lines.size(), packets);
    EXPECT_EQ(lines[0], kWorkedLine);
}

TEST(OrvexLog, CommandLineErrorsAndHelp) {
    struct Case {
        const char* name;
        QStringList args;
        int exitCode;
        const char* outContains;
        const char* errContains;
    };
    const Case cases[] = {
        {"help", {"--help"}, 0, "--input FILE", ""},
        {"missing file",
         {"--input", "/nonexistent/orvex/meter.bin"},
         2,
         "",
         "cannot open '/nonexistent/orvex/meter.bin'"},
        {"directory", {"--input", "/"}, 2, "", "it is a directory"},
        {"no input", {}, 2, "", "no input"},
        {"input without name", {"--input"}, 2, "", "needs a value"},
        {"unknown option", {"--bogus"}, 2, "", "unknown option '--bogus'"},
        {"both inputs", {"--sample", "--input", "-"}, 2, "", "give one input"},
        {"report over the table",
         {"--sample", "--out", "/nonexistent/orvex/day.txt", "--report",
          "/nonexistent/orvex/day.txt"},
         2,
         "",
         "--out and --report name the same file '/nonexistent/orvex/day.txt'"},
        {"report over the table, spelt another way",
         {"--sample", "--out", "/tmp/orvex-log-day.txt", "--report",
          "/tmp/../tmp/orvex-log-day.txt"},
         2,
         "",
         "--out and --report name the same file '/tmp/../tmp/orvex-log-day.txt'"},
    };
    for (const Case& c : cases) {
        const RunResult r = RunLog(c.args);
        ASSERT_FALSE(r.crashed) << c.name;
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name;
        EXPECT_NE(r.out.find(c.outContains), std::string::npos) << c.name << ": " << r.out;
        EXPECT_NE(r.err.find(c.errContains), std::string::npos) << c.name << ": " << r.err;
        if (c.exitCode != 0) {
            EXPECT_EQ(r.out, "") << c.name;
        }
    }
}

TEST(OrvexLog, EmptyAndGarbageInputEndCleanly) {
    QByteArray garbage(20000, '\x37'); // no carriage return at all, then one
    garbage += "\r\n";
    for (const QByteArray& in : {QByteArray(), garbage}) {
        const RunResult r = RunLog({"--input", "-"}, in);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "orvex-log: no meter packet found in the standard input\n");
    }
}

// The recording options: what each JSON line says about the table.
TEST(OrvexLog, RecordingOptionsDecideWhichFramesBecomeRows) {
    const QByteArray steady = [] {
        QByteArray in = "\n";
        for (int i = 0; i < 4; ++i)
            in += Bytes(EncodePacket(Fields(0, {1, 2, 3, 4, 5}, 11, 0, 0xA)));
        return in;
    }();
    auto recordedNos = [](const RunResult& r) {
        std::vector<std::string> marks;
        for (const std::string& line : Lines(r.out)) {
            const auto at = line.find("\"recorded\":");
            marks.push_back(at == std::string::npos ? "?" : line.substr(at + 11));
        }
        return marks;
    };
    const struct {
        QStringList args;
        std::vector<std::string> marks;
    } cases[] = {
        {{}, {"true,\"no\":1}", "true,\"no\":2}", "true,\"no\":3}", "true,\"no\":4}"}},
        {{"--limit", "2"}, {"true,\"no\":1}", "true,\"no\":2}", "false}", "false}"}},
        {{"--limit", "0"}, {"false}", "false}", "false}", "false}"}},
        {{"--no-repeat"}, {"true,\"no\":1}", "false}", "false}", "false}"}},
        {{"--interval", "1000"}, {"true,\"no\":1}", "false}", "false}", "false}"}},
        {{"--interval", "0"},
         {"true,\"no\":1}", "true,\"no\":2}", "true,\"no\":3}", "true,\"no\":4}"}},
    };
    for (const auto& c : cases) {
        const RunResult r = RunLog(QStringList{"--input", "-"} + c.args, steady);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(recordedNos(r), c.marks) << c.args.join(' ').toStdString();
    }

    // The judge limits: 1.2345 lies above a high limit of 1.2, and on a limit of 1.2345.
    const RunResult fail = RunLog({"--input", "-", "--hi", "1.2"}, steady);
    EXPECT_NE(fail.out.find("\"verdict\":\"Fail\""), std::string::npos) << fail.out;
    const RunResult pass = RunLog({"--input", "-", "--hi", "1.2345", "--lo", "1.2345"}, steady);
    EXPECT_EQ(pass.out.find("\"verdict\":\"Fail\""), std::string::npos) << pass.out;

    for (const QStringList& bad :
         {QStringList{"--limit", "x"}, QStringList{"--limit", "-1"},
          QStringList{"--interval", "1.5"}, QStringList{"--hi", "1,5"}, QStringList{"--lo"}}) {
        const RunResult r = RunLog(QStringList{"--input", "-"} + bad, steady);
        EXPECT_EQ(r.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_EQ(r.out, "");
    }
}

// A live line from the virtual meter, through the window's serial driver.
TEST(OrvexLog, ReadsALiveLineUntilEnoughFramesOrTime) {
    QProcess meter;
    const QString device = StartMeter(meter, "50");
    ASSERT_FALSE(device.isEmpty());

    const RunResult frames = RunLog({"--port", device, "--frames", "5"});
    EXPECT_EQ(frames.exitCode, 0) << frames.err;
    const std::vector<std::string> lines = Lines(frames.out);
    ASSERT_EQ(lines.size(), 5u) << frames.out;
    EXPECT_NE(lines[4].find("\"no\":5}"), std::string::npos) << lines[4];

    const RunResult timed = RunLog({"--port", device, "--seconds", "0.5"});
    EXPECT_EQ(timed.exitCode, 0) << timed.err;
    EXPECT_FALSE(timed.out.empty());

    meter.terminate();
    meter.waitForFinished(10000);

    const RunResult missing = RunLog({"--port", "/nonexistent/tty"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("/nonexistent/tty cannot be opened"), std::string::npos)
        << missing.err;
    for (const QStringList& bad :
         {QStringList{"--com", "5"}, QStringList{"--port", device, "--sample"},
          QStringList{"--sample", "--frames", "3"},
          QStringList{"--port", device, "--seconds", "x"}}) {
        const RunResult r = RunLog(bad);
        EXPECT_EQ(r.exitCode, 2) << bad.join(' ').toStdString();
    }
}

// --out: the text file grows row by row (a killed logger loses nothing already
// recorded); the XML data packet is written when the run ends.
TEST(OrvexLog, OutWritesTheRecordTable) {
    QTemporaryDir dir;
    const QString xml = dir.filePath("table.xml");
    const RunResult r = RunLog({"--sample", "--out", xml});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    QFile xmlFile(xml);
    ASSERT_TRUE(xmlFile.open(QIODevice::ReadOnly));
    const QByteArray packet = xmlFile.readAll();
    EXPECT_TRUE(packet.startsWith("<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET"));
    EXPECT_EQ(packet.count("<ROW "), qsizetype(Lines(r.out).size()));

    QProcess meter;
    const QString device = StartMeter(meter, "50");
    ASSERT_FALSE(device.isEmpty());

    const QString text = dir.filePath("table.txt");
    QProcess log;
    log.start(QStringLiteral(ORVEX_LOG_PATH), {"--port", device, "--out", text});
    ASSERT_TRUE(log.waitForStarted(10000));
    QByteArray printed;
    while (printed.count('\n') < 5 && log.waitForReadyRead(5000))
        printed += log.readAllStandardOutput();
    ASSERT_GE(printed.count('\n'), 5);
    log.kill(); // no chance to flush anything more
    log.waitForFinished(10000);
    printed += log.readAllStandardOutput();
    meter.terminate();
    meter.waitForFinished(10000);

    QFile textFile(text);
    ASSERT_TRUE(textFile.open(QIODevice::ReadOnly));
    const QByteArray rows = textFile.readAll();
    EXPECT_TRUE(rows.startsWith("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n"));
    // Every row the logger reported as recorded is in the file.
    EXPECT_GE(rows.count("\r\n") - 1, printed.count("\"recorded\":true"));

    const RunResult unwritable = RunLog({"--sample", "--out", dir.filePath("missing/t.txt")});
    EXPECT_EQ(unwritable.exitCode, 2);
}

namespace {

// The "time" of a line, empty when it has none.
std::string TimeOf(const std::string& line) {
    std::smatch m;
    static const std::regex time(R"re("time":"([^"]+)")re");
    return std::regex_search(line, m, time) ? m[1].str() : std::string();
}

std::string Tail(const std::string& line) {
    const std::size_t at = line.find(",\"unit_text\":");
    return at == std::string::npos ? line : line.substr(at);
}

} // namespace

// Every line ends with when the frame came (local time with its UTC offset),
// the readable unit and the reading in the base unit; the older keys stay as
// they were.
TEST(OrvexLog, DatedKeysCloseEveryLine) {
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    // A zone 5 h 45 min ahead of UTC, as a POSIX rule.
    const RunResult r =
        RunLog({"--input", "-"}, MixedInput(), QStringLiteral("C"), QStringLiteral("XYZ-5:45"));
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = RawLines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(Undated(lines[0]), kWorkedLine);
    EXPECT_EQ(Undated(lines[1]), kOverloadLine);
    for (const std::string& line : lines) {
        const std::string time = TimeOf(line);
        ASSERT_EQ(time.size(), 25u) << line;
        EXPECT_EQ(time.substr(19), "+05:45");
        const QDateTime moment = QDateTime::fromString(QString::fromStdString(time), Qt::ISODate);
        ASSERT_TRUE(moment.isValid()) << time;
        EXPECT_GE(moment.toSecsSinceEpoch(), before);
        EXPECT_LE(moment.toSecsSinceEpoch(), after);
    }
    EXPECT_EQ(Tail(lines[0]), R"(,"unit_text":"V","base_value":1.2345,"base_unit":"V"})");
    EXPECT_EQ(Tail(lines[1]), R"(,"unit_text":"V","base_value":null,"base_unit":null})");

    // A German locale's decimal comma stays in "value"; the base value is a JSON number.
    QByteArray in = "\n";
    in += Bytes(EncodePacket(Fields(0, {1, 2, 3, 4, 5}, 11, 0, 0xA)));
    in += Bytes(EncodePacket(Fields(0, {0, 1, 2, 3, 4}, 13, 0, 0xA)));
    in += Bytes(EncodePacket(Fields(1, {0, 1, 2, 3, 4}, 3, 0, 0x2)));
    const RunResult de = RunLog({"--input", "-"}, in, QStringLiteral("de_DE.UTF-8"));
    ASSERT_EQ(de.exitCode, 0) << de.err;
    const std::vector<std::string> deLines = RawLines(de.out);
    ASSERT_EQ(deLines.size(), 3u) << de.out;
    EXPECT_NE(deLines[0].find(R"("value":"1,2345")"), std::string::npos) << deLines[0];
    EXPECT_EQ(Tail(deLines[0]), R"(,"unit_text":"V","base_value":1.2345,"base_unit":"V"})");
    EXPECT_EQ(Tail(deLines[1]), R"(,"unit_text":"µA","base_value":0.00001234,"base_unit":"A"})");
    EXPECT_EQ(Tail(deLines[2]), R"(,"unit_text":"kΩ","base_value":123.4,"base_unit":"Ω"})");
}

// --out FILE.csv: the comma-separated table, row by row, with the times of the
// lines and "." as the decimal mark whatever the locale.
TEST(OrvexLog, OutWritesCsv) {
    QTemporaryDir dir;
    const QString csv = dir.filePath("table.csv");
    const RunResult r =
        RunLog({"--input", "-", "--out", csv}, MixedInput(), QStringLiteral("de_DE.UTF-8"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = RawLines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string expected =
        "No,Timestamp,Function,Value,Unit,Judge,Base value,Base unit,Overload\r\n"
        "1," +
        TimeOf(lines[0]) +
        ",DC,1.2345,V,Pass,1.2345,V,\r\n"
        "2," +
        TimeOf(lines[1]) + ",DC,,V,Fail,,,1\r\n";
    EXPECT_EQ(file.readAll().toStdString(), expected);

    const RunResult unwritable = RunLog({"--sample", "--out", dir.filePath("missing/t.csv")});
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos) << unwritable.err;
}

namespace {

// Runs orvex-log with arguments given as raw bytes (QProcess would re-encode them
// as UTF-8), standard output and error thrown away; returns the exit status.
int RunLogRaw(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::string program = ORVEX_LOG_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

bool FileExists(const std::string& nativePath, off_t* size = nullptr) {
    struct stat st {};
    if (::stat(nativePath.c_str(), &st) != 0) return false;
    if (size) *size = st.st_size;
    return true;
}

} // namespace

// --seconds: any finite duration above 0 up to 100 years; a QTimer alone holds
// at most about 24.8 days of milliseconds.
TEST(OrvexLog, SecondsTakesAnyFiniteDurationUpToYears) {
    for (const char* bad : {"inf", "-inf", "nan", "0", "-1", "1e300", "3155760001", "1e", ""}) {
        const RunResult r = RunLog({"--port", "/dev/null", "--seconds", bad});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_NE(r.err.find("--seconds takes a number of seconds above 0"), std::string::npos)
            << bad << ": " << r.err;
    }

    // 2,147,484 s is 2^31 ms and a little more: waited out a day at a time.
    for (const double seconds : {2147484.0, 3155760000.0}) {
        TRunDeadline deadline(seconds, [] {});
        EXPECT_TRUE(deadline.active());
        EXPECT_EQ(deadline.currentStepMs(), TRunDeadline::kMaxStepMs);
        EXPECT_GT(deadline.remainingMs(), qint64(std::numeric_limits<int>::max()));
    }
    bool expired = false;
    TRunDeadline shortRun(0.05, [&] { expired = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return expired; }, 5000));

    // A live run with a long --seconds runs (until --frames here) instead of
    // ending at once.
    QProcess meter;
    const QString device = StartMeter(meter, "50");
    ASSERT_FALSE(device.isEmpty());
    const RunResult r = RunLog({"--port", device, "--seconds", "2147484", "--frames", "3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 3u) << r.out;
    meter.terminate();
    meter.waitForFinished(10000);
}

// The JSON lines that cannot be written fail the run with the reason.
TEST(OrvexLog, WriteErrorsOnStandardOutputFailTheRun) {
    if (!QFile::exists(QStringLiteral("/dev/full"))) GTEST_SKIP() << "no /dev/full here";
    QTemporaryDir dir;
    const QString input = dir.filePath("meter.bin");
    QFile f(input);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(MixedInput());
    f.close();
    for (const QStringList& args : {QStringList{"--sample"}, QStringList{"--input", input}}) {
        QProcess p;
        p.setStandardOutputFile(QStringLiteral("/dev/full"));
        p.start(QStringLiteral(ORVEX_LOG_PATH), args);
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 1) << args.join(' ').toStdString();
        const QByteArray err = p.readAllStandardError();
        EXPECT_TRUE(err.contains("writing the readings to standard output failed: No space left "
                                 "on device"))
            << err.toStdString();
    }
}

// A file name that is not UTF-8 is written under exactly its bytes.
TEST(OrvexLog, FileNamesKeepTheirBytes) {
    QTemporaryDir dir;
    const std::string base = QFile::encodeName(dir.path()).toStdString() + "/";
    for (const char* suffix : {".txt", ".csv", ".xml"}) {
        const std::string name = base + "\xe9t\xe9" + suffix;
        const std::string report = base + "r\xe9port\xff.pdf";
        EXPECT_EQ(RunLogRaw({"--sample", "--out", name, "--report", report}), 0) << suffix;
        off_t size = 0;
        EXPECT_TRUE(FileExists(name, &size)) << suffix;
        EXPECT_GT(size, 29) << suffix;
        EXPECT_TRUE(FileExists(report, &size));
        EXPECT_GT(size, 1000);
        ::unlink(report.c_str());
    }
    // Nothing was written under the name Qt would have made of those bytes.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).filter(QChar(0xFFFD)), QStringList());
}

namespace {

// Starts orvex-log with the files it writes limited to `bytes` (a full disk).
void StartWithFileLimit(QProcess& p, rlim_t bytes, const QStringList& args) {
    p.setChildProcessModifier([bytes] {
        struct rlimit limit {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_IGN);
    });
    p.start(QStringLiteral(ORVEX_LOG_PATH), args);
}

} // namespace

// On a full disk (the file size limit stands in for it) the logger's table file
// ends with its last complete row, and the run fails with the reason.
TEST(OrvexLog, FullDiskLeavesOnlyCompleteRows) {
    QTemporaryDir dir;
    for (const char* name : {"log.txt", "log.csv"}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QProcess p;
        StartWithFileLimit(p, 300, {"--sample", "--out", path});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 1) << name;
        EXPECT_TRUE(p.readAllStandardError().contains("File too large")) << name;
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_GT(bytes.size(), 100) << name;
        EXPECT_TRUE(bytes.endsWith("\r\n")) << name << ": " << bytes.right(30).toStdString();
    }
    // A report that does not fit says why.
    QProcess p;
    const QString report = dir.filePath("log.pdf");
    StartWithFileLimit(p, 2000, {"--sample", "--report", report});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("cannot write the report '%1': ").arg(report)) &&
                err.contains(QStringLiteral("File too large")))
        << err.toStdString();
}
