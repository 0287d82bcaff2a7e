// The USB adapter cable link: taking the cable's reports apart into frames,
// the device list with the cable's selection, and "USB Connect" with the
// watchdog, over the in-memory HID platform.

#include "link/UsbCableLink.h"
#include "link/ConnectionControl.h"
#include "link/MemoryHidPlatform.h"
#include "link/SerialPortDriver.h"
#include "link/tests/LinkTestSupport.h"
#include "protocol/PacketAssembler.h"
#include "protocol/PacketEncoder.h"
#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

using namespace orvex;
using orvex::testing::WaitFor;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A report as the controller delivers it: report ID, then the data bytes.
struct HidReport {
    std::uint8_t id;
    Bytes data;
};

// Records what the link hands to the decoder.
struct Decoder {
    QStringList frames;
    QStringList frameTextDuringCall;
    TPacketAssembler assembler;
    void Attach(TUsbCableLink& link) {
        link.onFrame = [this](const QString& frame) {
            frames << frame;
            frameTextDuringCall << assembler.frameText();
        };
    }
};

void Feed(TUsbCableLink& link, const std::vector<HidReport>& reports) {
    for (const HidReport& r : reports)
        link.OrvexHidData(nullptr, r.id, r.data.data(), static_cast<std::uint16_t>(r.data.size()));
}

// The 14 bytes of a packet as the cable carries them, in reports of 7 meter bytes.
std::vector<HidReport> CableCarrying(const Bytes& bytes) {
    std::vector<HidReport> out;
    for (const Bytes& r : sim::CableReports(bytes.data(), bytes.size()))
        out.push_back({0x00, r});
    return out;
}

const Bytes kZeroPacket = {0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30,
                           0x30, 0x30, 0x30, 0x30, 0x30, 0x0D, 0x0A};

Bytes WithTopBit(Bytes b) {
    for (auto& x : b)
        x |= 0x80;
    return b;
}

} // namespace

