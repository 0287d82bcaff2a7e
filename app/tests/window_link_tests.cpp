// The serial link in the window: the connection controls on real widgets, and
// end to end: virtual meter -> pseudo-terminal -> window -> panel, table, lamp.

#include "app/tests/WindowFixture.h"
#include "link/ConnectionControl.h"
#include "link/SerialPortDriver.h"
#include "recording/RecordTable.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

struct Link : Window {
    QPushButton* Button(const char* name) const {
        return w->control<QPushButton>(QString::fromLatin1(name));
    }
    QAction* Item(const char* name) const { return w->action(QString::fromLatin1(name)); }
    QString VisiblePort() const {
        QString shown;
        for (int i = 1; i <= 4; ++i)
            if (!w->control(QStringLiteral("BtCOM%1").arg(i))->isHidden())
                shown += QStringLiteral("BtCOM%1").arg(i);
        return shown;
    }
};

} // namespace

TEST_F(Link, PortMenuAndPanelsSelectThePort) {
    Item("COM31")->trigger();
    EXPECT_EQ(VisiblePort(), QStringLiteral("BtCOM3"));
    EXPECT_TRUE(Item("COM31")->isChecked());
    EXPECT_FALSE(Item("COM11")->isChecked());
    EXPECT_EQ(w->COMM2().ComPort(), TSerialPortDriver::pnCOM3);
    QTest::mouseClick(w->control(QStringLiteral("BtCOM3")), Qt::LeftButton);
    EXPECT_EQ(VisiblePort(), QStringLiteral("BtCOM4"));
    EXPECT_TRUE(Item("COM41")->isChecked());
    QTest::mouseClick(w->control(QStringLiteral("BtCOM4")), Qt::LeftButton);
    EXPECT_EQ(VisiblePort(), QStringLiteral("BtCOM1"));
    EXPECT_EQ(w->COMM2().ComPort(), TSerialPortDriver::pnCOM1);
}

// A checkable menu item unchecks itself before its handler runs; choosing the
// port that is already checked must not leave the menu without a check mark.
TEST_F(Link, EachPortItemLeavesExactlyItsOwnItemChecked) {
    const char* items[] = {"COM11", "COM21", "COM31", "COM41"};
    for (int chosen = 0; chosen < 4; ++chosen) {
        for (int time = 1; time <= 2; ++time) {
            SCOPED_TRACE(std::string(items[chosen]) + " chosen, time " + std::to_string(time));
            Item(items[chosen])->trigger();
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(Item(items[i])->isChecked(), i == chosen) << items[i];
            EXPECT_EQ(VisiblePort(), QStringLiteral("BtCOM%1").arg(chosen + 1));
            EXPECT_EQ(int(w->COMM2().ComPort()), chosen);
        }
    }
}

// The hidden variant switch decides whether the port's bytes reach the packet
// assembler: checked, the receive handler is installed and the title set;
// cleared, there is no receive handler and the title stays.
TEST_F(Link, TheVariantSwitchChoosesTheSerialReceiveHandler) {
    auto* variant = w->control<QCheckBox>(QStringLiteral("IFOrvex"));
    const Packet packet = EncodePacket(Reading({1, 2, 3, 4, 5}, 11, 0));
    std::vector<std::uint8_t> bytes{0x0A};
    bytes.insert(bytes.end(), packet.begin(), packet.end());
    const struct {
        bool checked;
        bool handler;
        const char* title;
    } cases[] = {{false, false, "untouched"},
                 {true, true, "Orvex Interface Program Ver 4.01"},
                 {false, false, "untouched"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.checked ? "checked" : "cleared");
        variant->setChecked(c.checked);
        w->setWindowTitle(QStringLiteral("untouched"));
        w->ApplyMeterProfile();
        EXPECT_EQ(w->windowTitle(), QString::fromLatin1(c.title));
        ASSERT_EQ(bool(w->COMM2().OnReceiveData), c.handler);
        if (!c.handler) continue;
        const int before = w->state().protocol.decodedFrames;
        w->COMM2().OnReceiveData(&w->COMM2(), bytes.data(), int(bytes.size()));
        EXPECT_EQ(w->state().protocol.decodedFrames, before + 1) << "the bytes were decoded";
    }
}

