// TSerialPortDriver against real pseudo-terminals.

#include "link/SerialPortDriver.h"
#include "link/SerialCustomSpeed.h"
#include "link/SerialLineTermios.h"
#include "link/tests/LinkTestSupport.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QMetaEnum>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <termios.h>

using namespace orvex;
using namespace orvex::testing;
using D = TSerialPortDriver;

namespace {

class DriverOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(pty.Open(&error)) << error;
        // Every port points at the pty, so no test ever touches a real port.
        for (int p = 0; p < 4; ++p)
            driver.SetPortDevicePath(static_cast<D::TComPortNumber>(p),
                                     QString::fromStdString(pty.devicePath()));
        recorder.Attach(driver);
        // The tests poll by hand; the timer stays out of the way unless a test
        // shortens it.
        driver.SetComPortPollingDelay(60000);
    }

    // The line of the window's COMM2.
    void UseMeterLine() { ConfigureAsCOMM2(driver); }

    bool WaitQueued(int n) {
        return WaitFor([&] { return driver.InputQueueCount() >= n; });
    }

    sim::TMeterPty pty;
    D driver;
    BatchRecorder recorder;
};

QStringList EnumKeys(const char* name) {
    const QMetaObject& mo = D::staticMetaObject;
    const QMetaEnum e = mo.enumerator(mo.indexOfEnumerator(name));
    QStringList keys;
    for (int i = 0; i < e.keyCount(); ++i) {
        EXPECT_EQ(e.value(i), i) << name << " ordinal of " << e.key(i);
        keys << QString::fromLatin1(e.key(i));
    }
    return keys;
}

} // namespace

TEST(SerialPortDriverModel, PublishedEnumerationsDefaultsAndSpeedTable) {
    EXPECT_EQ(EnumKeys("TComPortNumber"), QStringList({"pnCOM1", "pnCOM2", "pnCOM3", "pnCOM4"}));
    EXPECT_EQ(EnumKeys("TComPortBaudRate"),
              QStringList({"br110", "br300", "br600", "br1200", "br2400", "br4800", "br9600",
                           "br14400", "br19200", "br38400", "br56000", "br57600", "br115200"}));
    EXPECT_EQ(EnumKeys("TComPortDataBits"),
              QStringList({"db5BITS", "db6BITS", "db7BITS", "db8BITS"}));
    EXPECT_EQ(EnumKeys("TComPortStopBits"), QStringList({"sb1BITS", "sb1HALFBITS", "sb2BITS"}));
    EXPECT_EQ(EnumKeys("TComPortParity"),
              QStringList({"ptNONE", "ptODD", "ptEVEN", "ptMARK", "ptSPACE"}));
    EXPECT_EQ(EnumKeys("TComPortHwHandshaking"), QStringList({"hhNONE", "hhRTSCTS"}));
    EXPECT_EQ(EnumKeys("TComPortSwHandshaking"), QStringList({"shNONE", "shXONXOFF"}));

    const int speeds[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                          14400, 19200, 38400, 56000, 57600, 115200};
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(D::BaudRateValue(static_cast<D::TComPortBaudRate>(i)), speeds[i]) << i;

    // Defaults, read through the published properties as a stored layout would.
    D d;
    EXPECT_EQ(d.property("ComPort").toInt(), D::pnCOM2);
    EXPECT_EQ(d.property("ComPortSpeed").toInt(), D::br9600);
    EXPECT_EQ(d.property("ComPortDataBits").toInt(), D::db8BITS);
    EXPECT_EQ(d.property("ComPortStopBits").toInt(), D::sb1BITS);
    EXPECT_EQ(d.property("ComPortParity").toInt(), D::ptNONE);
    EXPECT_EQ(d.property("ComPortHwHandshaking").toInt(), D::hhNONE);
    EXPECT_EQ(d.property("ComPortSwHandshaking").toInt(), D::shNONE);
    EXPECT_EQ(d.property("ComPortInBufSize").toInt(), 2048);
    EXPECT_EQ(d.property("ComPortOutBufSize").toInt(), 2048);
    EXPECT_EQ(d.property("ComPortPollingDelay").toInt(), 50);
    EXPECT_TRUE(d.property("EnableDTROnOpen").toBool());
    EXPECT_EQ(d.ReceiveBufferSize(), 2048);
    EXPECT_FALSE(d.Connected());
    EXPECT_FALSE(d.OnReceiveData);
}

