#pragma once
// The operating system's HID access as the HID device controller needs it.
//
// THidDeviceController talks to HID devices only through this interface:
// TLinuxHidPlatform implements it over libudev and /dev/hidraw*, and
// TMemoryHidPlatform over simulated devices held in memory (tests, benchmarks).
//
// Threads: every call is made on the user-interface thread except Open() with
// THidAccess::Read, Read() and CancelRead(), which the reading threads use on
// their own read handles; CancelRead() may be called from any thread.

#include <QMap>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvex {

// One present HID device interface, as a scan finds it.
struct THidInterfaceInfo {
    QString devicePath;                // what Open() takes (/dev/hidrawN)
    QString deviceInstance;            // the identity that scans compare (the sysfs path)
    QMap<QString, QString> properties; // descriptive properties, for diagnostics only
};

struct THidAttributes {
    std::uint16_t VendorID = 0;
    std::uint16_t ProductID = 0;
    std::uint16_t VersionNumber = 0;
};

enum class THidAccess {
    ReadWrite, // main handle: strings, feature reports
    QueryOnly, // attributes and strings only, for a device this user may not open
    Read,      // read handle of a reading thread
};

// An open device; closed when destroyed.
class IHidHandle {
  public:
    virtual ~IHidHandle() = default;
};

// The outcome of one wait for an input report.
struct THidReadResult {
    enum Kind {
        Completed, // a report arrived: `count` bytes, report ID first
        TimedOut,  // nothing within the wait
        Cancelled, // CancelRead() woke the wait
        Failed,    // the read could not be started: `error` is the errno value
    };
    Kind kind = TimedOut;
    int count = 0;
    std::uint32_t error = 0;
};

class IHidPlatform {
  public:
    virtual ~IHidPlatform() = default;

    // False when the platform's HID access is missing altogether: the
    // controller then keeps an empty list and receives no notices.
    virtual bool Available() const = 0;

    // The present HID interfaces, or nothing when the set cannot be listed.
    virtual std::optional<std::vector<THidInterfaceInfo>> ListInterfaces() = 0;

    // Opens a device; nullptr with `error` (an errno value) set on failure.
    virtual std::unique_ptr<IHidHandle> Open(const QString& devicePath, THidAccess access,
                                             int* error) = 0;

    virtual bool GetAttributes(IHidHandle& handle, THidAttributes* attributes) = 0;
    // Input report length in bytes, report ID byte included (0: no input reports).
    virtual bool GetInputReportLength(IHidHandle& handle, int* length) = 0;

    // Strings are copied into `buffer` (UTF-16, at most `bytes` bytes, NUL
    // terminated when there is room); false when the device has none.
    virtual bool GetProductString(IHidHandle& handle, char16_t* buffer, int bytes) = 0;
    virtual bool GetSerialNumberString(IHidHandle& handle, char16_t* buffer, int bytes) = 0;
    // Whether GetIndexedString(…, 0, …) can give the device's language list.
    // Linux reads the string descriptors itself and gives no such list.
    virtual bool HasLanguageList() const = 0;
    virtual bool GetIndexedString(IHidHandle& handle, int index, char16_t* buffer, int bytes) = 0;

    // Sends a feature report; the first byte is the report ID.
    virtual bool SetFeature(IHidHandle& handle, const std::uint8_t* data, int length) = 0;

    // Waits at most `timeoutMs` for one input report on a read handle and
    // copies it into `buffer`: report ID first (0 for devices whose reports
    // carry no ID), then the data, at most `length` bytes in all.
    virtual THidReadResult Read(IHidHandle& readHandle, std::uint8_t* buffer, int length,
                                int timeoutMs) = 0;
    // Wakes a Read() waiting on that handle (any thread).
    virtual void CancelRead(IHidHandle& readHandle) = 0;

    // Device-change notices: `onChange` runs on the user-interface thread,
    // once for a burst of changes.
    virtual void StartNotices(std::function<void()> onChange) = 0;
    virtual void StopNotices() = 0;

    // The operating system's text for an error code of Read() / Open().
    virtual QString ErrorText(std::uint32_t error) const = 0;
};

// The platform layer of this system (libudev and hidraw).
std::shared_ptr<IHidPlatform> MakeSystemHidPlatform();

} // namespace orvex
