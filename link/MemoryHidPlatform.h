#pragma once
// A HID platform layer over simulated devices held in memory, for the tests
// and benchmarks of the controller and the cable link (this machine has no HID
// devices).  Devices are plugged and unplugged by the test; input reports are
// queued per device and handed to the reading threads in order.

#include "link/HidPlatform.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace orvex {

struct TMemoryHidDeviceSpec {
    QString devicePath;
    QString deviceInstance;
    THidAttributes attributes;
    std::u16string product;               // empty: the device has no product string
    std::u16string serial;                // empty: no serial number string
    std::u16string languages = u"\u0409"; // string index 0: the language list
    bool readWrite = true;                // may be opened for reading and writing
    bool openable = true;                 // may be opened at all (query-only)
    bool identifiable = true;             // attributes can be read
    int inputReportLength = 9;
};

class TMemoryHidPlatform : public IHidPlatform {
  public:
    explicit TMemoryHidPlatform(bool hasLanguageList = true) : hasLanguageList_(hasLanguageList) {}

    // Plugging (the change is noticed at the next NotifyChange()).
    void AddDevice(const TMemoryHidDeviceSpec& spec);
    void RemoveDevice(const QString& devicePath);
    // Runs the notice handler as the operating system's notice would.
    void NotifyChange();
    bool noticesStarted() const { return static_cast<bool>(onChange_); }

    // Queues an input report (report ID first) for the device's readers.
    void PushReport(const QString& devicePath, std::vector<std::uint8_t> report);
    // From now on reads of the device fail with `error` (0: they work again).
    void SetReadFailure(const QString& devicePath, std::uint32_t error);
    // Feature reports the device received, in order.
    std::vector<std::vector<std::uint8_t>> Features(const QString& devicePath) const;
    int QueuedReports(const QString& devicePath) const;
    int OpenHandles(const QString& devicePath, THidAccess access) const;
    int ReadCalls() const;

    bool available = true;
    bool listFails = false;

    // IHidPlatform
    bool Available() const override { return available; }
    std::optional<std::vector<THidInterfaceInfo>> ListInterfaces() override;
    std::unique_ptr<IHidHandle> Open(const QString& devicePath, THidAccess access,
                                     int* error) override;
    bool GetAttributes(IHidHandle& handle, THidAttributes* attributes) override;
    bool GetInputReportLength(IHidHandle& handle, int* length) override;
    bool GetProductString(IHidHandle& handle, char16_t* buffer, int bytes) override;
    bool GetSerialNumberString(IHidHandle& handle, char16_t* buffer, int bytes) override;
    bool HasLanguageList() const override { return hasLanguageList_; }
    bool GetIndexedString(IHidHandle& handle, int index, char16_t* buffer, int bytes) override;
    bool SetFeature(IHidHandle& handle, const std::uint8_t* data, int length) override;
    THidReadResult Read(IHidHandle& readHandle, std::uint8_t* buffer, int length,
                        int timeoutMs) override;
    void CancelRead(IHidHandle& readHandle) override;
    void StartNotices(std::function<void()> onChange) override { onChange_ = std::move(onChange); }
    void StopNotices() override { onChange_ = nullptr; }
    QString ErrorText(std::uint32_t error) const override;

  private:
    struct Device {
        TMemoryHidDeviceSpec spec;
        bool present = true;
        std::deque<std::vector<std::uint8_t>> reports;
        std::vector<std::vector<std::uint8_t>> features;
        std::uint32_t readFailure = 0;
    };
    class Handle;
    Device* Find(const QString& devicePath);
    const Device* Find(const QString& devicePath) const;
    static bool CopyString(const std::u16string& text, char16_t* buffer, int bytes);

    bool hasLanguageList_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Device> devices_; // in scan order
    std::map<std::pair<QString, int>, int> openHandles_;
    int readCalls_ = 0;
    std::function<void()> onChange_;
};

} // namespace orvex
