// glib's headers use the word "signals", which Qt defines as a macro: they come first.
#include <umockdev.h>

#include "link/tests/umockdev/SimulatedHid.h"

#include <linux/hidraw.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace orvex::testing {

ReportBytes CableReportDescriptor() {
    return {0x06, 0xA0, 0xFF, // usage page (vendor defined)
            0x09, 0x01,       // usage
            0xA1, 0x01,       // collection (application)
            0x09, 0x01,       //   usage
            0x15, 0x00,       //   logical minimum 0
            0x26, 0xFF, 0x00, //   logical maximum 255
            0x75, 0x08,       //   report size 8
            0x95, 0x08,       //   report count 8
            0x81, 0x02,       //   input (data, variable, absolute)
            0x09, 0x02,       //   usage
            0x95, 0x09,       //   report count 9
            0xB1, 0x02,       //   feature
            0xC0};            // end collection
}

ReportBytes NumberedReportDescriptor() {
    return {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x75, 0x08, 0x95,
            0x04, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x09, 0x01, 0x81, 0x02, 0xC0};
}

namespace {

QString HexString(const ReportBytes& b) {
    QString s;
    for (std::uint8_t x : b)
        s += QStringLiteral("%1").arg(x, 2, 16, QLatin1Char('0'));
    return s;
}

} // namespace

// ------------------------------------------------------------- TSimulatedHid

TSimulatedHid::~TSimulatedHid() {
    if (handler_) g_object_unref(handler_);
    if (drain_ >= 0) ::close(drain_);
}

void TSimulatedHid::Wake() {
    if (byteWaiting_ || master_ < 0) return;
    const char c = 'x';
    if (::write(master_, &c, 1) == 1) byteWaiting_ = true;
}

void TSimulatedHid::PushReport(const ReportBytes& report) {
    std::lock_guard lock(mutex_);
    reports_.push_back(report);
    Wake();
}

void TSimulatedHid::PushReports(const std::vector<ReportBytes>& reports) {
    std::lock_guard lock(mutex_);
    for (const ReportBytes& r : reports)
        reports_.push_back(r);
    Wake();
}

std::vector<ReportBytes> TSimulatedHid::Features() const {
    std::lock_guard lock(mutex_);
    return features_;
}

int TSimulatedHid::QueuedReports() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(reports_.size());
}

int TSimulatedHid::Reads() const {
    std::lock_guard lock(mutex_);
    return reads_;
}

void TSimulatedHid::MarkUnplugged() {
    std::lock_guard lock(mutex_);
    unplugged_ = true;
    reports_.clear();
    Wake(); // the poller wakes and its read fails
}

