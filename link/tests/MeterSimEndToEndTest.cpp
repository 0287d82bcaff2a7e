// The virtual meter: its scenario and faults, and the program end to end
// (orvex-meter-sim -> pseudo-terminal -> TSerialPortDriver -> assembler ->
// decoder).

#include "link/SerialPortDriver.h"
#include "link/tests/LinkTestSupport.h"
#include "protocol/MeterReading.h"
#include "protocol/PacketAssembler.h"
#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace orvex;
using namespace orvex::testing;
using D = TSerialPortDriver;

namespace {

DecodeResult Decode(const Packet& packet) {
    TPacketAssembler assembler;
    DecodeResult result;
    assembler.onFrame = [&](const QString& frame) {
        result = DecodeFrame(frame, QStringLiteral("."), 22000, 22);
    };
    const std::uint8_t lf = 0x0A;
    assembler.OrvexDATA(&lf, 1); // the line feed of the packet before
    assembler.OrvexDATA(packet.data(), 13);
    return result;
}

} // namespace

// One pass of the scenario decodes without a failure and shows every function
// and the states a meter goes through.
TEST(MeterScenario, OneCycleCoversEveryFunctionAndState) {
    sim::TMeterScenario scenario(5);
    QSet<QString> functions, units;
    bool overload = false, hold = false, relative = false, battery = false, negative = false,
         manual = false, dutyOverload = false;
    QSet<QString> seenSegments;
    for (int i = 0; i < sim::TMeterScenario::PacketsPerCycle(); ++i) {
        const PacketFields fields = scenario.Next();
        seenSegments.insert(QString::fromStdString(scenario.CurrentSegment().label));
        const Packet packet = EncodePacket(fields);
        ASSERT_EQ(packet[12], 0x0D);
        ASSERT_EQ(packet[13], 0x0A);
        const DecodeResult r = Decode(packet);
        ASSERT_TRUE(r.ok) << scenario.CurrentSegment().label << ": " << r.error.toStdString();
        functions.insert(r.reading.functionText);
        units.insert(r.reading.unitText);
        const IndicatorSet& lit = r.reading.litSet;
        overload |= r.reading.digitTexts[2] == QString(kOverloadLetter);
        hold |= lit.contains(Indicator::LCDHold);
        relative |= lit.contains(Indicator::LCDREL);
        battery |= lit.contains(Indicator::LCDBATT);
        negative |= r.reading.signText == "-";
        manual |= r.reading.rangeModeText == "MANU";
        dutyOverload |= r.reading.functionText == "Duty" && r.reading.unitText == "%" &&
                        r.reading.digitTexts[2] == QString(kOverloadLetter);
    }
    EXPECT_EQ(seenSegments.size(), static_cast<int>(sim::TMeterScenario::Segments().size()));
    for (const char* f :
         {"AC", "DC", "Ohm", "Frequency", "Diode", "Temperature", "Cont", "Cap", "duty", "Duty"})
        EXPECT_TRUE(functions.contains(f)) << f;
    for (const char* u : {"V", "mV", "*", "K*", "M*", "&  *", "V)", "nF", "uF", "mF", "Hz", "kHz",
                          "MHz", "?", "%", "uA", "mA", "A"})
        EXPECT_TRUE(units.contains(u)) << u;
    EXPECT_TRUE(overload);
    EXPECT_TRUE(hold);
    EXPECT_TRUE(relative);
    EXPECT_TRUE(battery);
    EXPECT_TRUE(negative);
    EXPECT_TRUE(manual);
    EXPECT_TRUE(dutyOverload);
}

TEST(MeterScenario, SameSeedSameReadingsAndHoldFreezes) {
    sim::TMeterScenario a(9), b(9);
    for (int i = 0; i < 200; ++i) {
        const Packet pa = EncodePacket(a.Next());
        ASSERT_EQ(pa, EncodePacket(b.Next())) << i;
    }
    sim::TMeterScenario s(3);
    std::vector<Packet> held;
    for (int i = 0; i < sim::TMeterScenario::PacketsPerCycle(); ++i) {
        const Packet p = EncodePacket(s.Next());
        if (s.CurrentSegment().frozen) held.push_back(p);
    }
    ASSERT_GT(held.size(), 1u);
    for (const Packet& p : held)
        EXPECT_EQ(p, held.front());
}

