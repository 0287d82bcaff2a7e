#include "tools/orvex-meter-sim/UhidCable.h"

#include "tools/orvex-meter-sim/MeterSimCore.h"

#include <linux/uhid.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace orvex::sim {

namespace {

// Vendor-defined page: an 8-byte input report and a 9-byte feature report
// (the set-up report after its report ID 0), no report IDs.
const std::uint8_t kDescriptor[] = {0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x01,
                                    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08,
                                    0x81, 0x02, 0x09, 0x02, 0x95, 0x09, 0xB1, 0x02, 0xC0};

constexpr std::uint16_t kBusUsb = 0x03;

bool WriteEvent(int fd, const uhid_event& ev) {
    const ssize_t n = ::write(fd, &ev, sizeof ev);
    return n == static_cast<ssize_t>(sizeof ev);
}

} // namespace

TUhidCable::~TUhidCable() {
    Close();
}

bool TUhidCable::Open(std::string* error) {
    Close();
    fd_ = ::open(kDevicePath, O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        *error = std::string("cannot open ") + kDevicePath + ": " + std::strerror(errno) +
                 (errno == ENOENT ? " (this kernel has no user-space HID driver)" : "");
        return false;
    }
    uniq_ = "orvex-meter-sim-" + std::to_string(::getpid());
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    std::strncpy(reinterpret_cast<char*>(ev.u.create2.name), "USB to Serial",
                 sizeof ev.u.create2.name - 1);
    std::strncpy(reinterpret_cast<char*>(ev.u.create2.phys), "orvex-meter-sim",
                 sizeof ev.u.create2.phys - 1);
    std::strncpy(reinterpret_cast<char*>(ev.u.create2.uniq), uniq_.c_str(),
                 sizeof ev.u.create2.uniq - 1);
    ev.u.create2.rd_size = sizeof kDescriptor;
    ev.u.create2.bus = kBusUsb;
    ev.u.create2.vendor = kVendorId;
    ev.u.create2.product = kProductId;
    ev.u.create2.version = 0x0100;
    std::memcpy(ev.u.create2.rd_data, kDescriptor, sizeof kDescriptor);
    if (!WriteEvent(fd_, ev)) {
        *error = std::string("cannot create the virtual cable: ") + std::strerror(errno);
        Close();
        return false;
    }
    stop_ = false;
    events_ = std::thread([this] { HandleEvents(); });
    return true;
}

std::vector<std::uint8_t> TUhidCable::lastSetupReport() const {
    std::lock_guard lock(mutex_);
    return lastSetup_;
}

void TUhidCable::Close() {
    stop_ = true;
    if (events_.joinable()) events_.join();
    if (fd_ < 0) return;
    uhid_event ev{};
    ev.type = UHID_DESTROY;
    WriteEvent(fd_, ev);
    ::close(fd_);
    fd_ = -1;
}

bool TUhidCable::SendReport(const std::vector<std::uint8_t>& report) {
    if (fd_ < 0 || report.size() > UHID_DATA_MAX) return false;
    uhid_event ev{};
    ev.type = UHID_INPUT2;
    ev.u.input2.size = static_cast<__u16>(report.size());
    std::memcpy(ev.u.input2.data, report.data(), report.size());
    return WriteEvent(fd_, ev);
}

void TUhidCable::HandleEvents() {
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        uhid_event ev{};
        const ssize_t n = ::read(fd_, &ev, sizeof ev);
        if (n <= 0) continue;
        uhid_event reply{};
        switch (ev.type) {
        case UHID_SET_REPORT: {
            // The set-up report: the line speed and the setting byte.
            const std::size_t size = std::min<std::size_t>(ev.u.set_report.size, UHID_DATA_MAX);
            {
                std::lock_guard lock(mutex_);
                lastSetup_.assign(1, ev.u.set_report.rnum);
                lastSetup_.insert(lastSetup_.end(), ev.u.set_report.data,
                                  ev.u.set_report.data + size);
            }
            ++setupReports_;
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = ev.u.set_report.id;
            reply.u.set_report_reply.err = 0;
            WriteEvent(fd_, reply);
            break;
        }
        case UHID_GET_REPORT:
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = ev.u.get_report.id;
            reply.u.get_report_reply.err = EIO;
            WriteEvent(fd_, reply);
            break;
        default: // start, stop, open, close, output: nothing to do
            break;
        }
    }
}

std::string TUhidCable::WaitForNode(int waitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    do {
        // /sys/class/hidraw/hidrawN/device/uevent holds HID_UNIQ of its HID device.
        if (DIR* dir = ::opendir("/sys/class/hidraw")) {
            while (const dirent* e = ::readdir(dir)) {
                if (std::strncmp(e->d_name, "hidraw", 6) != 0) continue;
                std::ifstream uevent(std::string("/sys/class/hidraw/") + e->d_name +
                                     "/device/uevent");
                std::string line;
                while (std::getline(uevent, line)) {
                    if (line == "HID_UNIQ=" + uniq_) {
                        const std::string node = std::string("/dev/") + e->d_name;
                        ::closedir(dir);
                        return node;
                    }
                }
            }
            ::closedir(dir);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return {};
}

} // namespace orvex::sim