int TSimulatedHid::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    auto* d = static_cast<TSimulatedHid*>(self);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(d->mutex_);
    if (d->unplugged_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    GError* error = nullptr;
    auto resolve = [&](std::size_t size) {
        return umockdev_ioctl_data_resolve(arg, 0, size, &error);
    };
    const ReportBytes& desc = d->spec_.reportDescriptor;
    if (request == HIDIOCGRDESCSIZE) {
        UMockdevIoctlData* data = resolve(sizeof(int));
        if (!data) return FALSE;
        const int size = static_cast<int>(desc.size());
        std::memcpy(data->data, &size, sizeof size);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(data);
    } else if (request == HIDIOCGRDESC) {
        UMockdevIoctlData* data = resolve(sizeof(hidraw_report_descriptor));
        if (!data) return FALSE;
        auto* rd = reinterpret_cast<hidraw_report_descriptor*>(data->data);
        rd->size = static_cast<__u32>(desc.size());
        std::copy(desc.begin(), desc.end(), rd->value);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(data);
    } else if (request == HIDIOCGRAWINFO) {
        UMockdevIoctlData* data = resolve(sizeof(hidraw_devinfo));
        if (!data) return FALSE;
        auto* info = reinterpret_cast<hidraw_devinfo*>(data->data);
        info->bustype = d->spec_.usb ? 3 : 5;
        info->vendor = static_cast<__s16>(d->spec_.vendor);
        info->product = static_cast<__s16>(d->spec_.productId);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(data);
    } else if (_IOC_TYPE(request) == 'H' && _IOC_NR(request) == 0x06 &&
               _IOC_DIR(request) == (_IOC_WRITE | _IOC_READ)) { // HIDIOCSFEATURE(len)
        const std::size_t size = _IOC_SIZE(request);
        UMockdevIoctlData* data = resolve(size);
        if (!data) return FALSE;
        d->features_.emplace_back(data->data, data->data + size);
        umockdev_ioctl_client_complete(client, static_cast<glong>(size), 0);
        g_object_unref(data);
    } else {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
    if (error) g_error_free(error);
    return TRUE;
}

int TSimulatedHid::OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    auto* d = static_cast<TSimulatedHid*>(self);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(d->mutex_);
    ++d->reads_;
    if (d->unplugged_) {
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    if (d->reports_.empty()) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return TRUE;
    }
    ReportBytes report = std::move(d->reports_.front());
    d->reports_.pop_front();
    const int n = std::min(static_cast<int>(report.size()), arg->data_len);
    umockdev_ioctl_data_update(arg, 0, report.data(), n);
    if (d->reports_.empty() && d->byteWaiting_) {
        char c;
        if (::read(d->drain_, &c, 1) == 1) d->byteWaiting_ = false;
    }
    umockdev_ioctl_client_complete(client, n, 0);
    return TRUE;
}

// ---------------------------------------------------------- TSimulatedHidBed

TSimulatedHidBed::TSimulatedHidBed() : testbed_(umockdev_testbed_new()) {}

TSimulatedHidBed::~TSimulatedHidBed() {
    devices_.clear();
    g_object_unref(testbed_);
}

bool TSimulatedHidBed::Active() {
    return umockdev_in_mock_environment();
}

