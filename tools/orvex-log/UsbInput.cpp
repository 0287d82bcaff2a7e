#include "tools/orvex-log/UsbInput.h"

#include "link/HidDeviceController.h"
#include "link/SerialPortDriver.h"
#include "link/UsbCableLink.h"
#include "protocol/PacketAssembler.h"
#include "tools/orvex-log/HidReports.h"
#include "tools/orvex-log/RunDeadline.h"
#include "tools/orvex-log/StopSignals.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <libudev.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex {

namespace {

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "orvex-log: %s\n", message.c_str());
    return status;
}

std::string Std(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// The same device node: the same path, or the same character device (a
// symbolic link made by a udev rule, for instance).
bool SameNode(const QString& a, const QString& b) {
    if (a == b) return true;
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.toLocal8Bit().constData(), &sa) == 0 &&
           ::stat(b.toLocal8Bit().constData(), &sb) == 0 && S_ISCHR(sa.st_mode) &&
           S_ISCHR(sb.st_mode) && sa.st_rdev == sb.st_rdev;
}

// Whether this user may read and write a device node, in words.
std::string NodeAccess(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::string("missing (") + std::strerror(errno) + ")";
    if (::access(path.c_str(), R_OK | W_OK) == 0) return "can be opened";
    const int e = errno;
    const passwd* pw = ::getpwuid(st.st_uid);
    const group* gr = ::getgrgid(st.st_gid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    return std::string("cannot be opened: ") + std::strerror(e) + " (owner " +
           (pw ? pw->pw_name : std::to_string(st.st_uid)) + ", group " +
           (gr ? gr->gr_name : std::to_string(st.st_gid)) + ", mode " + mode + ")";
}

} // namespace