// Report sequences and what reaches the decoder.
TEST(UsbCableReports, SequencesAndTheirFrames) {
    struct Case {
        const char* name;
        std::vector<HidReport> reports;
        QStringList frames; // handed to the decoder
        QString hexAfter;   // usbHexText after the last report
        int idleAfter;      // usbIdleReports after the last report
        QStringList memo1;  // frame lines of the trace (before the move)
    };
    std::vector<HidReport> runTogether = CableCarrying(kZeroPacket);
    runTogether.pop_back(); // no report without meter bytes between the packets
    for (const HidReport& r : CableCarrying(WithTopBit(kZeroPacket)))
        runTogether.push_back(r);
    const Case cases[] = {
        {"a data report, then one without meter bytes",
         {{0x00, {0xF2, 0xB1, 0xB2, 0x44, 0x55}}, {0x00, {0xF0, 0x99}}},
         {},
         "",
         1,
         {"12"}},
        {"a packet of 14 bytes, then count 0",
         CableCarrying(kZeroPacket),
         {"A000000000000D"},
         "",
         1,
         {"000000000000DA"}},
        {"top bits set on every byte give the same frame",
         CableCarrying(WithTopBit(kZeroPacket)),
         {"A000000000000D"},
         "",
         1,
         {"000000000000DA"}},
        {"count 9 in a report holding 5 bytes after the count",
         {{0x00, {0x09, 1, 2, 3, 4, 5}}},
         {},
         "0102030405",
         0,
         {}},
        {"count nibbles A to F carry no meter bytes and count as idle",
         {{0x00, {0x0A, 0x31}}, {0x00, {0xFF, 0x31}}, {0x00, {0x00}}},
         {},
         "",
         3,
         {}},
        {"a report without data bytes ends a packet but is not idle",
         {{0x00, {0x02, 0x31, 0x32}}, {0x00, {}}},
         {},
         "",
         0,
         {"12"}},
        {"packets that run together: only the first 14 bytes count",
         runTogether,
         {"A000000000000D"},
         "",
         1,
         {"000000000000DA"}},
        {"a frame failing the A...D check is dropped",
         CableCarrying(
             {0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x0D, 0x0B}),
         {},
         "",
         1,
         {"000000000000DB"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Decoder decoder;
        TUsbCableLink link(nullptr, decoder.assembler);
        decoder.Attach(link);
        QStringList memo1;
        QObject::connect(&link, &TUsbCableLink::trace,
                         [&](const QString&, const QString& frame) { memo1 << frame; });
        Feed(link, c.reports);
        EXPECT_EQ(decoder.frames, c.frames);
        EXPECT_EQ(decoder.frameTextDuringCall, c.frames) << "frameText holds the frame";
        EXPECT_EQ(link.usbHexText, c.hexAfter);
        EXPECT_EQ(link.usbIdleReports, c.idleAfter);
        EXPECT_EQ(memo1, c.memo1);
        EXPECT_TRUE(decoder.assembler.frameText().isEmpty()) << "emptied after the packet";
    }
}

TEST(UsbCableReports, OnlyDataReportsAreLogged) {
    Decoder decoder;
    TUsbCableLink link(nullptr, decoder.assembler);
    Feed(link, {{0x00, {0xF2, 0xB1, 0xB2, 0x44}}, {0x00, {0xF0}}, {0x07, {0x01, 0x0A}}});
    EXPECT_EQ(link.HistoryListBox().lines(), (QStringList{"R 00  F2 B1 B2 44 ", "R 07  01 0A "}));
}

TEST(UsbCableReports, TheSerialFrameIsReplacedNotExtended) {
    Decoder decoder;
    TUsbCableLink link(nullptr, decoder.assembler);
    decoder.Attach(link);
    decoder.assembler.setFrameText(QStringLiteral("A012345B000A0D"));
    Feed(link, CableCarrying(kZeroPacket));
    EXPECT_EQ(decoder.frameTextDuringCall, QStringList{"A000000000000D"});
}

TEST(UsbCableReports, ADecoderFailureLeavesNothingForTheNextPacket) {
    Decoder decoder;
    TUsbCableLink link(nullptr, decoder.assembler);
    int calls = 0;
    link.onFrame = [&](const QString& frame) {
        decoder.frames << frame;
        if (++calls == 1) throw std::runtime_error("cannot decode");
    };
    EXPECT_THROW(Feed(link, CableCarrying(kZeroPacket)), std::runtime_error);
    EXPECT_TRUE(link.usbHexText.isEmpty());
    EXPECT_FALSE(link.usbPacketOpen);
    EXPECT_TRUE(decoder.assembler.frameText().isEmpty());
    Feed(link, CableCarrying(kZeroPacket));
    EXPECT_EQ(decoder.frames, (QStringList{"A000000000000D", "A000000000000D"}));
}

TEST(UsbCableReports, EncodedPacketsSurviveTheCable) {
    Decoder decoder;
    TUsbCableLink link(nullptr, decoder.assembler);
    decoder.Attach(link);
    sim::TMeterScenario scenario(3);
    QStringList expected;
    TPacketAssembler serial;
    serial.onFrame = [&](const QString& f) { expected << f; };
    const std::uint8_t lf = 0x0A;
    serial.OrvexDATA(&lf, 1);
    for (int i = 0; i < 40; ++i) {
        const Packet p = EncodePacket(scenario.Next());
        serial.OrvexDATA(p.data(), int(p.size()));
        Feed(link, CableCarrying(Bytes(p.begin(), p.end())));
    }
    EXPECT_EQ(decoder.frames.size(), 40);
    EXPECT_EQ(decoder.frames, expected) << "the same frames as the serial assembler";
}

TEST(UsbCableReports, BoundedHistoryAndCollection) {
    Decoder decoder;
    TUsbCableLink link(nullptr, decoder.assembler);
    for (int i = 0; i < TUsbCableLink::kHistoryCapacity + 10; ++i)
        Feed(link, {{0x00, {0x07, 1, 2, 3, 4, 5, 6, 7}}});
    EXPECT_EQ(link.HistoryListBox().lineCount(), TUsbCableLink::kHistoryCapacity);
    EXPECT_EQ(link.HistoryListBox().appendedCount(), TUsbCableLink::kHistoryCapacity + 10);
    EXPECT_EQ(link.usbHexText.size(), TUsbCableLink::kMaxUsbHexText);
    EXPECT_TRUE(link.usbHexText.startsWith(QStringLiteral("01020304050607")));
}

// ------------------------------------------------------ the link over devices

namespace {

TMemoryHidDeviceSpec Device(int n, std::u16string product, std::u16string serial = {}) {
    TMemoryHidDeviceSpec s;
    s.devicePath = QStringLiteral("/dev/hidraw%1").arg(n);
    s.deviceInstance = QStringLiteral("/sys/devices/usb/%1").arg(n);
    s.attributes = {0x1234, std::uint16_t(0x00AB + n), 0x0100};
    s.product = std::move(product);
    s.serial = std::move(serial);
    return s;
}

class CableLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        for (int p = 0; p < 4; ++p)
            driver.SetPortDevicePath(static_cast<TSerialPortDriver::TComPortNumber>(p),
                                     dir.filePath(QStringLiteral("missing%1").arg(p)));
        driver.SetComPort(TSerialPortDriver::pnCOM1);
        QObject::connect(&control, &TConnectionControl::informRequested,
                         [this](const QString& t) { informed << t; });
        QObject::connect(&control, &TConnectionControl::linkLostNotice,
                         [this](const QString& t) { notices << t; });
    }
    void Start() {
        HidCtl = std::make_unique<THidDeviceController>(platform);
        link = std::make_unique<TUsbCableLink>(HidCtl.get(), decoder.assembler);
        decoder.Attach(*link);
        QObject::connect(link.get(), &TUsbCableLink::informRequested,
                         [this](const QString& t) { informed << t; });
        QObject::connect(link.get(), &TUsbCableLink::cableLost,
                         [this](const QString& t) { control.LinkLost(TLinkKind::Usb, t); });
        control.AttachCable(link.get());
        link->AssignHandlers();
    }
    void TearDown() override {
        control.AttachCable(nullptr);
        link.reset();
        HidCtl.reset();
    }
    QStringList Texts() const {
        QStringList t;
        for (const auto& e : link->DevListBox())
            t << e.text;
        return t;
    }
    void SendPacket(const QString& path) {
        for (const Bytes& r : sim::CableReports(kZeroPacket.data(), kZeroPacket.size())) {
            Bytes withId{0x00};
            withId.insert(withId.end(), r.begin(), r.end());
            platform->PushReport(path, withId);
        }
    }

    QTemporaryDir dir;
    TSerialPortDriver driver;
    TConnectionControl control{driver};
    std::shared_ptr<TMemoryHidPlatform> platform = std::make_shared<TMemoryHidPlatform>(false);
    std::unique_ptr<THidDeviceController> HidCtl;
    std::unique_ptr<TUsbCableLink> link;
    Decoder decoder;
    QStringList informed, notices;
};

} // namespace