TEST(SerialPortDriverModel, PortNamesAndDeviceMapping) {
    for (int p = 0; p < 4; ++p) {
        const auto port = static_cast<D::TComPortNumber>(p);
        EXPECT_EQ(D::PortName(port), QStringLiteral("COM%1").arg(p + 1));
        const QString usb = QStringLiteral("/dev/ttyUSB%1").arg(p);
        const QString expected =
            QFileInfo::exists(usb) ? usb : QStringLiteral("/dev/ttyS%1").arg(p);
        EXPECT_EQ(D::DefaultDevicePath(port), expected);
    }
    D d;
    d.SetPortDevicePath(D::pnCOM3, "/dev/my-meter");
    EXPECT_EQ(d.PortDevicePath(D::pnCOM3), "/dev/my-meter");
    EXPECT_EQ(d.PortDevicePath(D::pnCOM2), D::DefaultDevicePath(D::pnCOM2));
    d.SetPortDevicePath(D::pnCOM3, QString());
    EXPECT_EQ(d.PortDevicePath(D::pnCOM3), D::DefaultDevicePath(D::pnCOM3));
}

// The block handed to the kernel.  A pseudo-terminal forces 8 bits and no
// parity, so the character format is checked here; the pty tests below read
// back what a pty keeps.
TEST(SerialPortDriverModel, LineTermiosForEachCharacterFormat) {
    struct Case {
        const char* name;
        D::TComPortBaudRate speed;
        D::TComPortDataBits bits;
        D::TComPortParity parity;
        D::TComPortStopBits stop;
        D::TComPortHwHandshaking hw;
        D::TComPortSwHandshaking sw;
        tcflag_t cflagSet;  // bits that must be set (within the masks below)
        speed_t posixSpeed; // cfgetospeed of the block
        int customSpeed;
        bool xonxoff;
    };
    const Case cases[] = {
        {"meter line 19200 7O1", D::br19200, D::db7BITS, D::ptODD, D::sb1BITS, D::hhNONE, D::shNONE,
         CS7 | PARENB | PARODD, B19200, 0, false},
        {"defaults 9600 8N1", D::br9600, D::db8BITS, D::ptNONE, D::sb1BITS, D::hhNONE, D::shNONE,
         CS8, B9600, 0, false},
        {"even, two stop bits", D::br115200, D::db8BITS, D::ptEVEN, D::sb2BITS, D::hhNONE,
         D::shNONE, CS8 | PARENB | CSTOPB, B115200, 0, false},
        {"mark parity", D::br110, D::db6BITS, D::ptMARK, D::sb1BITS, D::hhNONE, D::shNONE,
         CS6 | PARENB | PARODD | CMSPAR, B110, 0, false},
        {"space parity", D::br38400, D::db7BITS, D::ptSPACE, D::sb1BITS, D::hhNONE, D::shNONE,
         CS7 | PARENB | CMSPAR, B38400, 0, false},
        {"5 bits, 1.5 stop bits", D::br1200, D::db5BITS, D::ptNONE, D::sb1HALFBITS, D::hhNONE,
         D::shNONE, CS5 | CSTOPB, B1200, 0, false},
        {"RTS/CTS", D::br57600, D::db8BITS, D::ptNONE, D::sb1BITS, D::hhRTSCTS, D::shNONE,
         CS8 | CRTSCTS, B57600, 0, false},
        {"XON/XOFF", D::br4800, D::db8BITS, D::ptNONE, D::sb1BITS, D::hhNONE, D::shXONXOFF, CS8,
         B4800, 0, true},
        {"14400 outside the POSIX table", D::br14400, D::db8BITS, D::ptNONE, D::sb1BITS, D::hhNONE,
         D::shNONE, CS8, B9600, 14400, false},
        {"56000 outside the POSIX table", D::br56000, D::db8BITS, D::ptNONE, D::sb1BITS, D::hhNONE,
         D::shNONE, CS8, B9600, 56000, false},
    };
    const tcflag_t formatMask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D d;
        d.SetComPortSpeed(c.speed);
        d.SetComPortDataBits(c.bits);
        d.SetComPortParity(c.parity);
        d.SetComPortStopBits(c.stop);
        d.SetComPortHwHandshaking(c.hw);
        d.SetComPortSwHandshaking(c.sw);
        const TLineTermios line = BuildLineTermios(d);
        EXPECT_EQ(line.tio.c_cflag & formatMask, c.cflagSet);
        EXPECT_EQ(line.tio.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
        EXPECT_EQ(cfgetospeed(&line.tio), c.posixSpeed);
        EXPECT_EQ(line.customSpeed, c.customSpeed);
        EXPECT_EQ((line.tio.c_iflag & (IXON | IXOFF)) != 0, c.xonxoff);
        // Raw: nothing checked, marked, stripped, translated or echoed.
        EXPECT_EQ(line.tio.c_iflag & ~tcflag_t(IXON | IXOFF), tcflag_t(0));
        EXPECT_EQ(line.tio.c_oflag, tcflag_t(0));
        EXPECT_EQ(line.tio.c_lflag, tcflag_t(0));
        // Flow-control characters stay DC1/DC3, never NUL (a data byte).
        EXPECT_EQ(line.tio.c_cc[VSTART], 0x11);
        EXPECT_EQ(line.tio.c_cc[VSTOP], 0x13);
    }
}