int RunUsbInput(const UsbInputOptions& options, const std::function<void(const QString&)>& onFrame,
                const std::function<long long()>& decodedFrames) {
    std::unique_ptr<THidDeviceController> HidCtl;
    try {
        HidCtl = std::make_unique<THidDeviceController>();
    } catch (const EHidControllerError& e) {
        return Fail(2, e.what());
    }
    TPacketAssembler frameOwner;
    TUsbCableLink cable(HidCtl.get(), frameOwner);
    int status = 0;
    bool stopping = false;
    cable.onFrame = [&](const QString& frame) {
        if (stopping) return;
        onFrame(frame);
        std::fflush(stdout);
        if (options.frames > 0 && decodedFrames() >= options.frames) {
            stopping = true;
            QCoreApplication::quit();
        }
    };
    cable.AssignHandlers();

    int index = -1;
    if (!options.hidraw.empty()) {
        const QString wanted = QString::fromLocal8Bit(options.hidraw.c_str());
        const auto& list = cable.DevListBox();
        for (std::size_t i = 0; i < list.size() && index < 0; ++i)
            if (list[i].device && SameNode(list[i].device->pnpInfo().devicePath, wanted))
                index = static_cast<int>(i);
        if (index < 0)
            return Fail(2, "'" + options.hidraw +
                               "' is not a HID device of this system (orvex-log --list shows "
                               "the HID devices)");
    } else {
        index = cable.DevListBoxItemIndex();
        if (index < 0)
            return Fail(2, "no USB interface cable is connected: no HID device is named \"" +
                               Std(kCableProductName) +
                               "\" (orvex-log --list shows the HID devices)");
    }
    cable.SelectDevListEntry(index);
    THidDevice* device = cable.SelectedDevice();
    const QString name = cable.DevListBox()[static_cast<std::size_t>(index)].text;
    if (!device) return Fail(2, "the HID device \"" + Std(name) + "\" cannot be used");
    const QString node = device->pnpInfo().devicePath;
    if (!device->readWriteAccess()) return Fail(2, Std(HidPermissionMessage(node)));

    HidCaptureWriter capture;
    if (!options.capture.empty()) {
        std::string error;
        const std::string header = "orvex-log HID capture of \"" + Std(name) + "\" (" + Std(node) +
                                   "), started " +
                                   Std(QDateTime::currentDateTime().toString(Qt::ISODate));
        if (!capture.Open(options.capture, header, &error)) return Fail(2, error);
        cable.onReport = [&](std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
            capture.Write(id, data, size);
        };
    }
    QObject::connect(&cable, &TUsbCableLink::cableLost, [&](const QString&) {
        status = Fail(1, "the USB interface cable \"" + Std(name) + "\" (" + Std(node) +
                             ") is no longer connected");
        QCoreApplication::quit();
    });

    if (options.started && !options.started()) return 2;
    cable.SetFeatureClick();
    cable.StartReading(device);
    std::fprintf(stderr, "orvex-log: reading \"%s\" (%s); Ctrl-C to stop\n", Std(name).c_str(),
                 Std(node).c_str());

    QSocketNotifier stopNotifier(StopSignalDescriptor(), QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    std::unique_ptr<TRunDeadline> deadline; // any length (a QTimer alone holds about 24.8 days)
    if (options.seconds > 0)
        deadline =
            std::make_unique<TRunDeadline>(options.seconds, [] { QCoreApplication::quit(); });

    QCoreApplication::exec();
    stopping = true;
    cable.StopReading();
    std::fflush(stdout);
    capture.Close();
    if (capture.failed() && status == 0)
        status = Fail(1, "writing the capture '" + options.capture + "' failed");
    return status;
}

int RunHidReplay(const std::string& path, const std::function<void(const QString&)>& onFrame,
                 const std::function<bool()>& started) {
    TPacketAssembler frameOwner;
    TUsbCableLink cable(nullptr, frameOwner);
    cable.onFrame = onFrame;
    std::string error;
    const bool ok = ReplayHidReportFile(
        path,
        [&](const HidReportLine& r) {
            cable.OrvexHidData(nullptr, r.reportId, r.data.data(),
                               static_cast<std::uint16_t>(r.data.size()));
        },
        &error, started);
    std::fflush(stdout);
    if (ok) return 0;
    return error.empty() ? 2 : Fail(2, error);
}

int ListConnectableDevices() {
    std::set<std::string> shown;
    std::printf("Serial ports (the ComSetup menu, orvex-log --com N):\n");
    for (int p = 0; p < 4; ++p) {
        const auto port = static_cast<TSerialPortDriver::TComPortNumber>(p);
        const std::string path = Std(TSerialPortDriver::DefaultDevicePath(port));
        shown.insert(path);
        std::printf("  %s  %s  %s\n", Std(TSerialPortDriver::PortName(port)).c_str(), path.c_str(),
                    NodeAccess(path).c_str());
    }

    std::printf("Other serial devices (orvex-log --port PATH):\n");
    int others = 0;
    if (udev* u = udev_new()) {
        if (udev_enumerate* e = udev_enumerate_new(u)) {
            udev_enumerate_add_match_subsystem(e, "tty");
            udev_enumerate_scan_devices(e);
            udev_list_entry* entry = nullptr;
            udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
                udev_device* d = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
                if (!d) continue;
                const char* node = udev_device_get_devnode(d);
                // Virtual terminals have no parent device; 8250 ports without a
                // UART report type 0.
                const char* type = udev_device_get_sysattr_value(d, "type");
                if (node && udev_device_get_parent(d) && !(type && std::strcmp(type, "0") == 0) &&
                    !shown.count(node)) {
                    std::printf("  %s  %s\n", node, NodeAccess(node).c_str());
                    ++others;
                }
                udev_device_unref(d);
            }
            udev_enumerate_unref(e);
        }
        udev_unref(u);
    }
    if (others == 0) std::printf("  none found\n");

    std::printf("HID devices (orvex-log --usb takes the one named \"%s\", --hidraw PATH any):\n",
                Std(kCableProductName).c_str());
    int hid = 0;
    try {
        THidDeviceController HidCtl;
        HidCtl.SetOnEnumerate([&](THidDevice* d, int) {
            const std::string node = Std(d->pnpInfo().devicePath);
            std::string access = "can be opened for reading and writing";
            if (!d->readWriteAccess()) {
                access = "cannot be opened for reading and writing";
                const std::string why = NodeAccess(node);
                if (why.rfind("cannot be opened: ", 0) == 0) access += why.substr(16);
            }
            std::printf("  %s  %s  %s\n", Std(DescribeHidDevice(*d)).c_str(), node.c_str(),
                        access.c_str());
            ++hid;
            return true;
        });
        HidCtl.ListDevices();
    } catch (const EHidControllerError& e) {
        return Fail(1, e.what());
    }
    if (hid == 0) std::printf("  none found\n");
    std::fflush(stdout);
    return 0;
}

} // namespace orvex
