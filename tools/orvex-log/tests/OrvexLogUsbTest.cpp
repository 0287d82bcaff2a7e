// orvex-log reading the USB adapter cable: the logger runs as a process under
// umockdev's preload library (inherited from this test program) and reads the
// simulated devices this process serves.

#include "link/tests/LinkTestSupport.h"
#include "link/tests/umockdev/SimulatedHid.h"
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
using namespace orvex::testing;

namespace {

class OrvexLogUsb : public ::testing::Test {
  protected:
    void SetUp() override {
        bed = std::make_unique<TSimulatedHidBed>();
        if (!TSimulatedHidBed::Active())
            GTEST_SKIP() << "not running under the umockdev preload library";
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override {
        if (log.state() != QProcess::NotRunning) {
            log.kill();
            log.waitForFinished(5000);
        }
        bed.reset();
    }
    void Start(const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", "C");
        log.setProcessEnvironment(env);
        log.start(QStringLiteral(ORVEX_LOG_PATH), args);
        ASSERT_TRUE(log.waitForStarted(30000));
    }
    // Serves the logger's requests (this process answers its ioctls and
    // reads) until pred() holds.
    bool Until(const std::function<bool()>& pred, int ms = 15000) {
        return WaitFor(
            [&] {
                err += log.readAllStandardError().toStdString();
                out += log.readAllStandardOutput().toStdString();
                return pred();
            },
            ms);
    }
    bool Finished(int ms = 15000) {
        return Until([&] { return log.state() == QProcess::NotRunning; }, ms);
    }
    void SendPackets(TSimulatedHid& cable, int n) {
        for (int i = 0; i < n; ++i) {
            const Packet p = EncodePacket(scenario.Next());
            cable.PushReports(sim::CableReports(p.data(), p.size()));
        }
    }
    long Lines() const { return std::count(out.begin(), out.end(), '\n'); }
    static TSimulatedHidSpec Cable(int number, const QString& serial = {}) {
        TSimulatedHidSpec s;
        s.number = number;
        s.serial = serial;
        return s;
    }
    static TSimulatedHidSpec Keypad(int number) {
        TSimulatedHidSpec s;
        s.number = number;
        s.product = QStringLiteral("Keypad");
        return s;
    }

    std::unique_ptr<TSimulatedHidBed> bed;
    QTemporaryDir dir;
    QProcess log;
    std::string out, err;
    sim::TMeterScenario scenario{6};
};

} // namespace

TEST_F(OrvexLogUsb, ReadsTheCableAndCapturesReportsThatReplayTheSame) {
    bed->Add(Keypad(0));
    TSimulatedHid& cable = bed->Add(Cable(1));
    const QString capture = dir.filePath("capture.txt");
    Start({"--usb", "--frames", "12", "--hid-capture", capture});
    ASSERT_TRUE(Until([&] { return err.find("reading") != std::string::npos; })) << err;
    EXPECT_NE(err.find("\"USB to Serial\" (/dev/hidraw1)"), std::string::npos) << err;
    ASSERT_EQ(cable.Features().size(), 1u) << "the cable was set up";
    SendPackets(cable, 20);
    ASSERT_TRUE(Finished()) << err;
    EXPECT_EQ(log.exitCode(), 0) << err;
    EXPECT_EQ(Lines(), 12) << out;

    QProcess replay;
    replay.start(QStringLiteral(ORVEX_LOG_PATH), {"--hid-replay", capture});
    ASSERT_TRUE(replay.waitForFinished(30000));
    EXPECT_EQ(replay.exitCode(), 0) << replay.readAllStandardError().toStdString();
    // The moment of each reading is blanked: the two runs may straddle a second.
    static const std::regex time(R"("time":"[^"]*")");
    const std::string recorded = std::regex_replace(out, time, R"("time":"")");
    const std::string replayed =
        std::regex_replace(replay.readAllStandardOutput().toStdString(), time, R"("time":"")");
    EXPECT_EQ(replayed.substr(0, recorded.size()), recorded)
        << "the capture replays the same readings";

    QFile f(capture);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_GT(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith("# orvex-log HID capture")) << lines[0].toStdString();
    EXPECT_EQ(lines[2].size(), 3 * 9 - 1) << "report ID and 8 data bytes";
}

TEST_F(OrvexLogUsb, HidrawReadsAGivenNodeAndTheCableLossEndsTheRun) {
    TSimulatedHid& other = bed->Add(Keypad(0));
    Start({"--hidraw", "/dev/hidraw0"});
    ASSERT_TRUE(Until([&] { return err.find("reading") != std::string::npos; })) << err;
    SendPackets(other, 5);
    ASSERT_TRUE(Until([&] { return Lines() == 5; })) << out << err;
    bed->Unplug(other);
    ASSERT_TRUE(Finished()) << err;
    EXPECT_EQ(log.exitCode(), 1);
    EXPECT_NE(err.find("no longer connected"), std::string::npos) << err;
}

// A capture file that cannot be written is told before the first report is
// read, not when the run ends.
TEST_F(OrvexLogUsb, ACaptureThatCannotBeWrittenIsToldBeforeReading) {
    if (!QFile::exists(QStringLiteral("/dev/full"))) GTEST_SKIP() << "no /dev/full here";
    bed->Add(Cable(0));
    Start({"--usb", "--frames", "3", "--hid-capture", "/dev/full"});
    ASSERT_TRUE(Finished()) << err;
    EXPECT_EQ(log.exitCode(), 2);
    EXPECT_NE(err.find("cannot write '/dev/full': No space left on device"), std::string::npos)
        << err;
    EXPECT_EQ(err.find("reading \""), std::string::npos) << err;
}

TEST_F(OrvexLogUsb, NoCableAndListing) {
    bed->Add(Keypad(0));
    // The table of an earlier run stays as it was.
    const QString table = dir.filePath("day.csv");
    QFile earlier(table);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("yesterday's rows");
    earlier.close();
    Start({"--usb", "--out", table});
    ASSERT_TRUE(Finished());
    EXPECT_EQ(log.exitCode(), 2);
    EXPECT_NE(err.find("no USB interface cable is connected"), std::string::npos) << err;
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), "yesterday's rows");

    err.clear();
    out.clear();
    bed->Add(Cable(3, QStringLiteral("0815")));
    Start({"--list"});
    ASSERT_TRUE(Finished());
    EXPECT_EQ(log.exitCode(), 0) << err;
    EXPECT_NE(out.find("COM1  /dev/tty"), std::string::npos) << out;
    EXPECT_NE(out.find("  Keypad  /dev/hidraw0  can be opened for reading and writing"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("  USB to Serial (Serial=0815)  /dev/hidraw3"), std::string::npos) << out;
}