TEST_F(DriverOnPty, LineSettingsReadBackFromTheDevice) {
    struct Case {
        const char* name;
        D::TComPortBaudRate speed;
        D::TComPortHwHandshaking hw;
        D::TComPortSwHandshaking sw;
        int bitsPerSecond;
    };
    const Case cases[] = {
        {"meter line", D::br19200, D::hhNONE, D::shNONE, 19200},
        {"14400 through termios2", D::br14400, D::hhNONE, D::shNONE, 14400},
        {"56000 through termios2", D::br56000, D::hhNONE, D::shNONE, 56000},
        {"RTS/CTS", D::br115200, D::hhRTSCTS, D::shNONE, 115200},
        {"XON/XOFF", D::br2400, D::hhNONE, D::shXONXOFF, 2400},
    };
    UseMeterLine();
    ASSERT_TRUE(driver.Connect());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Setters re-program the open line at once.
        driver.SetComPortSpeed(c.speed);
        driver.SetComPortHwHandshaking(c.hw);
        driver.SetComPortSwHandshaking(c.sw);
        termios tio{};
        ASSERT_EQ(tcgetattr(pty.masterFd(), &tio), 0);
        int out = 0, in = 0;
        ASSERT_TRUE(ReadLineSpeed(pty.masterFd(), &out, &in));
        EXPECT_EQ(out, c.bitsPerSecond);
        EXPECT_EQ(in, c.bitsPerSecond);
        if (c.speed == D::br19200) {
            EXPECT_EQ(cfgetospeed(&tio), speed_t(B19200));
        }
        // Odd parity chosen (a pty drops PARENB and forces CS8 itself).
        EXPECT_TRUE(tio.c_cflag & PARODD);
        EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, c.hw == D::hhRTSCTS);
        EXPECT_EQ((tio.c_iflag & (IXON | IXOFF)) == tcflag_t(IXON | IXOFF), c.sw == D::shXONXOFF);
        if (c.sw == D::shNONE) {
            EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), tcflag_t(0));
        }
        EXPECT_EQ(tio.c_iflag & (INPCK | IGNPAR | PARMRK | ISTRIP | ICRNL | INLCR | IGNCR),
                  tcflag_t(0));
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
        EXPECT_EQ(tio.c_oflag & OPOST, tcflag_t(0));
        EXPECT_TRUE(tio.c_cflag & CLOCAL);
    }
}

