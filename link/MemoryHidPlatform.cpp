#include "link/MemoryHidPlatform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace orvex {

class TMemoryHidPlatform::Handle : public IHidHandle {
  public:
    Handle(TMemoryHidPlatform* owner, QString path, THidAccess access)
        : owner(owner), path(std::move(path)), access(access) {}
    ~Handle() override {
        std::lock_guard lock(owner->mutex_);
        --owner->openHandles_[{path, int(access)}];
    }
    TMemoryHidPlatform* owner;
    QString path;
    THidAccess access;
    bool cancelled = false; // guarded by the owner's mutex
};

TMemoryHidPlatform::Device* TMemoryHidPlatform::Find(const QString& devicePath) {
    for (Device& d : devices_)
        if (d.present && d.spec.devicePath == devicePath) return &d;
    return nullptr;
}

const TMemoryHidPlatform::Device* TMemoryHidPlatform::Find(const QString& devicePath) const {
    return const_cast<TMemoryHidPlatform*>(this)->Find(devicePath);
}

void TMemoryHidPlatform::AddDevice(const TMemoryHidDeviceSpec& spec) {
    std::lock_guard lock(mutex_);
    Device d;
    d.spec = spec;
    devices_.push_back(std::move(d));
}

void TMemoryHidPlatform::RemoveDevice(const QString& devicePath) {
    {
        std::lock_guard lock(mutex_);
        if (Device* d = Find(devicePath)) {
            d->present = false;
            d->reports.clear();
        }
        devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                      [](const Device& d) { return !d.present; }),
                       devices_.end());
    }
    cv_.notify_all();
}

void TMemoryHidPlatform::NotifyChange() {
    if (onChange_) {
        const std::function<void()> handler = onChange_;
        handler();
    }
}

void TMemoryHidPlatform::PushReport(const QString& devicePath, std::vector<std::uint8_t> report) {
    {
        std::lock_guard lock(mutex_);
        if (Device* d = Find(devicePath)) d->reports.push_back(std::move(report));
    }
    cv_.notify_all();
}

void TMemoryHidPlatform::SetReadFailure(const QString& devicePath, std::uint32_t error) {
    {
        std::lock_guard lock(mutex_);
        if (Device* d = Find(devicePath)) d->readFailure = error;
    }
    cv_.notify_all();
}

std::vector<std::vector<std::uint8_t>>
TMemoryHidPlatform::Features(const QString& devicePath) const {
    std::lock_guard lock(mutex_);
    const Device* d = Find(devicePath);
    return d ? d->features : std::vector<std::vector<std::uint8_t>>{};
}

int TMemoryHidPlatform::QueuedReports(const QString& devicePath) const {
    std::lock_guard lock(mutex_);
    const Device* d = Find(devicePath);
    return d ? static_cast<int>(d->reports.size()) : 0;
}

int TMemoryHidPlatform::OpenHandles(const QString& devicePath, THidAccess access) const {
    std::lock_guard lock(mutex_);
    auto it = openHandles_.find({devicePath, int(access)});
    return it == openHandles_.end() ? 0 : it->second;
}

int TMemoryHidPlatform::ReadCalls() const {
    std::lock_guard lock(mutex_);
    return readCalls_;
}

std::optional<std::vector<THidInterfaceInfo>> TMemoryHidPlatform::ListInterfaces() {
    std::lock_guard lock(mutex_);
    if (listFails) return std::nullopt;
    std::vector<THidInterfaceInfo> list;
    for (const Device& d : devices_)
        if (d.present) list.push_back({d.spec.devicePath, d.spec.deviceInstance, {}});
    return list;
}

std::unique_ptr<IHidHandle> TMemoryHidPlatform::Open(const QString& devicePath, THidAccess access,
                                                     int* error) {
    std::lock_guard lock(mutex_);
    const Device* d = Find(devicePath);
    int e = 0;
    if (!d)
        e = ENOENT;
    else if (!d->spec.openable || (access != THidAccess::QueryOnly && !d->spec.readWrite))
        e = EACCES;
    if (e) {
        if (error) *error = e;
        return nullptr;
    }
    ++openHandles_[{devicePath, int(access)}];
    return std::make_unique<Handle>(this, devicePath, access);
}

