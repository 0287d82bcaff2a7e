#pragma once
// The connection controls and the link watchdog, without widgets.
//
// TConnectionControl holds what the controls of the main window must show
// (TLinkViewState) and runs their handlers against the serial driver COMM2.
// The window binds its controls to the handlers and copies the view state to
// the widgets whenever viewChanged() is emitted:
//   COM11..COM41 menu items   -> COM11Click() .. COM41Click()
//   BtCOM1..BtCOM4 panels      -> BtCOMClick(0..3)   (a click moves to the next port)
//   BTCon, "START"             -> BTCon1Click()   (a port that does not open:
//                                 portOpenFailed(), controls as before)
//   BtDiscon, "STOP"           -> BtDiscon1Click()
//   COMCon toggled by the user -> COMConClick(newDownState)
//   USBCon toggled by the user -> USBConClick(newDownState, IFOrvex ticked)
//   SetFeature (hidden)        -> SetFeatureClick()
//   ConTimer (300 ms)          -> ConTimerTimer()   (StartConTimer() runs it)
//   every decoded packet       -> FrameDecoded()
// and shows informRequested() and linkLostNotice() texts in message boxes and
// LCDsend as lcdSendVisibilityChanged() says.
//
// COMCon and USBCon form an exclusive group that may be all up: pressing one
// releases the other, and such a release changes only the button's state; the
// released button's click action does not run.
//
// The USB link runs on the cable link (AttachCable); without one, "USB
// Connect" finds no cable.
//
// LinkLost() is the one road for a link that went away under the user (the
// cable unplugged; a serial port that vanished): one notice, the controls back
// to the disconnected look, the recorded rows untouched.

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>

namespace orvex {

class TSerialPortDriver;
class TUsbCableLink;

enum class TLinkKind { Serial, Usb };

// What the connection controls show.  Index i of the arrays is port i + 1
// (COM11 / BtCOM1 for i = 0).
struct TLinkViewState {
    bool ComSetup1Enabled = true;
    std::array<bool, 4> comItemChecked{true, false, false, false}; // COM11 .. COM41
    bool START1Checked = false;
    bool START1Enabled = true;
    bool STOP1Checked = false;
    bool STOP1Enabled = false;
    std::array<bool, 4> btComVisible{true, false, false, false}; // BtCOM1 .. BtCOM4
    std::array<bool, 4> btComEnabled{true, true, true, true};
    bool COMConDown = false;
    bool COMConVisible = true;
    bool USBConDown = false;
    bool USBConVisible = true;
    QString USBConCaption = QStringLiteral("USB Connect");
    bool BTConVisible = true;
    bool BtDisconVisible = false;
    bool CONokVisible = false; // the link lamp: exactly one of CONok / CONokN
    bool CONokNVisible = true;
    bool LCDsendVisible = false;

    bool operator==(const TLinkViewState&) const = default;
};

class TConnectionControl : public QObject {
    Q_OBJECT

  public:
    // Ticks of the watchdog without a decoded packet after which the lamp darkens
    // (on the third tick the counter stands at 2).
    static constexpr int kDarkAfterTicks = 2;
    static constexpr int kConTimerPeriodMs = 300;

    explicit TConnectionControl(TSerialPortDriver& COMM2, QObject* parent = nullptr);

    const TLinkViewState& view() const { return view_; }
    TSerialPortDriver& driver() { return COMM2_; }

    // Watchdog ticks since the last decoded packet (0 at start-up).
    int watchdogTicks = 0;

    // Port selection: check mark, panel, COMM2.ComPort.  While the port is open
    // the driver would keep its port, so the handlers then change nothing.
    void COM11Click() { SelectPort(0); }
    void COM21Click() { SelectPort(1); }
    void COM31Click() { SelectPort(2); }
    void COM41Click() { SelectPort(3); }
    // A click on the panel BtCOM<index + 1>: selects the next port (BtCOM4 -> COM1).
    void BtCOMClick(int index);

    // Serial connect ("START", BTCon) and disconnect ("STOP", BtDiscon).
    void BTCon1Click();
    void BtDiscon1Click();
    // COMCon toggled to the given state by the user.
    void COMConClick(bool down);

    // The watchdog tick.
    void ConTimerTimer();
    // Every decoded packet: lamp lit, watchdog zeroed.
    void FrameDecoded();

    // Starts the 300 ms watchdog timer (the window does this at start-up).
    void StartConTimer();
    QTimer& ConTimer() { return conTimer_; }

    // The exclusive group: puts one button down (releasing the other without
    // its click action) or releases it.  Used by the handlers above and by
    // the USB link.
    void SetCOMConDown(bool down);
    void SetUSBConDown(bool down);

    // The USB adapter cable: USBConClick and the watchdog's no-data stop use it.
    void AttachCable(TUsbCableLink* cable) { cable_ = cable; }
    TUsbCableLink* Cable() const { return cable_; }
    // USBCon toggled to `down` by the user; IFOrvexTicked is the variant switch.
    void USBConClick(bool down, bool IFOrvexTicked);
    // The hidden SetFeature button: the set-up report, or the message and
    // USBCon released when no cable is selected.
    void SetFeatureClick();
    // Adapter-cable reports in a row without meter bytes after which the
    // watchdog stops the USB link.
    static constexpr int kUsbIdleReportLimit = 1900;

    // The link went away under the user: the controls of that link return to
    // the disconnected look and one notice (linkLostNotice) is given; a second
    // loss while the notice is open gives none.  Recorded rows are not touched.
    void LinkLost(TLinkKind kind, const QString& notice);

  signals:
    // The view state changed; the window copies it to its widgets.
    void viewChanged(const orvex::TLinkViewState& view);
    // A message box with an OK button.
    void informRequested(const QString& text);
    // The notice of a lost link (a message box with an OK button).
    void linkLostNotice(const QString& text);
    // The serial port did not open ("START", "COM Connect"): why, and the fix
    // (link/PortOpenDiagnosis.h).  The controls are back to the look they had.
    void portOpenFailed(const QString& text);
    // LCDsend is shown while the USB link is up (the window also shows it with
    // every decoded frame, so it is changed only here).
    void lcdSendVisibilityChanged(bool visible);

  private:
    void SelectPort(int index);
    // Steps 1-5 of the serial connect (false when the port did not open) and disconnect.
    bool SerialConnectSteps();
    // A port that did not open: the controls as before the attempt, and why.
    void SerialOpenFailed(const TLinkViewState& before);
    void SerialDisconnectSteps();
    // The USB branch of the watchdog (usbIdleReports >= 1900: stop reading,
    // release USBCon, tell the user).
    void WatchdogUsbStep();
    // The USB controls after USBCon went up or down (steps 5 and 6 of USBConClick).
    void ShowUsbState();
    // Emits viewChanged when the view changed (or always, when forced).
    void Publish(bool force = false);

    TSerialPortDriver& COMM2_;
    TUsbCableLink* cable_ = nullptr;
    bool noticeOpen_ = false;
    TLinkViewState view_;
    TLinkViewState published_;
    QTimer conTimer_;
};

} // namespace orvex