TEST_F(DriverOnPty, BatchesArriveWholeAndInOrderAcrossChunkedWrites) {
    // Every byte value, so raw reception (CR, LF, NUL, XON/XOFF, high bit) is
    // covered as well as order.
    std::vector<std::uint8_t> sent;
    for (int round = 0; round < 8; ++round)
        for (int b = 0; b < 256; ++b)
            sent.push_back(static_cast<std::uint8_t>(b ^ round));

    for (quint16 bufSize : {quint16(2048), quint16(13)}) {
        SCOPED_TRACE(bufSize);
        driver.Disconnect();
        recorder = {};
        recorder.Attach(driver);
        driver.SetComPortInBufSize(bufSize);
        UseMeterLine();
        ASSERT_TRUE(driver.Connect());
        const std::size_t chunks[] = {1, 7, 13, 14, 100, 333, 2};
        std::size_t offset = 0, k = 0;
        while (offset < sent.size()) {
            const std::size_t n = std::min(chunks[k++ % std::size(chunks)], sent.size() - offset);
            ASSERT_EQ(pty.Write(sent.data() + offset, n), n);
            offset += n;
            if (k % 3 == 0) driver.PollReceive();
        }
        ASSERT_TRUE(PollUntil(driver, recorder, sent.size()));
        EXPECT_EQ(recorder.bytes, sent);
        for (int size : recorder.sizes) {
            EXPECT_GE(size, 1);
            EXPECT_LE(size, bufSize);
        }
    }
}

TEST_F(DriverOnPty, ConnectOnAnOpenDriverNeitherReopensNorReprograms) {
    UseMeterLine();
    ASSERT_TRUE(driver.Connect());
    // Change the line behind the driver's back and queue some bytes.
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.masterFd(), &tio), 0);
    cfsetospeed(&tio, B2400);
    cfsetispeed(&tio, B2400);
    ASSERT_EQ(tcsetattr(pty.masterFd(), TCSANOW, &tio), 0);
    WriteAll(pty, Bytes("kept"));
    ASSERT_TRUE(WaitQueued(4));

    EXPECT_TRUE(driver.Connect());
    EXPECT_TRUE(driver.Connected());
    ASSERT_EQ(tcgetattr(pty.masterFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B2400)) << "line re-programmed";
    ASSERT_TRUE(PollUntil(driver, recorder, 4)) << "queue purged";
    EXPECT_EQ(recorder.bytes, Bytes("kept"));
}

TEST_F(DriverOnPty, PortAndBufferSizeAreFrozenWhileOpen) {
    sim::TMeterPty other;
    std::string error;
    ASSERT_TRUE(other.Open(&error)) << error;
    driver.SetPortDevicePath(D::pnCOM2, QString::fromStdString(other.devicePath()));
    UseMeterLine(); // COM1 -> pty
    ASSERT_TRUE(driver.Connect());

    driver.SetComPort(D::pnCOM2);
    driver.SetComPortInBufSize(16);
    EXPECT_EQ(driver.ComPort(), D::pnCOM1);
    EXPECT_EQ(driver.ComPortInBufSize(), 2048);
    EXPECT_EQ(driver.ReceiveBufferSize(), 2048);

    // Still the old port after a reconnect.
    driver.Disconnect();
    ASSERT_TRUE(driver.Connect());
    EXPECT_EQ(driver.OpenedDevicePath(), QString::fromStdString(pty.devicePath()));
    std::vector<std::uint8_t> big(100, 0x41);
    WriteAll(pty, big);
    ASSERT_TRUE(WaitQueued(100));
    ASSERT_TRUE(PollUntil(driver, recorder, big.size()));
    EXPECT_EQ(recorder.sizes.front(), 100) << "batch not cut to the ignored size";

    // Closed, both take effect.
    driver.Disconnect();
    driver.SetComPort(D::pnCOM2);
    driver.SetComPortInBufSize(16);
    EXPECT_EQ(driver.ReceiveBufferSize(), 16);
    ASSERT_TRUE(driver.Connect());
    EXPECT_EQ(driver.OpenedDevicePath(), QString::fromStdString(other.devicePath()));
}