TEST_F(CableLinkTest, TheListNamesEveryDeviceAndSelectsThePlainCable) {
    platform->AddDevice(Device(0, u"USB to Serial"));
    platform->AddDevice(Device(1, u"Optical Mouse"));
    platform->AddDevice(Device(2, u"USB to Serial", u"0042"));
    platform->AddDevice(Device(3, u""));
    Start();
    EXPECT_EQ(Texts(), (QStringList{"USB to Serial", "Optical Mouse", "USB to Serial (Serial=0042)",
                                    "Device VID=1234 PID=00AE"}));
    EXPECT_EQ(link->DevListBoxItemIndex(), 0);
    for (const auto& e : link->DevListBox())
        EXPECT_TRUE(e.device && e.device->lent()) << "every device is lent to the list";

    platform->AddDevice(Device(4, u"USB to Serial"));
    platform->NotifyChange();
    EXPECT_EQ(link->DevListBoxItemIndex(), 4) << "when several match, the last one";
    EXPECT_EQ(link->HistoryListBox().lines(), QStringList{"Arrival of USB to Serial"});
}

TEST_F(CableLinkTest, ACableNamedOtherwiseIsNotSelected) {
    platform->AddDevice(Device(0, u"USB-Serial"));
    Start();
    EXPECT_EQ(link->DevListBoxItemIndex(), -1);
    control.USBConClick(true, true);
    EXPECT_EQ(informed, QStringList{kCableNotConnectedText});
    EXPECT_FALSE(control.view().USBConDown);
    EXPECT_TRUE(control.view().COMConVisible);
    EXPECT_TRUE(platform->Features(QStringLiteral("/dev/hidraw0")).empty());
}

