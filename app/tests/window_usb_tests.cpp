// The window with the USB adapter cable, end to end: simulated hidraw devices
// under umockdev -> the Linux HID layer -> controller and reading thread ->
// cable link -> decoder, panel, record table, watchdog.

#include "app/TFCOMM.h"
#include "app/tests/ScriptedDialogs.h"
#include "display/LcdPanel.h"
#include "link/HidDeviceController.h"
#include "link/MemoryHidPlatform.h"
#include "link/UsbCableLink.h"
#include "link/tests/LinkTestSupport.h"
#include "link/tests/umockdev/SimulatedHid.h"
#include "protocol/PacketEncoder.h"
#include "recording/RecordTable.h"
#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace orvex;
using namespace orvex::testing;

namespace {

class UsbWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        bed = std::make_unique<TSimulatedHidBed>();
        if (!TSimulatedHidBed::Active())
            GTEST_SKIP() << "not running under the umockdev preload library";
    }
    void TearDown() override {
        w.reset();
        bed.reset();
    }
    void Open(std::shared_ptr<IHidPlatform> platform = nullptr) {
        WindowOptions options;
        options.dialogs = &dialogs;
        options.machineProbe = [] { return QStringLiteral("x86_64"); };
        options.hidPlatform = std::move(platform);
        w = std::make_unique<TFCOMM>(options);
        w->show();
    }
    QPushButton* Button(const char* name) const {
        return w->control<QPushButton>(QString::fromLatin1(name));
    }
    bool Shown(const char* name) const {
        return !w->control(QString::fromLatin1(name))->isHidden();
    }
    int Rows() const { return w->state().recording.cds1.rowCount(); }
    // Meter packets as the cable carries them, each a different reading.
    void SendReadings(TSimulatedHid& cable, int packets) {
        for (int i = 0; i < packets; ++i) {
            const int counts = 1000 + next_++;
            const PacketFields f =
                MakePacketFields(1,
                                 {std::uint8_t(counts / 10000 % 10),
                                  std::uint8_t(counts / 1000 % 10), std::uint8_t(counts / 100 % 10),
                                  std::uint8_t(counts / 10 % 10), std::uint8_t(counts % 10)},
                                 11, 0, 10);
            const Packet p = EncodePacket(f);
            cable.PushReports(sim::CableReports(p.data(), p.size()));
        }
    }
    static TSimulatedHidSpec Mouse(int number) {
        TSimulatedHidSpec s;
        s.number = number;
        s.product = QStringLiteral("Optical Mouse");
        s.serial = QStringLiteral("M-77");
        return s;
    }

    std::unique_ptr<TSimulatedHidBed> bed;
    ScriptedDialogs dialogs;
    std::unique_ptr<TFCOMM> w;
    int next_ = 0;
};

} // namespace