TEST_F(Link, ComConnectAndStartShowTheConnectedState) {
    // A line that opens: a pseudo-terminal whose other end this test holds.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{master};
    w->COMM2().SetPortDevicePath(TSerialPortDriver::pnCOM1,
                                 QString::fromLocal8Bit(::ptsname(master)));
    Button("COMCon")->click();
    EXPECT_TRUE(Button("COMCon")->isChecked());
    EXPECT_TRUE(Button("USBCon")->isHidden());
    EXPECT_FALSE(Item("ComSetup1")->isEnabled());
    EXPECT_TRUE(Item("STOP1")->isEnabled());
    EXPECT_FALSE(Item("START1")->isEnabled());
    EXPECT_FALSE(w->control(QStringLiteral("BtCOM1"))->isEnabled());
    EXPECT_TRUE(w->COMM2().Connected());
    EXPECT_FALSE(w->control(QStringLiteral("CONokN"))->isHidden()) << "no packet: lamp dark";

    Button("COMCon")->click();
    EXPECT_FALSE(Button("COMCon")->isChecked());
    EXPECT_FALSE(Button("USBCon")->isHidden());
    EXPECT_TRUE(Item("ComSetup1")->isEnabled());
    EXPECT_TRUE(Item("START1")->isEnabled());
    EXPECT_FALSE(Item("STOP1")->isEnabled());
    EXPECT_TRUE(Item("STOP1")->isChecked()) << "STOP keeps its mark after a disconnect";

    Item("START1")->trigger();
    EXPECT_TRUE(Button("COMCon")->isChecked());
    EXPECT_FALSE(Button("USBCon")->isHidden()) << "START leaves USB Connect visible";
    EXPECT_TRUE(Item("START1")->isChecked());
    Item("STOP1")->trigger();
    EXPECT_FALSE(Button("COMCon")->isChecked());
    EXPECT_TRUE(w->control(QStringLiteral("BtCOM1"))->isEnabled());
}

TEST_F(Link, UsbConnectWithoutACableSaysSoAndPopsUp) {
    Button("USBCon")->click();
    EXPECT_EQ(dialogs.informations,
              QStringList{QStringLiteral(
                  "USB interface cable is not securely connected, please check and re-try.")});
    EXPECT_FALSE(Button("USBCon")->isChecked());
    EXPECT_FALSE(Button("COMCon")->isHidden());
}

TEST(WindowWithVirtualMeter, LiveReadingsThenADarkLampWhenQuietAndOneNoticeWhenTheLineGoes) {
    QProcess meter;
    const QString device = StartVirtualMeter(meter);
    ASSERT_FALSE(device.isEmpty()) << "the virtual meter prints its device";
    ASSERT_TRUE(device.startsWith(QStringLiteral("/dev/"))) << device.toStdString();

    ScriptedDialogs dialogs;
    WindowOptions options;
    options.dialogs = &dialogs;
    options.portPaths[0] = device;
    TFCOMM w(options);
    w.show();
    w.action(QStringLiteral("START1"))->trigger();
    ASSERT_TRUE(w.COMM2().Connected());

    QElapsedTimer clock;
    clock.start();
    while (w.state().recording.cds1.rowCount() < 10 && clock.elapsed() < 15000)
        QTest::qWait(20);
    EXPECT_GE(w.state().recording.cds1.rowCount(), 10);
    EXPECT_EQ(w.state().protocol.undecodableFrames, 0);
    EXPECT_FALSE(w.control(QStringLiteral("CONok"))->isHidden());
    EXPECT_TRUE(w.control(QStringLiteral("CONokN"))->isHidden());
    EXPECT_FALSE(w.control(QStringLiteral("LCDsend"))->isHidden());
    EXPECT_FALSE(w.state().protocol.reading.valueText.isEmpty());

    // The meter goes quiet (stopped, its line still there): the watchdog darkens
    // the lamp on its third tick without a packet (600 to 900 ms; the wait allows
    // for a loaded machine), and nothing more happens.
    ::kill(pid_t(meter.processId()), SIGSTOP);
    QElapsedTimer dark;
    dark.start();
    while (!w.control(QStringLiteral("CONok"))->isHidden() && dark.elapsed() < 3000)
        QTest::qWait(20);
    EXPECT_TRUE(w.control(QStringLiteral("CONok"))->isHidden()) << "dark once the meter stopped";
    EXPECT_FALSE(w.control(QStringLiteral("CONokN"))->isHidden());
    QTest::qWait(300);
    EXPECT_TRUE(dialogs.informations.isEmpty()) << "a quiet meter is no lost link";
    EXPECT_TRUE(w.COMM2().Connected());

    // The virtual meter is killed: its line vanishes, as when an adapter is
    // pulled.  One notice, the disconnected look, the rows kept.
    const int rows = w.state().recording.cds1.rowCount();
    ::kill(pid_t(meter.processId()), SIGKILL);
    ASSERT_TRUE(meter.waitForFinished(10000));
    QElapsedTimer lost;
    lost.start();
    while (dialogs.informations.isEmpty() && lost.elapsed() < 5000)
        QTest::qWait(20);
    QTest::qWait(300);
    ASSERT_EQ(dialogs.informations.size(), 1);
    EXPECT_TRUE(dialogs.informations[0].startsWith(
        QStringLiteral("The link to the meter was lost: the serial port COM1 (%1)").arg(device)))
        << dialogs.informations[0].toStdString();
    EXPECT_FALSE(w.COMM2().Connected());
    EXPECT_FALSE(w.control<QPushButton>(QStringLiteral("COMCon"))->isChecked());
    EXPECT_TRUE(w.action(QStringLiteral("START1"))->isEnabled());
    EXPECT_FALSE(w.action(QStringLiteral("STOP1"))->isEnabled());
    EXPECT_TRUE(w.action(QStringLiteral("ComSetup1"))->isEnabled());
    EXPECT_EQ(w.state().recording.cds1.rowCount(), rows);
    EXPECT_TRUE(dialogs.errors.isEmpty());
}