TEST(MeterScenario, CountsBecomeDigitsAndMinusFlag) {
    struct Case {
        int counts;
        std::array<std::uint8_t, 5> digits;
        bool minus;
    };
    const Case cases[] = {{12345, {1, 2, 3, 4, 5}, false},
                          {7, {0, 0, 0, 0, 7}, false},
                          {-4987, {0, 4, 9, 8, 7}, true},
                          {123456, {9, 9, 9, 9, 9}, false}};
    for (const Case& c : cases) {
        PacketFields f;
        f.status = sim::kStatusMinus | sim::kStatusBattery;
        const PacketFields out = sim::WithCounts(f, c.counts);
        EXPECT_EQ(out.digits, c.digits) << c.counts;
        EXPECT_EQ((out.status & sim::kStatusMinus) != 0, c.minus) << c.counts;
        EXPECT_TRUE(out.status & sim::kStatusBattery) << "other flags kept";
    }
}

TEST(MeterFaults, FaultsAccountForEveryByte) {
    std::vector<std::uint8_t> in(5000);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<std::uint8_t>(i);
    for (double p : {0.0, 0.05, 1.0}) {
        SCOPED_TRACE(p);
        sim::TFaultInjector injector(p, 11);
        std::vector<std::uint8_t> out;
        injector.Apply(in.data(), in.size(), out);
        EXPECT_EQ(out.size(), in.size() - injector.dropped + injector.duplicated);
        if (p == 0.0) {
            EXPECT_EQ(out, in);
        } else {
            EXPECT_GT(injector.dropped + injector.duplicated + injector.flipped, 0u);
        }
        if (p == 1.0) {
            EXPECT_EQ(injector.dropped + injector.duplicated + injector.flipped, in.size());
        }
    }
}

#ifdef ORVEX_METER_SIM

namespace {

// orvex-meter-sim started with QProcess; the path of its device is its first line.
struct SimProcess {
    QProcess process;
    QString devicePath;

    bool Start(const QStringList& args) {
        process.start(QStringLiteral(ORVEX_METER_SIM), args);
        if (!process.waitForStarted(10000)) return false;
        if (!WaitFor([&] { return process.canReadLine() || process.waitForReadyRead(10); }, 10000))
            return false;
        devicePath = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !devicePath.isEmpty();
    }
    ~SimProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

// The window's line on the simulator's device.
void ConnectLikeTheWindow(D& driver, const QString& path) {
    driver.SetPortDevicePath(D::pnCOM1, path);
    ConfigureAsCOMM2(driver);
}

} // namespace

TEST(MeterSimProgram, StreamsValidPacketsUntilTerminated) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--rate", "max", "--seed", "4"}));
    EXPECT_TRUE(sim.devicePath.startsWith("/dev/pts/")) << sim.devicePath.toStdString();

    D driver;
    ConnectLikeTheWindow(driver, sim.devicePath);
    TPacketAssembler assembler;
    int cuts = 0, frames = 0, decoded = 0;
    assembler.onCut = [&](const QString&) { ++cuts; };
    assembler.onFrame = [&](const QString& frame) {
        ++frames;
        if (DecodeFrame(frame, ".", 22000, 22).ok) ++decoded;
    };
    driver.OnReceiveData = [&](D*, const std::uint8_t* data, int size) {
        assembler.OrvexDATA(data, size);
    };
    ASSERT_TRUE(driver.Connect());
    ASSERT_TRUE(WaitFor([&] { return frames >= 150; }, 30000)) << frames << " frames";
    // Only the packet cut by joining the stream may fail the frame check.
    EXPECT_LE(cuts - frames, 1);
    EXPECT_EQ(decoded, frames);

    ::kill(static_cast<pid_t>(sim.process.processId()), SIGTERM);
    ASSERT_TRUE(sim.process.waitForFinished(10000));
    EXPECT_EQ(sim.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.process.exitCode(), 0);
    EXPECT_TRUE(sim.process.readAllStandardError().contains("sent"));
    // The line is gone: no further events, no crash, and a clean disconnect.
    ASSERT_TRUE(WaitFor([&] { return driver.PortLost(); }, 10000));
    const int before = cuts;
    for (int i = 0; i < 5; ++i)
        driver.PollReceive();
    EXPECT_EQ(cuts, before);
    driver.Disconnect();
    EXPECT_FALSE(driver.Connected());
}

TEST(MeterSimProgram, FaultsDamageFramesWithoutStoppingTheStream) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--rate", "max", "--faults", "0.05", "--seed", "12"}));
    D driver;
    ConnectLikeTheWindow(driver, sim.devicePath);
    TPacketAssembler assembler;
    int cuts = 0, frames = 0;
    assembler.onCut = [&](const QString&) { ++cuts; };
    assembler.onFrame = [&](const QString& frame) {
        ++frames;
        (void)DecodeFrame(frame, ".", 22000, 22); // damaged frames must not hurt
    };
    driver.OnReceiveData = [&](D*, const std::uint8_t* data, int size) {
        assembler.OrvexDATA(data, size);
    };
    ASSERT_TRUE(driver.Connect());
    ASSERT_TRUE(WaitFor([&] { return cuts >= 200; }, 30000)) << cuts << " cuts";
    EXPECT_GT(cuts - frames, 1) << "damaged packets fail the frame check";
    EXPECT_GT(frames, 0) << "whole packets still come through";
    ::kill(static_cast<pid_t>(sim.process.processId()), SIGTERM);
    ASSERT_TRUE(sim.process.waitForFinished(10000));
    EXPECT_TRUE(sim.process.readAllStandardError().contains("faults dropped"));
}

