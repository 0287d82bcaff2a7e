// orvex-log and the USB adapter cable's reports: the text form of a report,
// replays through the cable link, and the command line of the USB inputs.

#include "protocol/PacketEncoder.h"
#include "tools/orvex-log/HidReports.h"
#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <regex>

using namespace orvex;

namespace {

struct LogRun {
    int exitCode = -1;
    std::string out, err;
};

LogRun RunLog(const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVEX_LOG_PATH), args);
    LogRun r;
    if (!p.waitForStarted(30000)) return r;
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

// Packets as the cable carries them, written in the capture format.
QByteArray ReplayText(const std::vector<PacketFields>& packets) {
    QByteArray text = "# a capture\n\n";
    for (const PacketFields& f : packets) {
        const Packet p = EncodePacket(f);
        for (const auto& r : sim::CableReports(p.data(), p.size()))
            text += QByteArray::fromStdString(FormatHidReportLine(0, r.data(), r.size())) + "\n";
    }
    return text;
}

QString Write(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    return path;
}

} // namespace

TEST(HidReportText, LinesReadAndWrite) {
    struct Case {
        const char* line;
        bool ok;
        bool skip;
        std::uint8_t id;
        std::vector<std::uint8_t> data;
    };
    const Case cases[] = {
        {"00 F2 b1 B2", true, false, 0x00, {0xF2, 0xB1, 0xB2}},
        {"\t07   0a\r", true, false, 0x07, {0x0A}},
        {"03", true, false, 0x03, {}},
        {"", true, true, 0, {}},
        {"   ", true, true, 0, {}},
        {"# 00 01", true, true, 0, {}},
        {"00 1", false, false, 0, {}},
        {"00 123", false, false, 0, {}},
        {"00 G1", false, false, 0, {}},
        {"0x00", false, false, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        HidReportLine r;
        bool skip = false;
        std::string error;
        EXPECT_EQ(ParseHidReportLine(c.line, &r, &skip, &error), c.ok) << error;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(skip, c.skip);
        if (c.skip) continue;
        EXPECT_EQ(r.reportId, c.id);
        EXPECT_EQ(r.data, c.data);
        EXPECT_EQ(FormatHidReportLine(r.reportId, r.data.data(), r.data.size()),
                  FormatHidReportLine(c.id, c.data.data(), c.data.size()));
    }
    const std::uint8_t data[] = {0xF2, 0xB1, 0x0A};
    EXPECT_EQ(FormatHidReportLine(0x00, data, 3), "00 F2 B1 0A");
    EXPECT_EQ(FormatHidReportLine(0x05, nullptr, 0), "05");
}

// JSON lines with the moment of each reading blanked: two runs may straddle a second.
static std::string Timeless(const std::string& lines) {
    static const std::regex time(R"("time":"[^"]*")");
    return std::regex_replace(lines, time, R"("time":"")");
}

// The same packets give the same JSON lines through the cable as raw bytes.
TEST(OrvexLogHid, ReplayGivesTheLinesOfTheSerialInput) {
    QTemporaryDir dir;
    std::vector<PacketFields> packets;
    sim::TMeterScenario scenario(4);
    QByteArray raw = "\n";
    for (int i = 0; i < 30; ++i) {
        packets.push_back(scenario.Next());
        const Packet p = EncodePacket(packets.back());
        raw += QByteArray(reinterpret_cast<const char*>(p.data()), qsizetype(p.size()));
    }
    const QString path = Write(dir, "cable.txt", ReplayText(packets));
    for (const QStringList& options : std::vector<QStringList>{{}, {"--no-repeat", "--hi", "5"}}) {
        SCOPED_TRACE(options.join(' ').toStdString());
        const LogRun serial = RunLog(QStringList{"--input", "-"} + options, raw);
        ASSERT_EQ(serial.exitCode, 0) << serial.err;
        const LogRun replay = RunLog(QStringList{"--hid-replay", path} + options);
        EXPECT_EQ(replay.exitCode, 0) << replay.err;
        EXPECT_EQ(Timeless(replay.out), Timeless(serial.out));
        EXPECT_EQ(std::count(replay.out.begin(), replay.out.end(), '\n'), 30);
        // A pipe can be read once only: the replay reads it once.
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const LogRun piped =
            RunLog(QStringList{"--hid-replay", "/dev/stdin"} + options, file.readAll());
        EXPECT_EQ(piped.exitCode, 0) << piped.err;
        EXPECT_EQ(Timeless(piped.out), Timeless(serial.out));
    }
}

TEST(OrvexLogHid, AMalformedReplayLineIsNamedAndNothingIsWritten) {
    QTemporaryDir dir;
    QByteArray text = ReplayText({MakePacketFields(0, {1, 2, 3, 4, 5}, 11, 0, 10)});
    text += "00 07 3X\n";
    const QString path = Write(dir, "bad.txt", text);
    const LogRun r = RunLog({"--hid-replay", path});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    const int line = text.count('\n');
    EXPECT_NE(r.err.find((path + ":" + QString::number(line) + ": '3X'").toStdString()),
              std::string::npos)
        << r.err;

    const LogRun missing = RunLog({"--hid-replay", dir.filePath("none.txt")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
}

TEST(OrvexLogHid, CommandLineOfTheUsbInputs) {
    struct Case {
        QStringList args;
        const char* error;
    };
    const Case cases[] = {
        {{"--hid-capture", "x.txt", "--sample"}, "--hid-capture goes with --usb or --hidraw"},
        {{"--usb", "--hidraw", "/dev/hidraw0"}, "give one input"},
        {{"--list", "--usb"}, "--list takes no input"},
        {{"--list", "--hid-capture", "x.txt"}, "--hid-capture goes with --usb or --hidraw"},
        {{"--hid-replay", "x.txt", "--frames", "3"}, "--frames and --seconds go with a live"},
        {{"--hidraw="}, "option --hidraw needs a path"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const LogRun r = RunLog(c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    }
    const LogRun help = RunLog({"--help"});
    for (const char* option : {"--usb", "--hidraw", "--hid-replay", "--hid-capture", "--list"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}