TEST_F(CableLinkTest, UsbConnectSetsTheCableUpAndReads) {
    platform->AddDevice(Device(0, u"Keyboard"));
    platform->AddDevice(Device(1, u"USB to Serial"));
    Start();
    QSignalSpy lcdSend(&control, &TConnectionControl::lcdSendVisibilityChanged);
    control.USBConClick(true, true);
    EXPECT_TRUE(informed.isEmpty());
    const TLinkViewState& v = control.view();
    EXPECT_TRUE(v.USBConDown);
    EXPECT_EQ(v.USBConCaption, "USB Disconnect");
    EXPECT_FALSE(v.COMConVisible);
    EXPECT_EQ(v.btComVisible, (std::array<bool, 4>{false, false, false, false}));
    EXPECT_TRUE(v.LCDsendVisible);
    ASSERT_EQ(lcdSend.count(), 1);
    EXPECT_TRUE(lcdSend.at(0).at(0).toBool());
    ASSERT_EQ(link->currentHidDevice, link->SelectedDevice());
    EXPECT_TRUE(link->currentHidDevice->ReadThreadRunning());
    const auto features = platform->Features(QStringLiteral("/dev/hidraw1"));
    ASSERT_EQ(features.size(), 1u);
    EXPECT_EQ(features[0], Bytes(kCableSetupReport.begin(), kCableSetupReport.end()));
    EXPECT_EQ(link->HistoryListBox().lastLine(), "00 00 4B 00 00 03 00 00 00 00 ");

    SendPacket(QStringLiteral("/dev/hidraw1"));
    ASSERT_TRUE(WaitFor([&] { return decoder.frames.size() == 1; }));
    EXPECT_EQ(decoder.frames[0], "A000000000000D");

    control.USBConClick(false, true);
    EXPECT_FALSE(control.view().USBConDown);
    EXPECT_EQ(control.view().USBConCaption, "USB Connection");
    EXPECT_TRUE(control.view().COMConVisible);
    EXPECT_EQ(control.view().btComVisible, (std::array<bool, 4>{true, false, false, false}));
    EXPECT_FALSE(control.view().LCDsendVisible);
    EXPECT_FALSE(link->SelectedDevice()->ReadThreadRunning());
    EXPECT_EQ(platform->Features(QStringLiteral("/dev/hidraw1")).size(), 2u)
        << "the set-up report goes out on release as well";
}

TEST_F(CableLinkTest, IFOrvexClearedConnectsWithoutReading) {
    platform->AddDevice(Device(0, u"USB to Serial"));
    Start();
    control.USBConClick(true, false);
    EXPECT_TRUE(control.view().USBConDown);
    EXPECT_FALSE(link->SelectedDevice()->ReadThreadRunning());
}

TEST_F(CableLinkTest, ACableThatMayNotBeOpenedSaysWhy) {
    TMemoryHidDeviceSpec cable = Device(0, u"USB to Serial");
    cable.readWrite = false;
    platform->AddDevice(cable);
    Start();
    ASSERT_EQ(link->DevListBoxItemIndex(), 0) << "listed and selected by its name";
    control.USBConClick(true, true);
    EXPECT_FALSE(control.view().USBConDown);
    ASSERT_EQ(informed.size(), 1);
    EXPECT_TRUE(informed[0].contains("/dev/hidraw0")) << informed[0].toStdString();
    EXPECT_TRUE(informed[0].contains("udev rule")) << informed[0].toStdString();
}

