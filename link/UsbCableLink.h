#pragma once
// The USB adapter cable link, without widgets.
//
// TUsbCableLink is the window's side of the cable: the HID device list
// (DevListBox) with the cable selected by its product string, the diagnostic
// history (HistoryListBox), the set-up feature report, and OrvexHidData, which
// takes the cable's input reports apart and hands every rebuilt meter packet
// to the decoder as the 14-character frame the serial assembler produces.
// The window mirrors DevListBox and HistoryListBox onto its hidden list
// widgets; the headless logger uses the same class without them.
//
// Every handler runs on the user-interface thread (the controller hands the
// reports over), so the collection state needs no locking.
//
// Beyond the original behaviour:
// - A device change (any HID device plugged or unplugged) rebuilds the list
//   and so stops the cable's reading.  When the link was up and the same cable
//   (the same device instance) is listed again, it is selected, set up again
//   and reading resumes; when it is gone, cableLost() is emitted once (the
//   connection control releases "USB Connect" and tells the user).
// - HistoryListBox keeps the newest kHistoryCapacity lines, and the collected
//   meter bytes are capped (kMaxUsbHexText), so neither grows without bound.

#include "link/HidDeviceController.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace orvex {

class TPacketAssembler;

inline const QString kCableProductName = QStringLiteral("USB to Serial");
inline const QString kCableNotConnectedText =
    QStringLiteral("USB interface cable is not securely connected, please check and re-try.");
inline const QString kMeterNotReadyText = QStringLiteral(
    "USB interface cable is securely connected, please check if the meter is ready.");

// The set-up feature report: report ID 0, 19200 as a 32-bit little-endian
// number, the setting byte 03, four zero bytes.
inline constexpr std::array<std::uint8_t, 10> kCableSetupReport = {0x00, 0x00, 0x4B, 0x00, 0x00,
                                                                   0x03, 0x00, 0x00, 0x00, 0x00};

// The display name of a device: its product string, else
// "Device VID=%.4X PID=%.4X"; then " (Serial=%s)" when it has a serial number.
QString DescribeHidDevice(THidDevice& HidDev);

// What to tell the user when a listed cable cannot be opened for reading and
// writing: on Linux nearly always the permission on the node.
QString HidPermissionMessage(const QString& devicePath);

// The notice given when the cable disappears while the link is up.
QString CableLostNotice(const QString& name, const QString& devicePath);

// A list of text lines that keeps the newest `capacity` lines.
class TBoundedHistory {
  public:
    explicit TBoundedHistory(int capacity) : capacity_(capacity) {}
    void append(const QString& line);
    int lineCount() const { return static_cast<int>(lines_.size()); }
    const QString& line(int i) const { return lines_[static_cast<std::size_t>(i)]; }
    QString lastLine() const { return lines_.empty() ? QString() : lines_.back(); }
    QStringList lines() const;
    // Lines appended since creation, the dropped ones included.
    long long appendedCount() const { return appended_; }
    int capacity() const { return capacity_; }

  private:
    int capacity_;
    std::deque<QString> lines_;
    long long appended_ = 0;
};

class TUsbCableLink : public QObject {
    Q_OBJECT
  public:
    static constexpr int kHistoryCapacity = 2000; // as the trace logs
    static constexpr int kMaxUsbHexText = 4096;   // characters (2048 meter bytes)

    // One entry of DevListBox: the display name and the lent device (or none).
    struct TDevListEntry {
        QString text;
        THidDevicePtr device;
    };

    // `HidCtl` may be null (a replay of recorded reports needs no devices).
    // `frameOwner` holds frameText, shared with the serial assembler.
    TUsbCableLink(THidDeviceController* HidCtl, TPacketAssembler& frameOwner,
                  QObject* parent = nullptr);
    ~TUsbCableLink() override;

    // Assigns the handlers to HidCtl in the window's order: OnArrival,
    // OnEnumerate, OnDeviceChange (which builds the list at once),
    // OnDeviceDataError, OnRemoval.  Each runs inside handlerRunner when one is
    // set (the window shows a failure in its error box).
    void AssignHandlers();
    std::function<void(const std::function<void()>&)> handlerRunner;

    // The decoder call (LcdDisplayOrvex): runs with frameText holding the frame.
    std::function<void(const QString& frameText)> onFrame;
    // Sees every input report before OrvexHidData takes it apart (a capture).
    std::function<void(std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)>
        onReport;

    // Handlers of HidCtl.
    bool HidCtlEnumerate(THidDevice* HidDev, int Idx);
    void HidCtlDeviceChange(QObject* Sender);
    void HidCtlArrival(THidDevice* HidDev);
    void HidCtlRemoval(THidDevice* HidDev);
    void HidCtlDeviceDataError(THidDevice* HidDev, std::uint32_t Error);

    // Stops the selected device's reading (currentHidDevice := its device).
    void ReadBtnClick();
    // Sends the set-up report to the selected device; false (after the message
    // "USB interface cable is not securely connected…") when none is selected.
    // The caller releases "USB Connect" then.
    bool SetFeatureClick();
    // The data handler of the cable.
    void OrvexHidData(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data,
                      std::uint16_t Size);
    const THidDataEvent& OrvexHidDataHandler() const { return orvexHidData_; }

    // Starts reading the device into OrvexHidData: the link is up.
    void StartReading(THidDevice* device);
    // Stops the reading of currentHidDevice: the link is down.
    void StopReading();
    bool linkUp() const { return linkUp_; }

    // DevListBox.
    const std::vector<TDevListEntry>& DevListBox() const { return devList_; }
    int DevListBoxItemIndex() const { return selected_; }
    // The device of the selected entry; none when nothing is selected or the
    // entry holds no device.
    THidDevice* SelectedDevice() const;
    // Selects an entry (-1: none), as a click in the list would.
    void SelectDevListEntry(int index);
    const TBoundedHistory& HistoryListBox() const { return history_; }

    // State of the collection and of the link (AppState fields).
    QString usbHexText;
    bool usbPacketOpen = false;
    int usbIdleReports = 0;
    THidDevice* currentHidDevice = nullptr; // never a released device: cleared at every rebuild

    // Packets handed to the decoder, and packet ends whose frame failed the "A…D" check.
    long long framesDecoded = 0;
    long long framesDropped = 0;

  signals:
    void listChanged();
    void historyChanged();
    // The diagnostic lines of one packet end: usbHexText (Memo2), frameText (Memo1).
    void trace(const QString& hexText, const QString& frameText);
    void informRequested(const QString& text);
    // The cable vanished while the link was up.
    void cableLost(const QString& notice);

  private:
    void AddHistory(const QString& line);
    void SendSetupReport(THidDevice& device);
    void ReleaseList();

    THidDeviceController* HidCtl_;
    TPacketAssembler& frameOwner_;
    THidDataEvent orvexHidData_;
    std::vector<TDevListEntry> devList_;
    int selected_ = -1;
    TBoundedHistory history_{kHistoryCapacity};
    bool linkUp_ = false;
    QString linkInstance_, linkName_, linkPath_; // the cable the link is up with
};

} // namespace orvex
