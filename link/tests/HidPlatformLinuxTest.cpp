// The Linux HID layer (libudev, hidraw ioctls, poll and read, the udev
// monitor) against simulated devices under umockdev, through the controller
// and the cable link that use it.

#include "link/HidPlatformLinux.h"
#include "link/ConnectionControl.h"
#include "link/HidDeviceController.h"
#include "link/SerialPortDriver.h"
#include "link/UsbCableLink.h"
#include "link/tests/LinkTestSupport.h"
#include "link/tests/umockdev/SimulatedHid.h"
#include "protocol/PacketAssembler.h"
#include "protocol/PacketEncoder.h"
#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

using namespace orvex;
using namespace orvex::testing;

namespace {

class HidrawLayer : public ::testing::Test {
  protected:
    void SetUp() override {
        bed = std::make_unique<TSimulatedHidBed>();
        if (!TSimulatedHidBed::Active())
            GTEST_SKIP() << "not running under the umockdev preload library";
    }
    void TearDown() override {
        link.reset();
        HidCtl.reset();
        bed.reset();
    }
    THidDeviceController& Controller() {
        HidCtl = std::make_unique<THidDeviceController>(MakeLinuxHidPlatform());
        return *HidCtl;
    }
    int IndexOf(const QString& node) {
        for (int i = 0; i < HidCtl->Count(); ++i)
            if (HidCtl->Device(i)->pnpInfo().devicePath == node) return i;
        return -1;
    }

    std::unique_ptr<TSimulatedHidBed> bed;
    std::unique_ptr<THidDeviceController> HidCtl;
    std::unique_ptr<TUsbCableLink> link;
};

TSimulatedHidSpec Mouse(int number) {
    TSimulatedHidSpec s;
    s.number = number;
    s.product = QStringLiteral("Optical Mouse");
    s.manufacturer = QStringLiteral("Pointing Co");
    s.serial = QStringLiteral("M-77");
    s.vendor = 0x0A0B;
    s.productId = 0x0C0D;
    return s;
}

} // namespace

TEST_F(HidrawLayer, EnumerationTakesTheStringsFromTheRightParent) {
    TSimulatedHid& cable = bed->Add({});
    TSimulatedHidSpec bt;
    bt.number = 1;
    bt.usb = false;
    bt.product = QStringLiteral("BT Keyboard");
    bt.serial = QStringLiteral("aa:bb:cc:dd:ee:ff");
    bt.vendor = 0x046D;
    bt.productId = 0xB342;
    bed->Add(bt);
    bed->Add(Mouse(2));

    THidDeviceController& ctl = Controller();
    ASSERT_EQ(ctl.Count(), 3);
    QStringList names;
    ctl.SetOnEnumerate([&](THidDevice* d, int) {
        names << DescribeHidDevice(*d);
        return true;
    });
    ctl.ListDevices();
    EXPECT_EQ(names, (QStringList{"USB to Serial", "BT Keyboard (Serial=aa:bb:cc:dd:ee:ff)",
                                  "Optical Mouse (Serial=M-77)"}));

    THidDevice* c = ctl.Device(IndexOf(cable.devnode()));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->pnpInfo().devicePath, "/dev/hidraw0");
    EXPECT_EQ(c->pnpInfo().deviceInstance, cable.syspath());
    EXPECT_EQ(c->VendorID(), 0x1234);
    EXPECT_EQ(c->ProductID(), 0x5678);
    EXPECT_EQ(c->VersionNumber(), 0x0100);
    EXPECT_TRUE(c->readWriteAccess());
    EXPECT_EQ(ctl.Device(IndexOf("/dev/hidraw1"))->VendorID(), 0x046D) << "from HID_ID";

    THidDevicePtr lent;
    ASSERT_TRUE(ctl.LendDevice(IndexOf(cable.devnode()), lent));
    EXPECT_EQ(lent->InputReportLength(), 9) << "8 data bytes and the report ID";
}