TEST_F(CableLinkTest, TheWatchdogStopsAfter1900ReportsWithoutMeterBytes) {
    platform->AddDevice(Device(0, u"USB to Serial"));
    Start();
    control.USBConClick(true, true);
    THidDevice* cable = link->SelectedDevice();
    for (int i = 0; i < 1899; ++i)
        platform->PushReport(QStringLiteral("/dev/hidraw0"), {0x00, 0x00, 0x00});
    ASSERT_TRUE(WaitFor([&] { return link->usbIdleReports == 1899; }, 20000));
    for (int i = 0; i < 3; ++i)
        control.ConTimerTimer();
    EXPECT_TRUE(informed.isEmpty()) << "1899 is not enough";
    platform->PushReport(QStringLiteral("/dev/hidraw0"), {0x00, 0x00});
    ASSERT_TRUE(WaitFor([&] { return link->usbIdleReports == 1900; }));
    control.ConTimerTimer();
    control.ConTimerTimer();
    EXPECT_TRUE(informed.isEmpty()) << "only on the tick that finds no decoded packet";
    control.ConTimerTimer();
    EXPECT_EQ(informed, QStringList{kMeterNotReadyText});
    EXPECT_EQ(link->usbIdleReports, 0);
    EXPECT_FALSE(control.view().USBConDown);
    EXPECT_EQ(control.view().USBConCaption, "USB Disconnect") << "only the button is released";
    EXPECT_FALSE(control.view().COMConVisible);
    EXPECT_FALSE(cable->ReadThreadRunning());
    // The next click presses it and connects again.
    control.USBConClick(true, true);
    EXPECT_TRUE(cable->ReadThreadRunning());
}

TEST_F(CableLinkTest, AnotherDevicePluggedWhileConnectedDoesNotStopTheReadings) {
    platform->AddDevice(Device(0, u"USB to Serial"));
    Start();
    control.USBConClick(true, true);
    platform->AddDevice(Device(1, u"Optical Mouse"));
    platform->NotifyChange();
    THidDevice* cable = link->SelectedDevice();
    ASSERT_NE(cable, nullptr);
    EXPECT_EQ(link->currentHidDevice, cable) << "found again from the selection";
    EXPECT_TRUE(cable->ReadThreadRunning());
    EXPECT_TRUE(control.view().USBConDown);
    EXPECT_EQ(platform->Features(QStringLiteral("/dev/hidraw0")).size(), 2u) << "set up again";
    SendPacket(QStringLiteral("/dev/hidraw0"));
    ASSERT_TRUE(WaitFor([&] { return decoder.frames.size() == 1; }));
    EXPECT_TRUE(notices.isEmpty());

    platform->RemoveDevice(QStringLiteral("/dev/hidraw1"));
    platform->NotifyChange();
    SendPacket(QStringLiteral("/dev/hidraw0"));
    ASSERT_TRUE(WaitFor([&] { return decoder.frames.size() == 2; }));
}

TEST_F(CableLinkTest, ASecondCablePluggedWhileConnectedLeavesTheFirstLinked) {
    platform->AddDevice(Device(0, u"USB to Serial"));
    Start();
    control.USBConClick(true, true);
    platform->AddDevice(Device(1, u"USB to Serial"));
    platform->NotifyChange();
    EXPECT_EQ(link->DevListBoxItemIndex(), 0) << "the linked cable stays selected";
    EXPECT_TRUE(link->SelectedDevice()->ReadThreadRunning());
    EXPECT_TRUE(notices.isEmpty());
    SendPacket(QStringLiteral("/dev/hidraw0"));
    ASSERT_TRUE(WaitFor([&] { return decoder.frames.size() == 1; }));
    // Once the link is down, the rebuild selects by name again: the last one.
    control.USBConClick(false, true);
    platform->NotifyChange();
    platform->AddDevice(Device(2, u"Keyboard"));
    platform->NotifyChange();
    EXPECT_EQ(link->DevListBoxItemIndex(), 1);
}