TEST_F(DriverOnPty, LineSettersPurgeBytesNotYetPolled) {
    struct Case {
        const char* name;
        std::function<void(D&)> change;
    };
    const Case cases[] = {
        {"speed", [](D& d) { d.SetComPortSpeed(D::br9600); }},
        {"data bits", [](D& d) { d.SetComPortDataBits(D::db8BITS); }},
        {"stop bits", [](D& d) { d.SetComPortStopBits(D::sb2BITS); }},
        {"parity", [](D& d) { d.SetComPortParity(D::ptEVEN); }},
        {"RTS/CTS", [](D& d) { d.SetComPortHwHandshaking(D::hhRTSCTS); }},
        {"XON/XOFF", [](D& d) { d.SetComPortSwHandshaking(D::shXONXOFF); }},
        {"ApplyLineSettings", [](D& d) { d.ApplyLineSettings(); }},
        {"PurgeQueues(input)", [](D& d) { d.PurgeQueues(true, false); }},
    };
    UseMeterLine();
    ASSERT_TRUE(driver.Connect());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recorder = {};
        recorder.Attach(driver);
        WriteAll(pty, Bytes("stale bytes"));
        ASSERT_TRUE(WaitQueued(11));
        c.change(driver);
        EXPECT_EQ(driver.InputQueueCount(), 0);
        WriteAll(pty, Bytes("fresh"));
        ASSERT_TRUE(PollUntil(driver, recorder, 5));
        EXPECT_EQ(recorder.bytes, Bytes("fresh"));
        driver.SetComPortSwHandshaking(D::shNONE); // back to a plain line
        driver.SetComPortHwHandshaking(D::hhNONE);
    }
}

TEST_F(DriverOnPty, EmptyTicksAndAnUnassignedHandlerRaiseNothing) {
    UseMeterLine();
    ASSERT_TRUE(driver.Connect());
    for (int i = 0; i < 20; ++i)
        driver.PollReceive();
    EXPECT_TRUE(recorder.sizes.empty());

    driver.OnReceiveData = nullptr;
    WriteAll(pty, Bytes("unheard"));
    ASSERT_TRUE(WaitQueued(7));
    driver.PollReceive(); // must not call an empty handler
    EXPECT_EQ(driver.InputQueueCount(), 0);

    recorder.Attach(driver);
    WriteAll(pty, Bytes("heard"));
    ASSERT_TRUE(PollUntil(driver, recorder, 5));
    EXPECT_EQ(recorder.bytes, Bytes("heard"));
}

TEST_F(DriverOnPty, COM4OpensTheDeviceMappedToCOM4) {
    sim::TMeterPty com4;
    std::string error;
    ASSERT_TRUE(com4.Open(&error)) << error;
    driver.SetPortDevicePath(D::pnCOM4, QString::fromStdString(com4.devicePath()));
    driver.SetComPort(D::pnCOM4);
    ASSERT_TRUE(driver.Connect());
    EXPECT_EQ(D::PortName(driver.ComPort()), "COM4");
    EXPECT_EQ(driver.OpenedDevicePath(), QString::fromStdString(com4.devicePath()));
    WriteAll(com4, Bytes("4"));
    ASSERT_TRUE(PollUntil(driver, recorder, 1));
}