TEST_F(HidrawLayer, TheCableReceivesTheSetupReportBytes) {
    TSimulatedHid& cable = bed->Add({});
    THidDeviceController& ctl = Controller();
    THidDevicePtr d;
    ASSERT_TRUE(ctl.LendDevice(0, d));
    ASSERT_TRUE(d->SendFeature(kCableSetupReport.data(), int(kCableSetupReport.size())));
    const auto features = cable.Features();
    ASSERT_EQ(features.size(), 1u);
    EXPECT_EQ(features[0], ReportBytes(kCableSetupReport.begin(), kCableSetupReport.end()));
}

TEST_F(HidrawLayer, ReportsAreReadInOrderWithTheirReportId) {
    struct Case {
        const char* name;
        ReportBytes descriptor;
        std::uint8_t id;
        int dataBytes;
    };
    const Case cases[] = {{"unnumbered reports get ID 0", CableReportDescriptor(), 0x00, 8},
                          {"numbered reports keep their ID", NumberedReportDescriptor(), 0x02, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HidCtl.reset();
        bed.reset(); // one testbed at a time
        bed = std::make_unique<TSimulatedHidBed>();
        TSimulatedHidSpec spec;
        spec.reportDescriptor = c.descriptor;
        TSimulatedHid& dev = bed->Add(spec);
        THidDeviceController& ctl = Controller();
        THidDevicePtr d;
        ASSERT_TRUE(ctl.LendDevice(0, d));
        std::vector<std::pair<std::uint8_t, ReportBytes>> got;
        d->SetDataHandler(
            [&](THidDevice*, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
                got.push_back({id, ReportBytes(data, data + size)});
            });
        std::vector<ReportBytes> sent;
        for (int i = 0; i < 200; ++i) {
            ReportBytes r(std::size_t(c.dataBytes), std::uint8_t(i));
            if (c.id) r.insert(r.begin(), c.id);
            sent.push_back(r);
        }
        dev.PushReports(sent);
        ASSERT_TRUE(WaitFor([&] { return got.size() == sent.size(); }, 10000)) << got.size();
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].first, c.id);
            EXPECT_EQ(got[i].second, ReportBytes(std::size_t(c.dataBytes), std::uint8_t(i)));
        }
        const int reads = dev.Reads();
        WaitFor([] { return false; }, 200);
        EXPECT_LE(dev.Reads() - reads, 1) << "an idle reader sleeps in poll()";
        d->SetDataHandler(nullptr);
        EXPECT_FALSE(d->ReadThreadRunning());
    }
}

TEST_F(HidrawLayer, HotPlugReachesTheControllerThroughTheMonitor) {
    bed->Add({});
    THidDeviceController& ctl = Controller();
    QStringList events;
    int changes = 0;
    ctl.SetOnArrival([&](THidDevice* d) { events << "arrival " + DescribeHidDevice(*d); });
    ctl.SetOnRemoval([&](THidDevice* d) { events << "removal " + d->pnpInfo().devicePath; });
    ctl.SetOnDeviceChange([&](QObject*) { ++changes; });
    ASSERT_EQ(changes, 1);

    TSimulatedHid& mouse = bed->Add(Mouse(1));
    bed->Plug(mouse);
    ASSERT_TRUE(WaitFor([&] { return changes == 2; }));
    EXPECT_EQ(events, QStringList{"arrival Optical Mouse (Serial=M-77)"});
    EXPECT_EQ(ctl.Count(), 2);

    bed->Unplug(mouse);
    ASSERT_TRUE(WaitFor([&] { return changes == 3; }));
    EXPECT_EQ(events.last(), "removal /dev/hidraw1");
    EXPECT_EQ(ctl.Count(), 1);

    // Two nodes of one plug (a burst of uevents): one device change.
    events.clear();
    TSimulatedHid& a = bed->Add(Mouse(2));
    TSimulatedHid& b = bed->Add(Mouse(3));
    bed->Plug(a);
    bed->Plug(b);
    ASSERT_TRUE(WaitFor([&] { return changes == 4; }));
    WaitFor([] { return false; }, 3 * kNoticeDelayMs);
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(events.size(), 2);
    EXPECT_EQ(ctl.Count(), 3);
}