TEST_F(UsbWindow, ACablePluggedInAtStartUpIsSelectedAndUsbConnectRecordsReadings) {
    TSimulatedHid& cable = bed->Add({});
    bed->Add(Mouse(1));
    Open();
    auto* devices = w->control<QListWidget>(QStringLiteral("DevListBox"));
    ASSERT_EQ(devices->count(), 2);
    EXPECT_EQ(devices->item(0)->text(), "USB to Serial");
    EXPECT_EQ(devices->item(1)->text(), "Optical Mouse (Serial=M-77)");
    EXPECT_EQ(devices->currentRow(), 0) << "the cable is selected at start-up";

    Button("USBCon")->click();
    EXPECT_TRUE(dialogs.informations.isEmpty()) << dialogs.informations.join("|").toStdString();
    EXPECT_TRUE(Button("USBCon")->isChecked());
    EXPECT_EQ(Button("USBCon")->text(), "USB Disconnect");
    EXPECT_FALSE(Shown("COMCon"));
    EXPECT_FALSE(Shown("BtCOM1"));
    EXPECT_TRUE(Shown("LCDsend"));
    ASSERT_EQ(cable.Features().size(), 1u);
    EXPECT_EQ(cable.Features()[0], ReportBytes(kCableSetupReport.begin(), kCableSetupReport.end()));

    SendReadings(cable, 20);
    ASSERT_TRUE(WaitFor([&] { return Rows() == 20; }, 15000)) << Rows();
    EXPECT_EQ(w->state().protocol.undecodableFrames, 0);
    EXPECT_TRUE(Shown("CONok"));
    // The panel shows the last reading by the next screen refresh.
    EXPECT_TRUE(WaitFor([&] {
        return w->control<QLineEdit>(QStringLiteral("T1VALUE"))->text() == "01.019";
    })) << "the last reading, not "
        << w->control<QLineEdit>(QStringLiteral("T1VALUE"))->text().toStdString();
    auto* history = w->control<QListWidget>(QStringLiteral("HistoryListBox"));
    ASSERT_TRUE(WaitFor([&] { return history->count() == 1 + 40; }));
    EXPECT_EQ(history->item(0)->text(), "00 00 4B 00 00 03 00 00 00 00 ");
    EXPECT_EQ(history->currentRow(), history->count() - 1);

    Button("USBCon")->click();
    EXPECT_FALSE(Button("USBCon")->isChecked());
    EXPECT_EQ(Button("USBCon")->text(), "USB Connection");
    EXPECT_TRUE(Shown("COMCon"));
    EXPECT_TRUE(Shown("BtCOM1"));
    EXPECT_FALSE(Shown("LCDsend"));
    EXPECT_FALSE(w->Cable().SelectedDevice()->ReadThreadRunning());
    EXPECT_EQ(Rows(), 20) << "nothing recorded is lost";
}

TEST_F(UsbWindow, AMousePluggedWhileConnectedDoesNotStopTheReadings) {
    TSimulatedHid& cable = bed->Add({});
    Open();
    Button("USBCon")->click();
    SendReadings(cable, 5);
    ASSERT_TRUE(WaitFor([&] { return Rows() == 5; }, 15000));

    TSimulatedHid& mouse = bed->Add(Mouse(1));
    bed->Plug(mouse);
    ASSERT_TRUE(WaitFor(
        [&] { return w->control<QListWidget>(QStringLiteral("DevListBox"))->count() == 2; }));
    EXPECT_TRUE(Button("USBCon")->isChecked());
    SendReadings(cable, 5);
    ASSERT_TRUE(WaitFor([&] { return Rows() == 10; }, 15000)) << Rows();
    EXPECT_TRUE(dialogs.informations.isEmpty());
}

TEST_F(UsbWindow, TheWatchdogStopsTheLinkAfter1900ReportsWithoutMeterBytes) {
    TSimulatedHid& cable = bed->Add({});
    Open();
    Button("USBCon")->click();
    cable.PushReports(std::vector<ReportBytes>(1900, ReportBytes(8, 0)));
    ASSERT_TRUE(WaitFor([&] { return !dialogs.informations.isEmpty(); }, 20000));
    EXPECT_EQ(dialogs.informations, QStringList{kMeterNotReadyText});
    EXPECT_FALSE(Button("USBCon")->isChecked());
    EXPECT_EQ(Button("USBCon")->text(), "USB Disconnect") << "only the button is released";
    EXPECT_FALSE(w->Cable().SelectedDevice()->ReadThreadRunning());
    EXPECT_TRUE(Shown("CONokN"));
}

TEST_F(UsbWindow, PullingTheCableGivesOneNoticeAndKeepsTheRows) {
    TSimulatedHid& cable = bed->Add({});
    bed->Add(Mouse(1));
    Open();
    Button("USBCon")->click();
    SendReadings(cable, 5);
    ASSERT_TRUE(WaitFor([&] { return Rows() == 5; }, 15000));

    bed->Unplug(cable);
    ASSERT_TRUE(WaitFor([&] { return !dialogs.informations.isEmpty(); }));
    WaitFor([] { return false; }, 300);
    ASSERT_EQ(dialogs.informations.size(), 1);
    EXPECT_TRUE(dialogs.informations[0].contains("/dev/hidraw0"));
    EXPECT_FALSE(Button("USBCon")->isChecked());
    EXPECT_EQ(Button("USBCon")->text(), "USB Connection");
    EXPECT_TRUE(Shown("COMCon"));
    EXPECT_TRUE(Shown("BtCOM1"));
    EXPECT_FALSE(Shown("LCDsend"));
    EXPECT_EQ(Rows(), 5);
    EXPECT_EQ(w->control<QListWidget>(QStringLiteral("DevListBox"))->count(), 1);
}