TEST_F(DriverOnPty, RefusedOpensLeaveTheDriverClosed) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile plain(dir.filePath("not-a-tty"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    struct Case {
        const char* name;
        QString path;
    };
    const Case cases[] = {
        {"missing device", dir.filePath("no-such-port")},
        {"plain file", dir.filePath("not-a-tty")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver.SetPortDevicePath(D::pnCOM3, c.path);
        driver.SetComPort(D::pnCOM3);
        EXPECT_FALSE(driver.Connect());
        EXPECT_FALSE(driver.Connected());
        EXPECT_TRUE(driver.OpenedDevicePath().isEmpty());
        driver.PollReceive();
        driver.PurgeQueues(true, true);
        driver.ApplyLineSettings();
        EXPECT_EQ(driver.InputQueueCount(), 0);
    }
    // Disconnect on a closed driver does nothing, twice over.
    driver.Disconnect();
    driver.Disconnect();
    EXPECT_FALSE(driver.Connected());
}

TEST_F(DriverOnPty, ASecondOpenOfTheSamePortIsRefused) {
    ASSERT_TRUE(driver.Connect());
    D second;
    second.SetPortDevicePath(second.ComPort(), QString::fromStdString(pty.devicePath()));
    EXPECT_FALSE(second.Connect());
    EXPECT_FALSE(second.Connected());
    driver.Disconnect();
    EXPECT_TRUE(second.Connect()) << "the port is free again once closed";
}

TEST_F(DriverOnPty, AHungUpLineGivesNoEventsAndStillDisconnects) {
    UseMeterLine();
    ASSERT_TRUE(driver.Connect());
    QSignalSpy lost(&driver, &D::portLost);
    WriteAll(pty, Bytes("before"));
    ASSERT_TRUE(PollUntil(driver, recorder, 6));
    const auto batches = recorder.sizes.size();

    pty.Close(); // the other end goes away (an unplugged adapter)
    ASSERT_TRUE(WaitFor([&] {
        driver.PollReceive();
        return driver.PortLost();
    }));
    for (int i = 0; i < 10; ++i)
        driver.PollReceive();
    EXPECT_EQ(recorder.sizes.size(), batches);
    EXPECT_EQ(lost.count(), 1);
    EXPECT_TRUE(driver.Connected());
    driver.Disconnect();
    EXPECT_FALSE(driver.Connected());
    EXPECT_FALSE(driver.PortLost());
}

// A handler that runs a nested event loop (a modal message box) while the
// poll timer keeps ticking: nothing is lost, nothing reordered, no re-entry.
TEST_F(DriverOnPty, NestedEventLoopInTheHandlerLosesAndReordersNothing) {
    UseMeterLine();
    driver.SetComPortPollingDelay(2);
    std::vector<std::uint8_t> received;
    int depth = 0, maxDepth = 0, nestedTicks = 0, calls = 0;
    const std::vector<std::uint8_t> first = Bytes("first batch|");
    const std::vector<std::uint8_t> during = Bytes("written while the box was open|");
    const std::vector<std::uint8_t> later = Bytes("after");
    std::vector<std::uint8_t> all = first;
    all.insert(all.end(), during.begin(), during.end());
    all.insert(all.end(), later.begin(), later.end());

    driver.OnReceiveData = [&](D* sender, const std::uint8_t* data, int size) {
        ++calls;
        maxDepth = std::max(maxDepth, ++depth);
        const std::vector<std::uint8_t> batch(data, data + size);
        if (calls == 1) {
            EXPECT_EQ(sender, &driver);
            EXPECT_TRUE(driver.InReceiveHandler());
            WriteAll(pty, during);
            QEventLoop box;
            QTimer ticks;
            // Qt never re-fires the poll timer inside its own slot, so the
            // nested ticks are driven by hand as well, as any other caller of
            // PollReceive would.
            QObject::connect(&ticks, &QTimer::timeout, [&] {
                driver.PollReceive();
                if (++nestedTicks >= 25) box.quit();
            });
            ticks.start(2);
            box.exec();
            // The batch being handled was not overwritten by the ticks.
            EXPECT_EQ(std::vector<std::uint8_t>(data, data + size), batch);
        }
        received.insert(received.end(), batch.begin(), batch.end());
        --depth;
    };
    ASSERT_TRUE(driver.Connect());
    WriteAll(pty, first);
    ASSERT_TRUE(WaitFor([&] { return calls >= 1 && depth == 0; }));
    WriteAll(pty, later);
    ASSERT_TRUE(WaitFor([&] { return received.size() >= all.size(); }));
    EXPECT_EQ(received, all);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_GE(nestedTicks, 25);
}

// The handler closes the port and asks for a smaller buffer while it still
// reads its batch: the batch stays valid until it returns.
TEST_F(DriverOnPty, HandlerMayCloseAndResizeWhileReadingItsBatch) {
    UseMeterLine();
    std::vector<std::uint8_t> seen;
    driver.OnReceiveData = [&](D* d, const std::uint8_t* data, int size) {
        d->Disconnect();
        d->SetComPortInBufSize(4);
        seen.assign(data, data + size);
    };
    ASSERT_TRUE(driver.Connect());
    WriteAll(pty, Bytes("0123456789"));
    ASSERT_TRUE(WaitQueued(10));
    driver.PollReceive();
    EXPECT_EQ(seen, Bytes("0123456789"));
    EXPECT_FALSE(driver.Connected());
    EXPECT_EQ(driver.ReceiveBufferSize(), 4);
}
