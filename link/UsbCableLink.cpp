#include "link/UsbCableLink.h"

#include "protocol/PacketAssembler.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <utility>

namespace orvex {

namespace {

QString Hex2(std::uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    const QChar pair[2] = {QLatin1Char(digits[b >> 4]), QLatin1Char(digits[b & 15])};
    return QString(pair, 2);
}

// Frame characters of a packet end: the low digit of each of the first 14 bytes.
constexpr int kFrameBytes = 14;

} // namespace

QString DescribeHidDevice(THidDevice& HidDev) {
    QString name = HidDev.ProductText();
    if (name.isEmpty()) {
        auto hex4 = [](std::uint16_t v) {
            return QString::number(v, 16).toUpper().rightJustified(4, QLatin1Char('0'));
        };
        name = QStringLiteral("Device VID=%1 PID=%2")
                   .arg(hex4(HidDev.VendorID()), hex4(HidDev.ProductID()));
    }
    const QString serial = HidDev.SerialText();
    if (!serial.isEmpty()) name += QStringLiteral(" (Serial=%1)").arg(serial);
    return name;
}

QString HidPermissionMessage(const QString& devicePath) {
    QString owner;
    struct stat st {};
    const QByteArray path = devicePath.toLocal8Bit();
    if (::stat(path.constData(), &st) == 0) {
        const passwd* pw = ::getpwuid(st.st_uid);
        const group* gr = ::getgrgid(st.st_gid);
        owner = QStringLiteral(" (owner %1, group %2, mode %3)")
                    .arg(pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(st.st_uid))
                    .arg(gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(st.st_gid))
                    .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    }
    return QStringLiteral(
               "The USB interface cable is connected as %1%2, but this user may not read and "
               "write it.\n\nThe program's udev rule 70-orvex-usb-cable.rules gives the user "
               "logged in at this computer's desktop the cable. When it is in neither "
               "/usr/lib/udev/rules.d nor /etc/udev/rules.d, install it:\n"
               "  sudo cp link/udev/70-orvex-usb-cable.rules /etc/udev/rules.d/\n"
               "  sudo udevadm control --reload\n"
               "then unplug the cable and plug it in again (README, \"USB adapter cable\").")
        .arg(devicePath, owner);
}

QString CableLostNotice(const QString& name, const QString& devicePath) {
    return QStringLiteral("The link to the meter was lost: the USB interface cable \"%1\" (%2) "
                          "is no longer connected.\n\nThe readings recorded so far are kept. "
                          "Plug the cable in again and press \"USB Connect\" to go on.")
        .arg(name, devicePath);
}

// ------------------------------------------------------------ TBoundedHistory

void TBoundedHistory::append(const QString& line) {
    if (capacity_ <= 0) return;
    if (static_cast<int>(lines_.size()) >= capacity_) lines_.pop_front();
    lines_.push_back(line);
    ++appended_;
}

QStringList TBoundedHistory::lines() const {
    QStringList out;
    out.reserve(lineCount());
    for (const QString& l : lines_)
        out << l;
    return out;
}

// -------------------------------------------------------------- TUsbCableLink

TUsbCableLink::TUsbCableLink(THidDeviceController* HidCtl, TPacketAssembler& frameOwner,
                             QObject* parent)
    : QObject(parent), HidCtl_(HidCtl), frameOwner_(frameOwner) {
    orvexHidData_ = [this](THidDevice* dev, std::uint8_t id, const std::uint8_t* data,
                           std::uint16_t size) { OrvexHidData(dev, id, data, size); };
}

TUsbCableLink::~TUsbCableLink() {
    // The lent devices go back to the controller (their reading stops).
    currentHidDevice = nullptr;
    devList_.clear();
}

void TUsbCableLink::AssignHandlers() {
    if (!HidCtl_) return;
    auto run = [this](const std::function<void()>& handler) {
        if (handlerRunner)
            handlerRunner(handler);
        else
            handler();
    };
    HidCtl_->SetOnArrival([this, run](THidDevice* d) { run([&] { HidCtlArrival(d); }); });
    HidCtl_->SetOnEnumerate([this, run](THidDevice* d, int i) {
        bool goOn = true;
        run([&] { goOn = HidCtlEnumerate(d, i); });
        return goOn;
    });
    HidCtl_->SetOnDeviceChange(
        [this, run](QObject* sender) { run([&] { HidCtlDeviceChange(sender); }); });
    HidCtl_->SetOnDeviceDataError(
        [this, run](THidDevice* d, std::uint32_t e) { run([&] { HidCtlDeviceDataError(d, e); }); });
    HidCtl_->SetOnRemoval([this, run](THidDevice* d) { run([&] { HidCtlRemoval(d); }); });
}

void TUsbCableLink::AddHistory(const QString& line) {
    history_.append(line);
    emit historyChanged();
}

void TUsbCableLink::SelectDevListEntry(int index) {
    selected_ = index >= 0 && index < static_cast<int>(devList_.size()) ? index : -1;
    emit listChanged();
}

THidDevice* TUsbCableLink::SelectedDevice() const {
    if (selected_ < 0 || selected_ >= static_cast<int>(devList_.size())) return nullptr;
    return devList_[static_cast<std::size_t>(selected_)].device.get();
}

bool TUsbCableLink::HidCtlEnumerate(THidDevice* HidDev, int Idx) {
    TDevListEntry entry;
    entry.text = DescribeHidDevice(*HidDev);
    if (HidCtl_) HidCtl_->LendDevice(Idx, entry.device);
    devList_.push_back(std::move(entry));
    return true;
}

void TUsbCableLink::ReleaseList() {
    currentHidDevice = nullptr;
    selected_ = -1;
    // Give every device back (fresh objects take their places), then empty the list.
    for (TDevListEntry& e : devList_)
        e.device.reset();
    devList_.clear();
}

void TUsbCableLink::HidCtlDeviceChange(QObject*) {
    const bool wasUp = linkUp_;
    // 1. The selected device stops reading; 2. the list is given back and emptied.
    ReadBtnClick();
    ReleaseList();
    // 3. One entry per present device; 4. the cable is selected by its name.
    if (HidCtl_) HidCtl_->ListDevices();
    for (int i = static_cast<int>(devList_.size()) - 1; i >= 0; --i) {
        if (devList_[static_cast<std::size_t>(i)].text == kCableProductName) {
            selected_ = i;
            break;
        }
    }
    if (wasUp) {
        // The link was up: the same cable stays selected (also when another
        // cable came after it in the list).
        for (std::size_t i = 0; i < devList_.size(); ++i) {
            const THidDevice* d = devList_[i].device.get();
            if (d && d->pnpInfo().deviceInstance == linkInstance_) selected_ = static_cast<int>(i);
        }
    }
    emit listChanged();
    if (!wasUp) return;
    // Go on with the same cable, or say that it is gone.
    THidDevice* device = SelectedDevice();
    if (device && device->pnpInfo().deviceInstance == linkInstance_ && device->readWriteAccess()) {
        currentHidDevice = device;
        usbHexText.clear();
        usbPacketOpen = false;
        SendSetupReport(*device);
        StartReading(device);
        return;
    }
    linkUp_ = false;
    emit cableLost(CableLostNotice(linkName_, linkPath_));
}

void TUsbCableLink::HidCtlArrival(THidDevice* HidDev) {
    AddHistory(QStringLiteral("Arrival of ") + DescribeHidDevice(*HidDev));
}

void TUsbCableLink::HidCtlRemoval(THidDevice* HidDev) {
    AddHistory(QStringLiteral("Removal of ") + DescribeHidDevice(*HidDev));
}

void TUsbCableLink::HidCtlDeviceDataError(THidDevice*, std::uint32_t Error) {
    const QString text = HidCtl_ ? HidCtl_->Platform().ErrorText(Error) : QString();
    AddHistory(
        QStringLiteral("READ ERROR: %1 (%2)").arg(text, QString::number(Error, 16).toUpper()));
}

void TUsbCableLink::ReadBtnClick() {
    currentHidDevice = nullptr;
    if (THidDevice* device = SelectedDevice()) {
        currentHidDevice = device;
        if (device->readWriteAccess()) device->SetDataHandler(nullptr);
    }
    linkUp_ = false;
}

void TUsbCableLink::SendSetupReport(THidDevice& device) {
    // The result is not examined: a cable that refuses it still sends reports.
    device.SendFeature(kCableSetupReport.data(), static_cast<int>(kCableSetupReport.size()));
    QString line;
    for (std::uint8_t b : kCableSetupReport)
        line += Hex2(b) + QLatin1Char(' ');
    AddHistory(line);
}

bool TUsbCableLink::SetFeatureClick() {
    currentHidDevice = nullptr;
    THidDevice* device = SelectedDevice();
    if (!device) {
        emit informRequested(kCableNotConnectedText);
        return false;
    }
    currentHidDevice = device;
    SendSetupReport(*device);
    return true;
}

void TUsbCableLink::StartReading(THidDevice* device) {
    if (!device) return;
    currentHidDevice = device;
    linkUp_ = true;
    linkInstance_ = device->pnpInfo().deviceInstance;
    linkPath_ = device->pnpInfo().devicePath;
    linkName_ = selected_ >= 0 && selected_ < static_cast<int>(devList_.size())
                    ? devList_[static_cast<std::size_t>(selected_)].text
                    : DescribeHidDevice(*device);
    device->SetDataHandler(orvexHidData_);
}

void TUsbCableLink::StopReading() {
    linkUp_ = false;
    if (currentHidDevice) currentHidDevice->SetDataHandler(nullptr);
}

void TUsbCableLink::OrvexHidData(THidDevice*, std::uint8_t ReportID, const std::uint8_t* Data,
                                 std::uint16_t Size) {
    if (onReport) onReport(ReportID, Data, Size);
    if (Size >= 1) ++usbIdleReports;
    const int n = Size >= 1 ? (Data[0] & 0x0F) : 0;
    if (Size >= 1 && n >= 1 && n <= 9) {
        // A data report: its meter bytes join the packet.
        usbIdleReports = 0;
        usbPacketOpen = true;
        for (int i = 1; i <= n && i < Size && usbHexText.size() < kMaxUsbHexText; ++i)
            usbHexText += Hex2(Data[i]);
        QString line = QStringLiteral("R ") + Hex2(ReportID) + QStringLiteral("  ");
        for (int i = 0; i < Size; ++i)
            line += Hex2(Data[i]) + QLatin1Char(' ');
        AddHistory(line);
        return;
    }
    if (!usbPacketOpen) return;
    // A report without meter bytes ends the packet.
    usbPacketOpen = false;
    const QString hex = std::exchange(usbHexText, QString());
    QString frame;
    for (int i = 0; i < kFrameBytes && 2 * i + 1 < hex.size(); ++i)
        frame += hex[2 * i + 1];
    emit trace(hex, frame);
    // The packet ends in CR LF: its line feed opens the frame, as on the serial line.
    if (frame.size() == kFrameBytes) frame = frame.right(1) + frame.left(kFrameBytes - 1);
    if (frame.size() != kFrameBytes || frame[0] != QLatin1Char('A') ||
        frame[kFrameBytes - 1] != QLatin1Char('D')) {
        ++framesDropped;
        frameOwner_.setFrameText(QString());
        return;
    }
    // frameText holds the frame while the decoder runs and is empty afterwards,
    // also when the decoder fails.
    frameOwner_.setFrameText(frame);
    struct Clear {
        TPacketAssembler& owner;
        ~Clear() { owner.setFrameText(QString()); }
    } clear{frameOwner_};
    ++framesDecoded;
    if (onFrame) onFrame(frame);
}

} // namespace orvex
