#pragma once
// Simulated hidraw devices under umockdev: the real Linux HID layer (libudev
// enumeration and monitor, open/ioctl/read/poll on /dev/hidrawN) runs against
// them unchanged.  The test program must run under the umockdev preload
// library (umockdev_test_main.cpp re-executes itself with it).
//
// Each device answers HIDIOCGRAWINFO, HIDIOCGRDESCSIZE, HIDIOCGRDESC and
// HIDIOCSFEATURE (recording the bytes), and hands out queued input reports one
// read at a time.  poll() is not intercepted and watches the pseudo-terminal
// behind the node, so one byte is kept waiting in it while reports are queued.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace orvex::testing {

using ReportBytes = std::vector<std::uint8_t>;

// The cable's report descriptor: vendor page, an 8-byte input report and a
// 9-byte feature report, no report IDs.
ReportBytes CableReportDescriptor();
// A descriptor with numbered input reports (ID 2, 4 bytes).
ReportBytes NumberedReportDescriptor();

struct TSimulatedHidSpec {
    int number = 0;  // /dev/hidrawN
    bool usb = true; // a USB device; otherwise a Bluetooth one (HID_* only)
    QString product = QStringLiteral("USB to Serial");
    QString manufacturer; // empty: no attribute
    QString serial;       // empty: no attribute
    std::uint16_t vendor = 0x1234, productId = 0x5678, version = 0x0100;
    ReportBytes reportDescriptor = CableReportDescriptor();
};

class TSimulatedHid {
  public:
    ~TSimulatedHid();
    // An input report as hidraw hands it over (report ID first only for
    // numbered reports).
    void PushReport(const ReportBytes& report);
    void PushReports(const std::vector<ReportBytes>& reports);
    std::vector<ReportBytes> Features() const;
    int QueuedReports() const;
    int Reads() const;

    QString devnode() const { return devnode_; }
    QString syspath() const { return syspath_; }
    const TSimulatedHidSpec& spec() const { return spec_; }

  private:
    friend class TSimulatedHidBed;
    TSimulatedHid() = default;
    static int OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    static int OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self);
    void Wake(); // with the lock held
    void MarkUnplugged();

    TSimulatedHidSpec spec_;
    QString devnode_, syspath_;
    QStringList removeOrder_; // sysfs paths, child first
    mutable std::mutex mutex_;
    std::deque<ReportBytes> reports_;
    std::vector<ReportBytes> features_;
    int reads_ = 0;
    bool unplugged_ = false;
    bool byteWaiting_ = false;
    int master_ = -1; // the testbed's end of the node's pseudo-terminal (not owned)
    int drain_ = -1;  // our own open of the node's terminal, to take the byte back
    UMockdevIoctlBase* handler_ = nullptr;
};

class TSimulatedHidBed {
  public:
    TSimulatedHidBed();
    ~TSimulatedHidBed();
    TSimulatedHidBed(const TSimulatedHidBed&) = delete;
    TSimulatedHidBed& operator=(const TSimulatedHidBed&) = delete;

    // True when the program runs under the preload library (else nothing is mocked).
    static bool Active();

    // Adds the device's sysfs tree and node; Plug() sends its "add" uevent.
    TSimulatedHid& Add(const TSimulatedHidSpec& spec);
    void Plug(TSimulatedHid& device);
    // The device stops answering (reads EIO, ioctls ENODEV), its "remove"
    // uevent goes out and its sysfs tree is taken away.
    void Unplug(TSimulatedHid& device);

    UMockdevTestbed* testbed() const { return testbed_; }

  private:
    UMockdevTestbed* testbed_ = nullptr;
    std::vector<std::unique_ptr<TSimulatedHid>> devices_;
};

} // namespace orvex::testing
