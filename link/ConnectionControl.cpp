#include "link/ConnectionControl.h"

#include "link/PortOpenDiagnosis.h"
#include "link/SerialPortDriver.h"
#include "link/UsbCableLink.h"

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

void TConnectionControl::Publish(bool force) {
    if (!force && view_ == published_) return;
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

bool TConnectionControl::SerialConnectSteps() {
    view_.ComSetup1Enabled = false;
    view_.START1Checked = true;
    view_.START1Enabled = false;
    view_.STOP1Enabled = true;
    view_.STOP1Checked = false;
    if (!COMM2_.Connect()) return false;
    view_.BTConVisible = false;
    view_.BtDisconVisible = true;
    view_.btComEnabled.fill(false);
    return true;
}

void TConnectionControl::SerialOpenFailed(const TLinkViewState& before) {
    // The controls go back to the look they had before the attempt (the clicked
    // button and menu item took their new state already: show it again), and
    // the user learns why.
    view_ = before;
    view_.COMConDown = false;
    Publish(true);
    emit portOpenFailed(PortOpenFailureMessage(COMM2_));
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
    const TLinkViewState before = view_;
    if (!SerialConnectSteps()) return SerialOpenFailed(before);
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
    const TLinkViewState before = view_;
    SetCOMConDown(down);
    if (down) {
        if (!SerialConnectSteps()) return SerialOpenFailed(before);
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

void TConnectionControl::ShowUsbState() {
    if (!view_.USBConDown) {
        view_.COMConVisible = true;
        view_.btComVisible = view_.comItemChecked; // the selected port's panel only
        view_.USBConCaption = QStringLiteral("USB Connection");
        view_.LCDsendVisible = false;
    } else {
        view_.USBConCaption = QStringLiteral("USB Disconnect");
        view_.LCDsendVisible = true;
        view_.COMConVisible = false;
        view_.btComVisible.fill(false);
    }
    emit lcdSendVisibilityChanged(view_.LCDsendVisible);
}

void TConnectionControl::USBConClick(bool down, bool IFOrvexTicked) {
    // The button has already taken its new state; the group releases COMCon.
    // Every outcome is published, even one equal to the view shown before the
    // click: a press that fails must release the button the click pressed.
    SetUSBConDown(down);
    if (!cable_) {
        emit informRequested(kCableNotConnectedText);
        SetUSBConDown(false);
        ShowUsbState();
        Publish(true);
        return;
    }
    // 1. The selected device stops reading; 2. the set-up report (on release too).
    cable_->ReadBtnClick();
    if (!cable_->SetFeatureClick()) SetUSBConDown(false);
    // 3.
    cable_->usbIdleReports = 0;
    cable_->currentHidDevice = nullptr;
    // 4. The selected cable reads into OrvexHidData while USBCon is down.
    if (THidDevice* device = cable_->SelectedDevice()) {
        cable_->currentHidDevice = device;
        if (!device->readWriteAccess()) {
            SetUSBConDown(false);
            // The cable is there but may not be opened: on Linux that is the
            // permission on its node, so say so rather than nothing.
            if (down) {
                ShowUsbState();
                Publish(true);
                emit informRequested(HidPermissionMessage(device->pnpInfo().devicePath));
                return;
            }
        } else if (view_.USBConDown) {
            if (IFOrvexTicked)
                cable_->StartReading(device);
            else
                device->SetDataHandler(nullptr);
        }
    }
    // 5. and 6.
    ShowUsbState();
    Publish(true);
}

void TConnectionControl::SetFeatureClick() {
    if (!cable_) return;
    if (!cable_->SetFeatureClick()) {
        SetUSBConDown(false);
        Publish();
    }
}

void TConnectionControl::WatchdogUsbStep() {
    if (!cable_ || cable_->usbIdleReports < kUsbIdleReportLimit) return;
    cable_->usbIdleReports = 0;
    SetUSBConDown(false);
    cable_->StopReading();
    // Only the button is released: caption, LCDsend, COMCon and the port
    // panels stay until the next click on USBCon.
    Publish();
    emit informRequested(kMeterNotReadyText);
}

void TConnectionControl::LinkLost(TLinkKind kind, const QString& notice) {
    if (kind == TLinkKind::Usb) {
        if (cable_ && cable_->linkUp()) cable_->StopReading();
        SetUSBConDown(false);
        ShowUsbState();
    } else {
        SerialDisconnectSteps();
        SetCOMConDown(false);
        view_.USBConVisible = true;
    }
    Publish();
    if (noticeOpen_) return; // one notice at a time
    noticeOpen_ = true;
    emit linkLostNotice(notice);
    noticeOpen_ = false;
}

void TConnectionControl::FrameDecoded() {
    view_.CONokVisible = true;
    view_.CONokNVisible = false;
    watchdogTicks = 0;
    Publish();
}

} // namespace orvex