bool TMemoryHidPlatform::GetAttributes(IHidHandle& handle, THidAttributes* attributes) {
    std::lock_guard lock(mutex_);
    const Device* d = Find(static_cast<Handle&>(handle).path);
    if (!d || !d->spec.identifiable) return false;
    *attributes = d->spec.attributes;
    return true;
}

bool TMemoryHidPlatform::GetInputReportLength(IHidHandle& handle, int* length) {
    std::lock_guard lock(mutex_);
    const Device* d = Find(static_cast<Handle&>(handle).path);
    if (!d) return false;
    *length = d->spec.inputReportLength;
    return true;
}

bool TMemoryHidPlatform::CopyString(const std::u16string& text, char16_t* buffer, int bytes) {
    const int room = bytes / int(sizeof(char16_t));
    if (room <= 0) return false;
    const int n = std::min(int(text.size()), room);
    std::copy(text.begin(), text.begin() + n, buffer);
    if (n < room) buffer[n] = 0;
    return true;
}

bool TMemoryHidPlatform::GetProductString(IHidHandle& handle, char16_t* buffer, int bytes) {
    std::lock_guard lock(mutex_);
    const Device* d = Find(static_cast<Handle&>(handle).path);
    if (!d || d->spec.product.empty()) return false;
    return CopyString(d->spec.product, buffer, bytes);
}

bool TMemoryHidPlatform::GetSerialNumberString(IHidHandle& handle, char16_t* buffer, int bytes) {
    std::lock_guard lock(mutex_);
    const Device* d = Find(static_cast<Handle&>(handle).path);
    if (!d || d->spec.serial.empty()) return false;
    return CopyString(d->spec.serial, buffer, bytes);
}

bool TMemoryHidPlatform::GetIndexedString(IHidHandle& handle, int index, char16_t* buffer,
                                          int bytes) {
    std::lock_guard lock(mutex_);
    const Device* d = Find(static_cast<Handle&>(handle).path);
    if (!d || index != 0 || !hasLanguageList_) return false;
    // A string descriptor copy carries no terminating NUL of its own.
    const int room = bytes / int(sizeof(char16_t));
    const int n = std::min(int(d->spec.languages.size()), room);
    std::copy(d->spec.languages.begin(), d->spec.languages.begin() + n, buffer);
    return true;
}

bool TMemoryHidPlatform::SetFeature(IHidHandle& handle, const std::uint8_t* data, int length) {
    std::lock_guard lock(mutex_);
    auto& h = static_cast<Handle&>(handle);
    Device* d = Find(h.path);
    if (!d || h.access != THidAccess::ReadWrite) return false;
    d->features.emplace_back(data, data + length);
    return true;
}

THidReadResult TMemoryHidPlatform::Read(IHidHandle& readHandle, std::uint8_t* buffer, int length,
                                        int timeoutMs) {
    auto& h = static_cast<Handle&>(readHandle);
    std::unique_lock lock(mutex_);
    ++readCalls_;
    auto ready = [&] {
        const Device* d = Find(h.path);
        return h.cancelled || !d || d->readFailure != 0 || !d->reports.empty();
    };
    if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) return {};
    if (h.cancelled) {
        h.cancelled = false;
        return {THidReadResult::Cancelled, 0, 0};
    }
    Device* d = Find(h.path);
    if (!d) return {THidReadResult::Failed, 0, ENODEV};
    if (d->readFailure) return {THidReadResult::Failed, 0, d->readFailure};
    std::vector<std::uint8_t> report = std::move(d->reports.front());
    d->reports.pop_front();
    const int n = std::min(int(report.size()), length);
    std::copy(report.begin(), report.begin() + n, buffer);
    return {THidReadResult::Completed, n, 0};
}

void TMemoryHidPlatform::CancelRead(IHidHandle& readHandle) {
    {
        std::lock_guard lock(mutex_);
        static_cast<Handle&>(readHandle).cancelled = true;
    }
    cv_.notify_all();
}

QString TMemoryHidPlatform::ErrorText(std::uint32_t error) const {
    return QString::fromLocal8Bit(std::strerror(static_cast<int>(error)));
}

} // namespace orvex
