// The connection controls and the link watchdog, over a real driver and a
// real pseudo-terminal.

#include "link/ConnectionControl.h"
#include "link/LinkPictures.h"
#include "link/SerialPortDriver.h"
#include "link/tests/LinkTestSupport.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace orvex;
using namespace orvex::testing;
using D = TSerialPortDriver;

namespace {

class ConnectionControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(pty.Open(&error)) << error;
        ASSERT_TRUE(dir.isValid());
        // COM1 is the pty; the other ports lead nowhere, so no test touches a
        // real port.
        driver.SetPortDevicePath(D::pnCOM1, QString::fromStdString(pty.devicePath()));
        for (int p = 1; p < 4; ++p)
            driver.SetPortDevicePath(static_cast<D::TComPortNumber>(p),
                                     dir.filePath(QStringLiteral("missing%1").arg(p)));
        driver.SetComPort(D::pnCOM1); // as the window's COMM2
        driver.SetComPortPollingDelay(60000);
    }

    // The look of the disconnected link after a serial disconnect.
    static TLinkViewState Disconnected(bool afterStop) {
        TLinkViewState v;
        v.STOP1Checked = afterStop;
        return v;
    }
    // The look of a serial connection on port 1 (index 0).
    static TLinkViewState SerialConnected(bool usbVisible) {
        TLinkViewState v;
        v.ComSetup1Enabled = false;
        v.START1Checked = true;
        v.START1Enabled = false;
        v.STOP1Enabled = true;
        v.STOP1Checked = false;
        v.btComEnabled = {false, false, false, false};
        v.COMConDown = true;
        v.USBConVisible = usbVisible;
        v.BTConVisible = false;
        v.BtDisconVisible = true;
        return v;
    }

    sim::TMeterPty pty;
    QTemporaryDir dir;
    D driver;
    TConnectionControl control{driver};
};

void ExpectView(const TLinkViewState& got, const TLinkViewState& want) {
    EXPECT_EQ(got.ComSetup1Enabled, want.ComSetup1Enabled);
    EXPECT_EQ(got.comItemChecked, want.comItemChecked);
    EXPECT_EQ(got.START1Checked, want.START1Checked);
    EXPECT_EQ(got.START1Enabled, want.START1Enabled);
    EXPECT_EQ(got.STOP1Checked, want.STOP1Checked);
    EXPECT_EQ(got.STOP1Enabled, want.STOP1Enabled);
    EXPECT_EQ(got.btComVisible, want.btComVisible);
    EXPECT_EQ(got.btComEnabled, want.btComEnabled);
    EXPECT_EQ(got.COMConDown, want.COMConDown);
    EXPECT_EQ(got.COMConVisible, want.COMConVisible);
    EXPECT_EQ(got.USBConDown, want.USBConDown);
    EXPECT_EQ(got.USBConVisible, want.USBConVisible);
    EXPECT_EQ(got.USBConCaption, want.USBConCaption);
    EXPECT_EQ(got.BTConVisible, want.BTConVisible);
    EXPECT_EQ(got.BtDisconVisible, want.BtDisconVisible);
    EXPECT_EQ(got.CONokVisible, want.CONokVisible);
    EXPECT_EQ(got.CONokNVisible, want.CONokNVisible);
    EXPECT_EQ(got.LCDsendVisible, want.LCDsendVisible);
}

} // namespace

TEST_F(ConnectionControlTest, StartUpLook) {
    const TLinkViewState& v = control.view();
    EXPECT_TRUE(v.ComSetup1Enabled);
    EXPECT_EQ(v.comItemChecked, (std::array<bool, 4>{true, false, false, false}));
    EXPECT_TRUE(v.START1Enabled);
    EXPECT_FALSE(v.START1Checked);
    EXPECT_FALSE(v.STOP1Enabled);
    EXPECT_FALSE(v.STOP1Checked);
    EXPECT_EQ(v.btComVisible, (std::array<bool, 4>{true, false, false, false}));
    EXPECT_EQ(v.btComEnabled, (std::array<bool, 4>{true, true, true, true}));
    EXPECT_FALSE(v.COMConDown);
    EXPECT_TRUE(v.COMConVisible);
    EXPECT_FALSE(v.USBConDown);
    EXPECT_TRUE(v.USBConVisible);
    EXPECT_EQ(v.USBConCaption, "USB Connect");
    EXPECT_TRUE(v.BTConVisible);
    EXPECT_FALSE(v.BtDisconVisible);
    EXPECT_FALSE(v.CONokVisible);
    EXPECT_TRUE(v.CONokNVisible);
    EXPECT_FALSE(v.LCDsendVisible);
    EXPECT_EQ(control.watchdogTicks, 0);
    EXPECT_EQ(control.ConTimer().interval(), 300);
    EXPECT_EQ(control.ConTimer().objectName(), "ConTimer");
}