// Logging minimised: the readings decoded meanwhile are drawn when the window is
// shown again. The cable pulled in that time hides the data picture, and
// restoring the window must not bring it back with the last reading.
TEST_F(UsbWindow, ACablePulledWhileMinimisedLeavesTheDataPictureHidden) {
    TSimulatedHid& cable = bed->Add({});
    Open();
    Button("USBCon")->click();
    ASSERT_TRUE(Shown("LCDsend"));
    w->showMinimized();
    ASSERT_TRUE(w->isMinimized());
    SendReadings(cable, 3);
    ASSERT_TRUE(WaitFor([&] { return Rows() == 3; }, 15000));

    bed->Unplug(cable);
    ASSERT_TRUE(WaitFor([&] { return !dialogs.informations.isEmpty(); }));
    EXPECT_EQ(Button("USBCon")->text(), "USB Connection");
    ASSERT_FALSE(Shown("LCDsend"));

    w->showNormal();
    EXPECT_TRUE(WaitFor([&] { return w->findChild<TLcdPanel*>()->Digit(1)->text() == "1"; }))
        << "the last reading (01002) is drawn";
    EXPECT_FALSE(Shown("LCDsend")) << "the cable link is closed";
}

TEST_F(UsbWindow, ACableThisUserMayNotOpenIsNamedWithTheFix) {
    // umockdev cannot take a permission away from this process: the in-memory
    // layer stands in for a node owned by root.
    auto platform = std::make_shared<TMemoryHidPlatform>(false);
    TMemoryHidDeviceSpec spec;
    spec.devicePath = QStringLiteral("/dev/hidraw3");
    spec.deviceInstance = QStringLiteral("/sys/devices/usb/3");
    spec.product = u"USB to Serial";
    spec.readWrite = false;
    platform->AddDevice(spec);
    Open(platform);
    EXPECT_EQ(w->control<QListWidget>(QStringLiteral("DevListBox"))->currentRow(), 0);
    // Each press fails the same way, the second one too, which leaves the state
    // the first one showed: the button is never left looking connected.
    for (int press = 1; press <= 2; ++press) {
        Button("USBCon")->click();
        EXPECT_FALSE(Button("USBCon")->isChecked()) << "press " << press;
        ASSERT_EQ(dialogs.informations.size(), press);
        EXPECT_TRUE(dialogs.informations.last().contains("/dev/hidraw3"));
        EXPECT_TRUE(dialogs.informations.last().contains("udev"));
    }
}

TEST_F(UsbWindow, ASecondWindowOfTheProgramWorksWithoutTheCable) {
    TSimulatedHid& cable = bed->Add({});
    Open();
    ScriptedDialogs secondDialogs;
    WindowOptions options;
    options.dialogs = &secondDialogs;
    TFCOMM second(options);
    EXPECT_EQ(secondDialogs.errors,
              QStringList{"Only one THidDeviceController allowed per program"});
    EXPECT_EQ(second.HidCtl(), nullptr);
    auto* secondUsb = second.control<QPushButton>(QStringLiteral("USBCon"));
    for (int press = 1; press <= 2; ++press) {
        secondUsb->click();
        EXPECT_FALSE(secondUsb->isChecked()) << "press " << press;
    }
    EXPECT_EQ(secondDialogs.informations,
              QStringList({kCableNotConnectedText, kCableNotConnectedText}));
    // The first window keeps its cable.
    Button("USBCon")->click();
    SendReadings(cable, 3);
    EXPECT_TRUE(WaitFor([&] { return Rows() == 3; }, 15000));
}
