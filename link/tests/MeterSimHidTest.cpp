// The virtual meter as a USB adapter cable (orvex-meter-sim --hid) read
// through the system's HID layer, the controller and the cable link.

#include "link/HidDeviceController.h"
#include "link/UsbCableLink.h"
#include "link/tests/LinkTestSupport.h"
#include "protocol/PacketAssembler.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace orvex;
using orvex::testing::WaitFor;

TEST(MeterSimHid, TheVirtualCableIsReadThroughTheCableLink) {
    if (::access("/dev/uhid", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no /dev/uhid on this machine (or no access to it): the kernel's "
                        "user-space HID driver is needed to make the virtual cable";
    QProcess meter;
    meter.start(QStringLiteral(ORVEX_METER_SIM), {"--hid", "--rate", "50"});
    ASSERT_TRUE(meter.waitForStarted(10000));
    ASSERT_TRUE(meter.waitForReadyRead(10000));
    const QString node = QString::fromLocal8Bit(meter.readLine()).trimmed();
    ASSERT_TRUE(node.startsWith("/dev/hidraw")) << node.toStdString();

    THidDeviceController HidCtl;
    TPacketAssembler frames;
    TUsbCableLink cable(&HidCtl, frames);
    QStringList decoded;
    cable.onFrame = [&](const QString& f) { decoded << f; };
    cable.AssignHandlers();
    ASSERT_TRUE(WaitFor([&] {
        HidCtl.HandleDeviceChange();
        return cable.SelectedDevice() && cable.SelectedDevice()->pnpInfo().devicePath == node;
    }));
    ASSERT_TRUE(cable.SetFeatureClick());
    cable.StartReading(cable.SelectedDevice());
    EXPECT_TRUE(WaitFor([&] { return decoded.size() >= 10; }, 10000)) << decoded.size();
    cable.StopReading();
    meter.terminate();
    meter.waitForFinished(5000);
}