// The link's state table: each road into and out of the serial connection.
TEST_F(ConnectionControlTest, SerialStateTable) {
    struct Case {
        const char* name;
        std::function<void(TConnectionControl&)> steps;
        TLinkViewState look;
        bool open;
    };
    const Case cases[] = {
        {"COMCon pressed", [](TConnectionControl& c) { c.COMConClick(true); },
         SerialConnected(false), true},
        {"COMCon pressed then released",
         [](TConnectionControl& c) {
             c.COMConClick(true);
             c.COMConClick(false);
         },
         Disconnected(true), false},
        {"START", [](TConnectionControl& c) { c.BTCon1Click(); }, SerialConnected(true), true},
        {"START then STOP",
         [](TConnectionControl& c) {
             c.BTCon1Click();
             c.BtDiscon1Click();
         },
         Disconnected(true), false},
        {"COMCon pressed then STOP: USBCon stays hidden",
         [](TConnectionControl& c) {
             c.COMConClick(true);
             c.BtDiscon1Click();
         },
         [] {
             TLinkViewState v = Disconnected(true);
             v.USBConVisible = false;
             return v;
         }(),
         false},
        {"START then COMCon released",
         [](TConnectionControl& c) {
             c.BTCon1Click();
             c.COMConClick(false);
         },
         Disconnected(true), false},
        {"START while USBCon is down: USBCon pops up, no click action",
         [](TConnectionControl& c) {
             c.SetUSBConDown(true);
             c.BTCon1Click();
         },
         SerialConnected(true), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D d;
        d.SetPortDevicePath(D::pnCOM1, QString::fromStdString(pty.devicePath()));
        d.SetComPort(D::pnCOM1);
        TConnectionControl control(d);
        c.steps(control);
        ExpectView(control.view(), c.look);
        EXPECT_EQ(d.Connected(), c.open);
    }
}

TEST_F(ConnectionControlTest, PortPanelsCycleAndTheMenuPicksDirectly) {
    struct Step {
        const char* name;
        std::function<void(TConnectionControl&)> click;
        int port; // index of the selected port afterwards
    };
    const Step steps[] = {
        {"menu COM3", [](TConnectionControl& c) { c.COM31Click(); }, 2},
        {"panel COM 3", [](TConnectionControl& c) { c.BtCOMClick(2); }, 3},
        {"panel COM 4", [](TConnectionControl& c) { c.BtCOMClick(3); }, 0},
        {"panel COM 1", [](TConnectionControl& c) { c.BtCOMClick(0); }, 1},
        {"panel COM 2", [](TConnectionControl& c) { c.BtCOMClick(1); }, 2},
        {"menu COM2", [](TConnectionControl& c) { c.COM21Click(); }, 1},
        {"menu COM4", [](TConnectionControl& c) { c.COM41Click(); }, 3},
        {"menu COM1", [](TConnectionControl& c) { c.COM11Click(); }, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        s.click(control);
        std::array<bool, 4> only{};
        only[static_cast<std::size_t>(s.port)] = true;
        EXPECT_EQ(control.view().comItemChecked, only);
        EXPECT_EQ(control.view().btComVisible, only);
        EXPECT_EQ(static_cast<int>(driver.ComPort()), s.port);
    }
}

TEST_F(ConnectionControlTest, PortCannotChangeWhileTheLineIsOpen) {
    control.BTCon1Click();
    ASSERT_TRUE(driver.Connected());
    const TLinkViewState before = control.view();
    control.COM31Click();
    control.BtCOMClick(0); // disabled panel
    ExpectView(control.view(), before);
    EXPECT_EQ(driver.ComPort(), D::pnCOM1);
    EXPECT_EQ(driver.OpenedDevicePath(), QString::fromStdString(pty.devicePath()));
}

// A port that does not open: the controls keep the look they had (the clicked
// button and item are shown again), and the user is told why, once.
TEST_F(ConnectionControlTest, FailedOpenKeepsTheDisconnectedLookAndSaysWhy) {
    const struct {
        const char* name;
        std::function<void(TConnectionControl&)> click;
    } cases[] = {
        {"START", [](TConnectionControl& c) { c.BTCon1Click(); }},
        {"COMCon pressed", [](TConnectionControl& c) { c.COMConClick(true); }},
    };
    for (const auto& c : cases) {
        D d;
        d.SetPortDevicePath(D::pnCOM2, dir.filePath(QStringLiteral("missing")));
        TConnectionControl control(d);
        control.COM21Click(); // a port that does not exist
        const TLinkViewState before = control.view();
        QSignalSpy views(&control, &TConnectionControl::viewChanged);
        QSignalSpy failures(&control, &TConnectionControl::portOpenFailed);
        c.click(control);
        EXPECT_FALSE(d.Connected()) << c.name;
        ExpectView(control.view(), before);
        ASSERT_EQ(views.count(), 1) << c.name << ": the widgets are set back";
        ASSERT_EQ(failures.count(), 1) << c.name;
        const QString text = failures.at(0).at(0).toString();
        EXPECT_TRUE(text.contains(QStringLiteral("COM2")) && text.contains("no such device"))
            << text.toStdString();

        // The same port, once it is there, connects as usual.
        d.SetPortDevicePath(D::pnCOM2, QString::fromStdString(pty.devicePath()));
        c.click(control);
        EXPECT_TRUE(d.Connected()) << c.name;
        EXPECT_TRUE(control.view().COMConDown) << c.name;
        EXPECT_EQ(failures.count(), 1) << c.name;
    }
}

TEST_F(ConnectionControlTest, ExclusiveGroupMayBeAllUp) {
    control.SetUSBConDown(true);
    control.SetCOMConDown(true);
    EXPECT_TRUE(control.view().COMConDown);
    EXPECT_FALSE(control.view().USBConDown);
    control.SetUSBConDown(true);
    EXPECT_FALSE(control.view().COMConDown);
    control.SetUSBConDown(false);
    EXPECT_FALSE(control.view().COMConDown);
    EXPECT_FALSE(control.view().USBConDown);
    // Releasing by the group ran no click action: the port stays closed.
    EXPECT_FALSE(driver.Connected());
}

TEST_F(ConnectionControlTest, LampDarkensOnTheThirdTickWithoutFrames) {
    QSignalSpy changes(&control, &TConnectionControl::viewChanged);
    for (int i = 0; i < 10; ++i)
        control.ConTimerTimer();
    EXPECT_TRUE(control.view().CONokNVisible) << "never a packet: stays dark";
    EXPECT_FALSE(control.view().CONokVisible);
    EXPECT_EQ(changes.count(), 0) << "nothing changed, nothing to redraw";

    control.FrameDecoded();
    EXPECT_TRUE(control.view().CONokVisible);
    EXPECT_FALSE(control.view().CONokNVisible);
    EXPECT_EQ(control.watchdogTicks, 0);
    EXPECT_EQ(changes.count(), 1);

    control.ConTimerTimer();
    control.ConTimerTimer();
    EXPECT_TRUE(control.view().CONokVisible) << "lit through two ticks";
    control.FrameDecoded(); // a packet in between starts the count again
    control.ConTimerTimer();
    control.ConTimerTimer();
    EXPECT_TRUE(control.view().CONokVisible);
    control.ConTimerTimer();
    EXPECT_FALSE(control.view().CONokVisible) << "dark on the third tick";
    EXPECT_TRUE(control.view().CONokNVisible);
    EXPECT_EQ(control.watchdogTicks, 0);

    control.watchdogTicks = 7; // pushed past the threshold from outside
    control.FrameDecoded();
    control.watchdogTicks = 7;
    control.ConTimerTimer();
    EXPECT_TRUE(control.view().CONokNVisible) << "a counter past 2 still darkens the lamp";
}

// Connected through the controls, bytes from the line reach the handler.
TEST_F(ConnectionControlTest, ConnectedLineDeliversToTheHandler) {
    BatchRecorder rec;
    rec.Attach(driver);
    control.COMConClick(true);
    ASSERT_TRUE(driver.Connected());
    WriteAll(pty, Bytes("meter"));
    ASSERT_TRUE(PollUntil(driver, rec, 5));
    EXPECT_EQ(rec.bytes, Bytes("meter"));
    control.COMConClick(false);
    EXPECT_FALSE(driver.Connected());
}

// The lamp's pictures: both load, and the lit one has the brighter screens.
TEST(LinkPictures, LitAndDarkPicturesRender) {
    InitLinkPictures();
    auto render = [](const QString& path) {
        QSvgRenderer svg(path);
        EXPECT_TRUE(svg.isValid()) << path.toStdString();
        QImage image(96, 64, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        svg.render(&painter);
        return image;
    };
    const QImage lit = render(CONokPicturePath());
    const QImage dark = render(CONokNPicturePath());
    // Middle of the computer's screen and of the meter's display.
    for (const QPoint p : {QPoint(30, 28), QPoint(72, 15)}) {
        EXPECT_GT(qGray(lit.pixel(p)), qGray(dark.pixel(p)) + 40) << p.x() << "," << p.y();
    }
}
