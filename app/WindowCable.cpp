// The main window's side of the USB adapter cable: the HID device controller
// HidCtl and the cable link (link/UsbCableLink.h) wired to the window's
// controls, its hidden device and history lists, the decoder and the dialogs.

#include "app/TFCOMM.h"

#include "display/LcdPanel.h"
#include "link/ConnectionControl.h"
#include "link/HidDeviceController.h"
#include "link/UsbCableLink.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace orvex {

void TFCOMM::ConnectCable(const WindowOptions& options) {
    try {
        HidCtl_ = std::make_unique<THidDeviceController>(options.hidPlatform);
    } catch (const EHidControllerError& e) {
        // A second window in one program: it works without the USB cable.
        ShowHandlerError(QString::fromUtf8(e.what()));
    }
    cable_ = std::make_unique<TUsbCableLink>(HidCtl_.get(), state_.protocol.assembler);
    cable_->setObjectName(QStringLiteral("UsbCable"));
    connection_->AttachCable(cable_.get());
    // Packets from the cable take the serial road from the decoder on.
    cable_->onFrame = [this](const QString&) { RunHandler([this] { LcdDisplayOrvex(); }); };
    connect(cable_.get(), &TUsbCableLink::trace, this,
            [this](const QString& hexText, const QString& frameText) {
                Panel1->Memo2().append(hexText);
                Panel1->Memo1().append(frameText);
            });
    connect(cable_.get(), &TUsbCableLink::listChanged, this, [this] { SyncDevListBox(); });
    connect(cable_.get(), &TUsbCableLink::historyChanged, this, [this] {
        // Copied once per event-loop turn: a report a line would be too much.
        if (std::exchange(historySyncQueued_, true)) return;
        QTimer::singleShot(0, this, [this] { SyncHistoryListBox(); });
    });
    connect(cable_.get(), &TUsbCableLink::informRequested, this,
            [this](const QString& text) { dialogs_->Inform(this, text); });
    connect(cable_.get(), &TUsbCableLink::cableLost, this, [this](const QString& notice) {
        RunHandler([&] { connection_->LinkLost(TLinkKind::Usb, notice); });
    });
    connect(connection_.get(), &TConnectionControl::informRequested, this,
            [this](const QString& text) { dialogs_->Inform(this, text); });
    connect(connection_.get(), &TConnectionControl::linkLostNotice, this,
            [this](const QString& text) { LinkLostNotice(text); });
    connect(connection_.get(), &TConnectionControl::lcdSendVisibilityChanged, this,
            [this](bool visible) { Panel1->LCDsend()->setVisible(visible); });
    On(control<QPushButton>(QStringLiteral("ReadBtn")), &QPushButton::clicked,
       [this] { cable_->ReadBtnClick(); });
    On(control<QPushButton>(QStringLiteral("SetFeature")), &QPushButton::clicked,
       [this] { connection_->SetFeatureClick(); });
    // The controller's handlers, in the window's order: assigning the
    // device-change handler builds the device list at once.
    cable_->handlerRunner = [this](const std::function<void()>& handler) { RunHandler(handler); };
    cable_->AssignHandlers();
}

void TFCOMM::LinkLostNotice(const QString& text) {
    dialogs_->Inform(this, text);
}

void TFCOMM::SyncDevListBox() {
    auto* list = control<QListWidget>(QStringLiteral("DevListBox"));
    list->clear();
    for (const auto& entry : cable_->DevListBox())
        list->addItem(entry.text);
    list->setCurrentRow(cable_->DevListBoxItemIndex());
}

void TFCOMM::SyncHistoryListBox() {
    historySyncQueued_ = false;
    auto* list = control<QListWidget>(QStringLiteral("HistoryListBox"));
    const TBoundedHistory& history = cable_->HistoryListBox();
    const long long fresh = history.appendedCount() - historyShown_;
    historyShown_ = history.appendedCount();
    const int from = history.lineCount() - int(std::min<long long>(fresh, history.lineCount()));
    for (int i = from; i < history.lineCount(); ++i)
        list->addItem(history.line(i));
    while (list->count() > history.capacity())
        delete list->takeItem(0);
    list->setCurrentRow(list->count() - 1);
}

} // namespace orvex
