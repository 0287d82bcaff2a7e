#include "link/ConnectionControl.h"

#include "link/SerialPortDriver.h"

namespace orvex {

TConnectionControl::TConnectionControl(TSerialPortDriver& COMM2, QObject* parent)
    : QObject(parent), COMM2_(COMM2) {
    conTimer_.setObjectName(QStringLiteral("ConTimer"));
    conTimer_.setInterval(kConTimerPeriodMs);
    connect(&conTimer_, &QTimer::timeout, this, &TConnectionControl::ConTimerTimer);
}

void TConnectionControl::StartConTimer() {
    conTimer_.start();
}

void TConnectionControl::Publish() {
    if (view_ == published_) return;
    published_ = view_;
    emit viewChanged(view_);
}

void TConnectionControl::SelectPort(int index) {
    if (index < 0 || index > 3) return;
    if (COMM2_.Connected()) return;
    for (int i = 0; i < 4; ++i) {
        view_.comItemChecked[i] = (i == index);
        view_.btComVisible[i] = (i == index);
    }
    COMM2_.SetComPort(static_cast<TSerialPortDriver::TComPortNumber>(index));
    Publish();
}

void TConnectionControl::BtCOMClick(int index) {
    if (index < 0 || index > 3) return;
    if (!view_.btComEnabled[index]) return;
    SelectPort((index + 1) % 4);
}

void TConnectionControl::SetCOMConDown(bool down) {
    view_.COMConDown = down;
    if (down) view_.USBConDown = false;
}

void TConnectionControl::SetUSBConDown(bool down) {
    view_.USBConDown = down;
    if (down) view_.COMConDown = false;
}

void TConnectionControl::SerialConnectSteps() {
    view_.ComSetup1Enabled = false;
    view_.START1Checked = true;
    view_.START1Enabled = false;
    view_.STOP1Enabled = true;
    view_.STOP1Checked = false;
    // A port that cannot be opened still gives the connected look; the dark
    // lamp is all the user sees of it.
    (void)COMM2_.Connect();
    view_.BTConVisible = false;
    view_.BtDisconVisible = true;
    view_.btComEnabled.fill(false);
}

void TConnectionControl::SerialDisconnectSteps() {
    view_.ComSetup1Enabled = true;
    view_.START1Checked = false;
    view_.START1Enabled = true;
    view_.STOP1Enabled = false;
    view_.STOP1Checked = true;
    COMM2_.Disconnect();
    view_.BTConVisible = true;
    view_.BtDisconVisible = false;
    view_.btComEnabled.fill(true);
}

void TConnectionControl::BTCon1Click() {
    SerialConnectSteps();
    SetCOMConDown(true);
    Publish();
}

void TConnectionControl::BtDiscon1Click() {
    SerialDisconnectSteps();
    SetCOMConDown(false);
    Publish();
}

void TConnectionControl::COMConClick(bool down) {
    // The button has already taken its new state; the group releases USBCon.
    SetCOMConDown(down);
    if (down) {
        SerialConnectSteps();
        view_.USBConVisible = false;
    } else {
        SerialDisconnectSteps();
        view_.USBConVisible = true;
    }
    Publish();
}

void TConnectionControl::ConTimerTimer() {
    // A counter already past 2 (set from outside) darkens the lamp too rather
    // than counting on for ever.
    if (watchdogTicks < kDarkAfterTicks) {
        ++watchdogTicks;
        return;
    }
    WatchdogUsbStep();
    view_.CONokVisible = false;
    view_.CONokNVisible = true;
    watchdogTicks = 0;
    Publish();
}

void TConnectionControl::FrameDecoded() {
    view_.CONokVisible = true;
    view_.CONokNVisible = false;
    watchdogTicks = 0;
    Publish();
}

} // namespace orvex