TEST(MeterSimProgram, ReplaySendsTheCaptureByteForByte) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QByteArray capture;
    for (int i = 0; i < 40; ++i) {
        const Packet p = EncodePacket(sim::WithCounts({}, 1000 + i));
        capture.append(reinterpret_cast<const char*>(p.data()), static_cast<int>(p.size()));
    }
    capture.append("\x00\xff tail", 7);
    QFile file(dir.filePath("capture.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(capture);
    file.close();

    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--replay", file.fileName(), "--rate", "40"}));
    D driver;
    ConnectLikeTheWindow(driver, sim.devicePath);
    BatchRecorder rec;
    rec.Attach(driver);
    ASSERT_TRUE(driver.Connect());
    ASSERT_TRUE(WaitFor(
        [&] {
            driver.PollReceive();
            return sim.process.state() == QProcess::NotRunning;
        },
        20000));
    EXPECT_EQ(sim.process.exitCode(), 0);
    for (int i = 0; i < 5; ++i)
        driver.PollReceive();
    // Bytes sent before the driver connected were purged by its line set-up;
    // what arrived is the capture's tail, unaltered.
    ASSERT_FALSE(rec.bytes.empty());
    const QByteArray got(reinterpret_cast<const char*>(rec.bytes.data()),
                         static_cast<int>(rec.bytes.size()));
    EXPECT_TRUE(capture.endsWith(got))
        << got.size() << " of " << capture.size() << ": " << got.toHex().toStdString();
}

TEST(MeterSimProgram, LinkNamesTheDeviceWhileRunning) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("ttyMETER");
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--link", link, "--rate", "20"}));
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.devicePath);

    // The window reaches it through --com1 PATH, i.e. a mapped port.
    D driver;
    ConnectLikeTheWindow(driver, link);
    TPacketAssembler assembler;
    int frames = 0;
    assembler.onFrame = [&](const QString&) { ++frames; };
    driver.OnReceiveData = [&](D*, const std::uint8_t* data, int size) {
        assembler.OrvexDATA(data, size);
    };
    ASSERT_TRUE(driver.Connect());
    ASSERT_TRUE(WaitFor([&] { return frames >= 3; }, 20000));

    ::kill(static_cast<pid_t>(sim.process.processId()), SIGINT);
    ASSERT_TRUE(sim.process.waitForFinished(10000));
    EXPECT_EQ(sim.process.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink()) << "link removed on exit";

    // A file that is not a link is never replaced.
    QFile plain(link);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("keep");
    plain.close();
    QProcess refused;
    refused.start(QStringLiteral(ORVEX_METER_SIM), {"--link", link});
    ASSERT_TRUE(refused.waitForFinished(10000));
    EXPECT_EQ(refused.exitCode(), 1);
    EXPECT_TRUE(refused.readAllStandardError().contains("not a symbolic link"));
    ASSERT_TRUE(plain.open(QIODevice::ReadOnly));
    EXPECT_EQ(plain.readAll(), "keep");
}

TEST(MeterSimProgram, CommandLine) {
    struct Case {
        QStringList args;
        int exitCode;
        const char* says; // on stdout for 0, stderr otherwise
    };
    const Case cases[] = {
        {{"--help"}, 0, "--rate"},
        {{"--rate", "fast"}, 2, "--rate"},
        {{"--rate", "0"}, 2, "--rate"},
        {{"--rate", "1000"}, 2, "--rate"},
        {{"--faults", "1.5"}, 2, "--faults"},
        {{"--count", "-3"}, 2, "--count"},
        {{"--bogus"}, 2, "unknown option"},
        {{"--replay", "/nonexistent/capture"}, 1, "cannot open"},
        {{"--count", "3", "--rate", "max"}, 0, "/dev/pts/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QProcess p;
        p.start(QStringLiteral(ORVEX_METER_SIM), c.args);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), c.exitCode);
        const QByteArray text =
            c.exitCode == 0 ? p.readAllStandardOutput() : p.readAllStandardError();
        EXPECT_TRUE(text.contains(c.says)) << text.toStdString();
    }
}

#endif