TEST_F(HidrawLayer, UnplugWhileReadingIsReportedAndTheDeviceLeaves) {
    TSimulatedHid& cable = bed->Add({});
    THidDeviceController& ctl = Controller();
    THidDevicePtr d;
    ASSERT_TRUE(ctl.LendDevice(0, d));
    ASSERT_TRUE(d->SetReadPause(10));
    std::vector<std::uint32_t> errors;
    int reports = 0, removals = 0;
    d->SetDataErrorHandler([&](THidDevice*, std::uint32_t e) { errors.push_back(e); });
    d->SetDataHandler(
        [&](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++reports; });
    ctl.SetOnRemoval([&](THidDevice*) { ++removals; });
    cable.PushReport(ReportBytes(8, 1));
    ASSERT_TRUE(WaitFor([&] { return reports == 1; }));

    bed->Unplug(cable);
    ASSERT_TRUE(WaitFor([&] { return !errors.empty() && removals == 1; }));
    EXPECT_EQ(errors[0], std::uint32_t(EIO)) << "the failed read is handed over";
    EXPECT_FALSE(d->pluggedIn());
    const int readsAfter = cable.Reads();
    WaitFor([] { return false; }, 200);
    EXPECT_LT(cable.Reads() - readsAfter, 100) << "retried once per read pause, no busy loop";
    d.reset();
    EXPECT_EQ(ctl.Count(), 0);
}

// The cable link over the real layer: "USB Connect", packets, a mouse plugged
// in meanwhile, then the cable pulled.
TEST_F(HidrawLayer, TheCableLinkReadsPacketsAcrossDeviceChanges) {
    TSimulatedHid& cable = bed->Add({});
    THidDeviceController& ctl = Controller();
    TPacketAssembler frames;
    link = std::make_unique<TUsbCableLink>(&ctl, frames);
    QStringList decoded, notices;
    link->onFrame = [&](const QString& f) { decoded << f; };
    QTemporaryDir dir;
    TSerialPortDriver driver;
    for (int p = 0; p < 4; ++p)
        driver.SetPortDevicePath(static_cast<TSerialPortDriver::TComPortNumber>(p),
                                 dir.filePath(QStringLiteral("none")));
    TConnectionControl control(driver);
    control.AttachCable(link.get());
    QObject::connect(link.get(), &TUsbCableLink::cableLost,
                     [&](const QString& t) { control.LinkLost(TLinkKind::Usb, t); });
    QObject::connect(&control, &TConnectionControl::linkLostNotice,
                     [&](const QString& t) { notices << t; });
    link->AssignHandlers();
    ASSERT_EQ(link->DevListBoxItemIndex(), 0);

    control.USBConClick(true, true);
    ASSERT_TRUE(control.view().USBConDown);
    EXPECT_EQ(cable.Features().size(), 1u);
    sim::TMeterScenario scenario(5);
    auto send = [&](int packets) {
        for (int i = 0; i < packets; ++i) {
            const Packet p = EncodePacket(scenario.Next());
            cable.PushReports(sim::CableReports(p.data(), p.size()));
        }
    };
    send(10);
    ASSERT_TRUE(WaitFor([&] { return decoded.size() == 10; }, 10000)) << decoded.size();

    TSimulatedHid& mouse = bed->Add(Mouse(1));
    bed->Plug(mouse);
    ASSERT_TRUE(WaitFor([&] { return link->DevListBox().size() == 2; }));
    EXPECT_TRUE(control.view().USBConDown);
    EXPECT_EQ(cable.Features().size(), 2u) << "set up again after the rebuild";
    send(10);
    ASSERT_TRUE(WaitFor([&] { return decoded.size() == 20; }, 10000)) << decoded.size();
    EXPECT_TRUE(notices.isEmpty());

    bed->Unplug(cable);
    ASSERT_TRUE(WaitFor([&] { return notices.size() == 1; }));
    EXPECT_FALSE(control.view().USBConDown);
    EXPECT_EQ(link->DevListBox().size(), 1u);
    EXPECT_EQ(link->DevListBoxItemIndex(), -1);
    control.AttachCable(nullptr);
}