TEST_F(CableLinkTest, TheCableUnpluggedWhileConnectedGivesOneNotice) {
    platform->AddDevice(Device(0, u"USB to Serial"));
    platform->AddDevice(Device(1, u"Optical Mouse"));
    Start();
    control.USBConClick(true, true);
    QSignalSpy lcdSend(&control, &TConnectionControl::lcdSendVisibilityChanged);
    platform->RemoveDevice(QStringLiteral("/dev/hidraw0"));
    platform->NotifyChange();
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0].contains("USB to Serial")) << notices[0].toStdString();
    EXPECT_TRUE(notices[0].contains("/dev/hidraw0"));
    EXPECT_FALSE(control.view().USBConDown);
    EXPECT_EQ(control.view().USBConCaption, "USB Connection");
    EXPECT_TRUE(control.view().COMConVisible);
    EXPECT_FALSE(control.view().LCDsendVisible);
    ASSERT_GE(lcdSend.count(), 1);
    EXPECT_FALSE(lcdSend.last().at(0).toBool());
    EXPECT_EQ(link->currentHidDevice, nullptr);
    EXPECT_FALSE(link->linkUp());
    EXPECT_EQ(link->HistoryListBox().lines().filter("Removal of").size(), 1);

    platform->AddDevice(Device(2, u"Keyboard"));
    platform->NotifyChange();
    EXPECT_EQ(notices.size(), 1) << "one notice for one loss";
}

TEST_F(CableLinkTest, ReadErrorsAreLogged) {
    platform->AddDevice(Device(0, u"USB to Serial"));
    Start();
    link->HidCtlDeviceDataError(nullptr, 31);
    EXPECT_EQ(link->HistoryListBox().lastLine(),
              QStringLiteral("READ ERROR: %1 (1F)").arg(QString::fromLocal8Bit(strerror(31))));
    control.USBConClick(true, true);
    link->SelectedDevice()->SetReadPause(10);
    platform->SetReadFailure(QStringLiteral("/dev/hidraw0"), EIO);
    ASSERT_TRUE(WaitFor([&] { return link->HistoryListBox().lastLine().endsWith("(5)"); }));
}

TEST_F(CableLinkTest, StartWhileUsbIsConnectedKeepsTheCableReading) {
    platform->AddDevice(Device(0, u"USB to Serial"));
    sim::TMeterPty pty; // "START" opens a real line
    std::string error;
    ASSERT_TRUE(pty.Open(&error)) << error;
    driver.SetPortDevicePath(TSerialPortDriver::pnCOM1, QString::fromStdString(pty.devicePath()));
    Start();
    control.USBConClick(true, true);
    control.BTCon1Click();
    ASSERT_TRUE(driver.Connected());
    EXPECT_FALSE(control.view().USBConDown) << "USBCon pops up without its click action";
    EXPECT_TRUE(control.view().COMConDown);
    SendPacket(QStringLiteral("/dev/hidraw0"));
    ASSERT_TRUE(WaitFor([&] { return decoder.frames.size() == 1; }));
}

TEST_F(CableLinkTest, ALostSerialLinkReturnsTheSerialControlsWithOneNotice) {
    Start();
    control.COMConClick(true);
    int shown = 0;
    QObject::connect(&control, &TConnectionControl::linkLostNotice, [&] {
        // A second loss while the first notice is open gives no second notice.
        if (++shown == 1) control.LinkLost(TLinkKind::Serial, QStringLiteral("again"));
    });
    control.LinkLost(TLinkKind::Serial, QStringLiteral("lost"));
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(notices, QStringList{"lost"});
    EXPECT_FALSE(control.view().COMConDown);
    EXPECT_TRUE(control.view().USBConVisible);
    EXPECT_TRUE(control.view().ComSetup1Enabled);
    EXPECT_EQ(control.view().btComEnabled, (std::array<bool, 4>{true, true, true, true}));
}