TSimulatedHid& TSimulatedHidBed::Add(const TSimulatedHidSpec& spec) {
    auto d = std::unique_ptr<TSimulatedHid>(new TSimulatedHid);
    d->spec_ = spec;
    const int n = spec.number;
    const QString usbDevice =
        QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1/1-%1").arg(n + 1);
    const QString usbInterface = usbDevice + QStringLiteral("/1-%1:1.0").arg(n + 1);
    const QString bus = spec.usb ? QStringLiteral("0003") : QStringLiteral("0005");
    const QString hidName = QStringLiteral("%1:%2:%3.%4")
                                .arg(bus)
                                .arg(spec.vendor, 4, 16, QLatin1Char('0'))
                                .arg(spec.productId, 4, 16, QLatin1Char('0'))
                                .arg(n + 1, 4, 16, QLatin1Char('0'))
                                .toUpper();
    // A Bluetooth device sits behind a USB adapter, as on most desktops.
    const QString hidParent =
        spec.usb ? usbInterface
                 : usbInterface + QStringLiteral("/bluetooth/hci0/hci0:%1").arg(256 + n);
    const QString hid = hidParent + QLatin1Char('/') + hidName;
    const QString hidraw = hid + QStringLiteral("/hidraw/hidraw%1").arg(n);

    QString record;
    record += QStringLiteral("P: %1\nN: hidraw%2\nE: DEVNAME=/dev/hidraw%2\nE: MAJOR=240\n"
                             "E: MINOR=%2\nE: SUBSYSTEM=hidraw\nA: dev=240:%2\n\n")
                  .arg(hidraw)
                  .arg(n);
    record += QStringLiteral("P: %1\nE: DRIVER=hid-generic\nE: HID_ID=%2:0000%3:0000%4\n"
                             "E: HID_NAME=%5\nE: HID_UNIQ=%6\nE: SUBSYSTEM=hid\n"
                             "H: report_descriptor=%7\n\n")
                  .arg(hid, bus)
                  .arg(spec.vendor, 4, 16, QLatin1Char('0'))
                  .arg(spec.productId, 4, 16, QLatin1Char('0'))
                  .arg(spec.usb ? (spec.manufacturer + QLatin1Char(' ') + spec.product).trimmed()
                                : spec.product,
                       spec.serial, HexString(spec.reportDescriptor));
    if (!spec.usb)
        record +=
            QStringLiteral("P: %1\nE: SUBSYSTEM=bluetooth\nE: DEVTYPE=link\n\n").arg(hidParent);
    record += QStringLiteral("P: %1\nE: DEVTYPE=usb_interface\nE: DRIVER=%2\nE: SUBSYSTEM=usb\n"
                             "A: bInterfaceClass=%3\n\n")
                  .arg(usbInterface, spec.usb ? QStringLiteral("usbhid") : QStringLiteral("btusb"),
                       spec.usb ? QStringLiteral("03") : QStringLiteral("e0"));
    QString usbAttributes =
        spec.usb ? QStringLiteral("A: idVendor=%1\nA: idProduct=%2\nA: bcdDevice=%3\n")
                       .arg(spec.vendor, 4, 16, QLatin1Char('0'))
                       .arg(spec.productId, 4, 16, QLatin1Char('0'))
                       .arg(spec.version, 4, 16, QLatin1Char('0'))
                 : QStringLiteral("A: idVendor=0a12\nA: idProduct=0001\nA: bcdDevice=8891\n"
                                  "A: product=Bluetooth Adapter\n");
    if (spec.usb) {
        usbAttributes += QStringLiteral("A: product=%1\n").arg(spec.product);
        if (!spec.manufacturer.isEmpty())
            usbAttributes += QStringLiteral("A: manufacturer=%1\n").arg(spec.manufacturer);
        if (!spec.serial.isEmpty())
            usbAttributes += QStringLiteral("A: serial=%1\n").arg(spec.serial);
    }
    record += QStringLiteral("P: %1\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: SUBSYSTEM=usb\n%2\n")
                  .arg(usbDevice, usbAttributes);

    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, record.toUtf8().constData(), &error)) {
        std::fprintf(stderr, "umockdev: %s\n", error ? error->message : "cannot add the device");
        std::abort();
    }
    d->devnode_ = QStringLiteral("/dev/hidraw%1").arg(n);
    d->syspath_ = QStringLiteral("/sys") + hidraw;
    d->removeOrder_ = {hidraw, hid};
    if (!spec.usb) d->removeOrder_ << hidParent;
    d->removeOrder_ << usbInterface << usbDevice;

    const QByteArray node = d->devnode_.toUtf8();
    d->master_ = umockdev_testbed_get_dev_fd(testbed_, node.constData());
    if (d->master_ >= 0) {
        termios t{};
        if (::tcgetattr(d->master_, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(d->master_, TCSANOW, &t);
        }
        if (const char* slave = ::ptsname(d->master_))
            d->drain_ = ::open(slave, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    d->handler_ = umockdev_ioctl_base_new();
    g_signal_connect(d->handler_, "handle-ioctl", G_CALLBACK(&TSimulatedHid::OnIoctl), d.get());
    g_signal_connect(d->handler_, "handle-read", G_CALLBACK(&TSimulatedHid::OnRead), d.get());
    if (!umockdev_testbed_attach_ioctl(testbed_, node.constData(), d->handler_, &error)) {
        std::fprintf(stderr, "umockdev: %s\n", error ? error->message : "cannot attach");
        std::abort();
    }
    devices_.push_back(std::move(d));
    return *devices_.back();
}

void TSimulatedHidBed::Plug(TSimulatedHid& device) {
    umockdev_testbed_uevent(testbed_, device.syspath_.toUtf8().constData(), "add");
}

void TSimulatedHidBed::Unplug(TSimulatedHid& device) {
    device.MarkUnplugged();
    // This umockdev sends no "remove" event and does not remove children itself.
    umockdev_testbed_uevent(testbed_, device.syspath_.toUtf8().constData(), "remove");
    for (const QString& path : device.removeOrder_)
        umockdev_testbed_remove_device(testbed_,
                                       (QStringLiteral("/sys") + path).toUtf8().constData());
}

} // namespace orvex::testing
