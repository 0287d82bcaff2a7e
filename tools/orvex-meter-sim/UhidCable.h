#pragma once
// The virtual meter's USB adapter cable: a HID device made by the kernel's
// user-space HID driver (/dev/uhid), named "USB to Serial", that hands the
// meter's bytes over in 8-byte input reports (CableReports) and accepts the
// set-up feature report.  The kernel gives it a /dev/hidraw node as for a
// real cable.  Desktop kernels have /dev/uhid (it needs root, or a user given
// access to it); machines without it cannot make the virtual cable.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::sim {

class TUhidCable {
  public:
    static constexpr const char* kDevicePath = "/dev/uhid";
    static constexpr std::uint16_t kVendorId = 0x0000;
    static constexpr std::uint16_t kProductId = 0x0001;

    TUhidCable() = default;
    ~TUhidCable();
    TUhidCable(const TUhidCable&) = delete;
    TUhidCable& operator=(const TUhidCable&) = delete;

    // Creates the device; false with a message (no /dev/uhid, no permission).
    // A thread answers the kernel's requests (the set-up feature report) from
    // then on, so that a program setting the cable up never waits for the meter.
    bool Open(std::string* error);
    void Close();

    // Sends one input report (8 bytes, no report ID).
    bool SendReport(const std::vector<std::uint8_t>& report);

    // The hidraw node the kernel made for the cable, waiting up to waitMs for
    // it to appear; empty when it cannot be found.
    std::string WaitForNode(int waitMs);

    int setupReports() const { return setupReports_; }
    std::vector<std::uint8_t> lastSetupReport() const;

  private:
    void HandleEvents(); // the event thread
    int fd_ = -1;
    std::string uniq_; // tells this cable's sysfs entry from others
    std::atomic<int> setupReports_{0};
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> lastSetup_;
    std::atomic<bool> stop_{false};
    std::thread events_;
};

} // namespace orvex::sim
