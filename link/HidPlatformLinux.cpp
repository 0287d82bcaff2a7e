#include "link/HidPlatformLinux.h"

#include "link/HidReportDescriptor.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <libudev.h>
#include <linux/hidraw.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace orvex {

namespace {

QString Text(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

std::uint16_t Hex16(const char* s) {
    if (!s) return 0;
    bool ok = false;
    const uint v = QString::fromLatin1(s).trimmed().toUInt(&ok, 16);
    return ok ? static_cast<std::uint16_t>(v) : 0;
}

// What sysfs tells about one hidraw node.
struct NodeInfo {
    QString syspath;
    THidAttributes attributes;
    QString product;
    QString serial;
};

NodeInfo DescribeNode(udev_device* dev, QMap<QString, QString>* properties) {
    NodeInfo info;
    info.syspath = Text(udev_device_get_syspath(dev));
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(dev, "hid", nullptr);
    // HID_ID is "BUS:VENDOR:PRODUCT", each in hexadecimal; bus 0003 is USB.
    const QStringList id =
        hid ? Text(udev_device_get_property_value(hid, "HID_ID")).split(u':') : QStringList();
    const bool onUsb = id.size() == 3 && id[0].toUInt(nullptr, 16) == 0x0003;
    // A Bluetooth device behind a USB adapter has that adapter as a USB
    // ancestor: the USB strings are taken only for devices on the USB bus.
    udev_device* usb = onUsb || !hid
                           ? udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device")
                           : nullptr;
    if (usb) {
        info.attributes.VendorID = Hex16(udev_device_get_sysattr_value(usb, "idVendor"));
        info.attributes.ProductID = Hex16(udev_device_get_sysattr_value(usb, "idProduct"));
        info.attributes.VersionNumber = Hex16(udev_device_get_sysattr_value(usb, "bcdDevice"));
        info.product = Text(udev_device_get_sysattr_value(usb, "product"));
        info.serial = Text(udev_device_get_sysattr_value(usb, "serial"));
        if (properties)
            properties->insert(QStringLiteral("Manufacturer"),
                               Text(udev_device_get_sysattr_value(usb, "manufacturer")));
    } else if (hid) {
        if (id.size() == 3) {
            info.attributes.VendorID = static_cast<std::uint16_t>(id[1].toUInt(nullptr, 16));
            info.attributes.ProductID = static_cast<std::uint16_t>(id[2].toUInt(nullptr, 16));
        }
        info.product = Text(udev_device_get_property_value(hid, "HID_NAME"));
        info.serial = Text(udev_device_get_property_value(hid, "HID_UNIQ"));
    }
    if (properties && hid) {
        if (id.size() == 3) properties->insert(QStringLiteral("Bus"), id[0]);
        properties->insert(QStringLiteral("Driver"), Text(udev_device_get_driver(hid)));
        properties->insert(QStringLiteral("HidPath"), Text(udev_device_get_syspath(hid)));
    }
    return info;
}

// The report descriptor through the node, else from sysfs by the node's device number.
std::vector<std::uint8_t> ReportDescriptor(int fd, const QString& devicePath) {
    if (fd >= 0) {
        int size = 0;
        if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 &&
            size <= HID_MAX_DESCRIPTOR_SIZE) {
            hidraw_report_descriptor rd{};
            rd.size = static_cast<__u32>(size);
            if (::ioctl(fd, HIDIOCGRDESC, &rd) == 0)
                return std::vector<std::uint8_t>(rd.value, rd.value + rd.size);
        }
    }
    struct stat st {};
    const QByteArray path = devicePath.toLocal8Bit();
    if ((fd >= 0 ? ::fstat(fd, &st) : ::stat(path.constData(), &st)) != 0 || !S_ISCHR(st.st_mode))
        return {};
    QFile file(QStringLiteral("/sys/dev/char/%1:%2/device/report_descriptor")
                   .arg(major(st.st_rdev))
                   .arg(minor(st.st_rdev)));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.read(HID_MAX_DESCRIPTOR_SIZE);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool CopyString(const QString& text, char16_t* buffer, int bytes) {
    const int room = bytes / int(sizeof(char16_t));
    if (text.isEmpty() || room <= 0) return false;
    const int n = std::min(int(text.size()), room);
    std::copy_n(reinterpret_cast<const char16_t*>(text.utf16()), n, buffer);
    if (n < room) buffer[n] = 0;
    return true;
}

class LinuxHandle : public IHidHandle {
  public:
    ~LinuxHandle() override {
        if (fd >= 0) ::close(fd);
        if (wakeFd >= 0) ::close(wakeFd);
    }
    QString path;
    THidAccess access = THidAccess::QueryOnly;
    int fd = -1;     // none for a query-only handle
    int wakeFd = -1; // read handles: the eventfd CancelRead() signals
    bool numbered = false;
};

class TLinuxHidPlatform : public IHidPlatform {
  public:
    TLinuxHidPlatform() : udev_(udev_new()) {}
    ~TLinuxHidPlatform() override {
        StopNotices();
        if (udev_) udev_unref(udev_);
    }

    bool Available() const override { return udev_ != nullptr; }

    std::optional<std::vector<THidInterfaceInfo>> ListInterfaces() override {
        if (!udev_) return std::nullopt;
        udev_enumerate* e = udev_enumerate_new(udev_);
        if (!e) return std::nullopt;
        std::vector<THidInterfaceInfo> list;
        if (udev_enumerate_add_match_subsystem(e, "hidraw") < 0 ||
            udev_enumerate_scan_devices(e) < 0) {
            udev_enumerate_unref(e);
            return std::nullopt;
        }
        std::map<QString, NodeInfo> nodes;
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
            udev_device* dev = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
            if (!dev) continue;
            const char* node = udev_device_get_devnode(dev);
            if (node) {
                THidInterfaceInfo info;
                info.devicePath = QString::fromUtf8(node);
                NodeInfo n = DescribeNode(dev, &info.properties);
                info.deviceInstance = n.syspath;
                nodes[info.devicePath] = std::move(n);
                list.push_back(std::move(info));
            }
            udev_device_unref(dev);
        }
        udev_enumerate_unref(e);
        nodes_ = std::move(nodes);
        return list;
    }

    std::unique_ptr<IHidHandle> Open(const QString& devicePath, THidAccess access,
                                     int* error) override {
        auto h = std::make_unique<LinuxHandle>();
        h->path = devicePath;
        h->access = access;
        const QByteArray path = devicePath.toLocal8Bit();
        auto fail = [&](int e) {
            if (error) *error = e;
            return nullptr;
        };
        switch (access) {
        case THidAccess::ReadWrite:
            h->fd = ::open(path.constData(), O_RDWR | O_CLOEXEC | O_NOCTTY);
            if (h->fd < 0) return fail(errno);
            break;
        case THidAccess::QueryOnly: {
            // Names and numbers come from sysfs; the node need not be open.
            struct stat st {};
            if (::stat(path.constData(), &st) != 0) return fail(errno);
            break;
        }
        case THidAccess::Read: {
            h->fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
            if (h->fd < 0) return fail(errno);
            h->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            if (h->wakeFd < 0) return fail(errno);
            h->numbered = ParseReportDescriptor(ReportDescriptor(h->fd, devicePath)).numbered;
            break;
        }
        }
        return h;
    }

    bool GetAttributes(IHidHandle& handle, THidAttributes* attributes) override {
        auto& h = static_cast<LinuxHandle&>(handle);
        if (const NodeInfo* n = Lookup(h.path)) {
            *attributes = n->attributes;
            return true;
        }
        hidraw_devinfo info{};
        if (h.fd >= 0 && ::ioctl(h.fd, HIDIOCGRAWINFO, &info) == 0) {
            attributes->VendorID = static_cast<std::uint16_t>(info.vendor);
            attributes->ProductID = static_cast<std::uint16_t>(info.product);
            attributes->VersionNumber = 0;
            return true;
        }
        return false;
    }

    bool GetInputReportLength(IHidHandle& handle, int* length) override {
        auto& h = static_cast<LinuxHandle&>(handle);
        const std::vector<std::uint8_t> descriptor = ReportDescriptor(h.fd, h.path);
        if (descriptor.empty()) return false;
        *length = ParseReportDescriptor(descriptor).inputReportLength;
        return true;
    }

    bool GetProductString(IHidHandle& handle, char16_t* buffer, int bytes) override {
        const NodeInfo* n = Lookup(static_cast<LinuxHandle&>(handle).path);
        return n && CopyString(n->product, buffer, bytes);
    }

    bool GetSerialNumberString(IHidHandle& handle, char16_t* buffer, int bytes) override {
        const NodeInfo* n = Lookup(static_cast<LinuxHandle&>(handle).path);
        return n && CopyString(n->serial, buffer, bytes);
    }

    bool HasLanguageList() const override { return false; }
    bool GetIndexedString(IHidHandle&, int, char16_t*, int) override { return false; }

    bool SetFeature(IHidHandle& handle, const std::uint8_t* data, int length) override {
        auto& h = static_cast<LinuxHandle&>(handle);
        if (h.fd < 0 || h.access != THidAccess::ReadWrite || length <= 0) return false;
        std::vector<std::uint8_t> copy(data, data + length); // the kernel may write back
        return ::ioctl(h.fd, HIDIOCSFEATURE(length), copy.data()) >= 0;
    }

    THidReadResult Read(IHidHandle& readHandle, std::uint8_t* buffer, int length,
                        int timeoutMs) override {
        auto& h = static_cast<LinuxHandle&>(readHandle);
        if (h.fd < 0 || length < 1) return {THidReadResult::Failed, 0, EBADF};
        pollfd fds[2] = {{h.fd, POLLIN, 0}, {h.wakeFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, timeoutMs);
        if (r < 0) {
            if (errno == EINTR) return {};
            return {THidReadResult::Failed, 0, static_cast<std::uint32_t>(errno)};
        }
        if (r == 0) return {};
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(h.wakeFd, &count, sizeof count);
            return {THidReadResult::Cancelled, 0, 0};
        }
        if (!fds[0].revents) return {};
        if (fds[0].revents & POLLNVAL) return {THidReadResult::Failed, 0, EBADF};
        // Unnumbered reports come without an ID byte: report ID 0 goes in front.
        std::uint8_t* into = h.numbered ? buffer : buffer + 1;
        const int room = h.numbered ? length : length - 1;
        const ssize_t n = ::read(h.fd, into, static_cast<std::size_t>(room));
        if (n < 0) {
            const int e = errno;
            if ((e == EAGAIN || e == EINTR) && !(fds[0].revents & (POLLERR | POLLHUP))) return {};
            return {THidReadResult::Failed, 0,
                    static_cast<std::uint32_t>(e == EAGAIN || e == EINTR ? EIO : e)};
        }
        if (n == 0) return {THidReadResult::Failed, 0, ENODEV}; // the node has gone
        if (!h.numbered) buffer[0] = 0;
        return {THidReadResult::Completed, static_cast<int>(n) + (h.numbered ? 0 : 1), 0};
    }

    void CancelRead(IHidHandle& readHandle) override {
        auto& h = static_cast<LinuxHandle&>(readHandle);
        if (h.wakeFd < 0) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(h.wakeFd, &one, sizeof one);
    }

    void StartNotices(std::function<void()> onChange) override {
        StopNotices();
        if (!udev_) return;
        monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
        if (!monitor_) return;
        if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor_) < 0) {
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
            return;
        }
        const int fd = udev_monitor_get_fd(monitor_);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        onChange_ = std::move(onChange);
        delay_ = std::make_unique<QTimer>();
        delay_->setSingleShot(true);
        delay_->setInterval(kNoticeDelayMs);
        QObject::connect(delay_.get(), &QTimer::timeout, delay_.get(), [this] {
            if (onChange_) onChange_();
        });
        notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
            while (udev_device* d = udev_monitor_receive_device(monitor_))
                udev_device_unref(d);
            if (!delay_->isActive()) delay_->start();
        });
    }

    void StopNotices() override {
        notifier_.reset();
        delay_.reset();
        onChange_ = nullptr;
        if (monitor_) udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }

    QString ErrorText(std::uint32_t error) const override {
        return QString::fromLocal8Bit(std::strerror(static_cast<int>(error)));
    }

  private:
    const NodeInfo* Lookup(const QString& devicePath) {
        auto it = nodes_.find(devicePath);
        if (it == nodes_.end()) {
            ListInterfaces(); // a node opened before any scan
            it = nodes_.find(devicePath);
        }
        return it == nodes_.end() ? nullptr : &it->second;
    }

    udev* udev_;
    std::map<QString, NodeInfo> nodes_; // user-interface thread only
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QTimer> delay_;
    std::function<void()> onChange_;
};

} // namespace

std::shared_ptr<IHidPlatform> MakeLinuxHidPlatform() {
    return std::make_shared<TLinuxHidPlatform>();
}

std::shared_ptr<IHidPlatform> MakeSystemHidPlatform() {
    return MakeLinuxHidPlatform();
}

} // namespace orvex
