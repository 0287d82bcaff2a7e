#include "link/HidDeviceController.h"

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <pthread.h>

namespace orvex {

namespace {

std::atomic<quint64> gNextDeviceId{1};
// The program's one controller.
std::atomic<THidDeviceController*> gController{nullptr};

// Reports of a device that reports no input length are read into a buffer of
// the largest full-speed report (64 bytes) plus the report ID.
constexpr int kFallbackReportLength = 65;

QString TextUpToNul(const char16_t* chars, int count) {
    int n = 0;
    while (n < count && chars[n] != 0)
        ++n;
    return QString::fromUtf16(chars, n);
}

} // namespace

// ---------------------------------------------------------------- THidDevice

THidDevice::THidDevice(THidDeviceController* controller, std::shared_ptr<IHidPlatform> platform,
                       THidPnPInfo info)
    : controller_(controller), platform_(std::move(platform)), pnpInfo_(std::move(info)),
      id_(gNextDeviceId++) {}

THidDevice::~THidDevice() {
    // Releasing: the reading stops, the handles close; then the controller puts
    // a fresh object in this one's list place (or drops the entry).
    SetDataHandler(nullptr);
    unplugHandler_ = nullptr;
    CloseHandles();
    if (controller_) controller_->DeviceReleased(this);
}

bool THidDevice::OpenMain() {
    if (!pluggedIn_ || !(lent_ || enumerating_)) return false;
    if (!main_) {
        int error = 0;
        main_ = platform_->Open(pnpInfo_.devicePath, THidAccess::ReadWrite, &error);
        readWriteAccess_ = main_ != nullptr;
        if (!main_) main_ = platform_->Open(pnpInfo_.devicePath, THidAccess::QueryOnly, &error);
    }
    return main_ != nullptr;
}

void THidDevice::CloseMain() {
    main_.reset();
}

void THidDevice::CloseHandles() {
    main_.reset();
    write_.reset();
    // The read handle belongs to the reading thread, which closes it itself.
    if (readThread_) readThread_->DeviceUnplugged();
}

int THidDevice::InputReportLength() {
    if (inputReportLength_ >= 0) return inputReportLength_;
    const bool wasOpen = MainOpen();
    if (!OpenMain()) return 0;
    int length = 0;
    if (platform_->GetInputReportLength(*main_, &length)) inputReportLength_ = length;
    if (!wasOpen) CloseMain();
    return std::max(inputReportLength_, 0);
}

QString THidDevice::ProductText() {
    if (productText_.isEmpty() && OpenMain()) {
        char16_t buffer[kStringChars] = {};
        if (platform_->GetProductString(*main_, buffer, int(sizeof buffer)))
            productText_ = TextUpToNul(buffer, kStringChars);
        CloseMain();
    }
    return productText_;
}

QString THidDevice::SerialText() {
    if (serialText_.isEmpty() && OpenMain()) {
        char16_t serial[kStringChars] = {};
        if (platform_->GetSerialNumberString(*main_, serial, int(sizeof serial))) {
            if (!platform_->HasLanguageList()) {
                // The layer reads the string descriptors itself and never
                // hands back the language list: the serial number is taken as it is.
                serialText_ = TextUpToNul(serial, kStringChars);
            } else {
                // A device that reports its list of language identifiers as its
                // serial number has no serial number.
                char16_t languages[kStringChars];
                std::fill(std::begin(languages), std::end(languages), char16_t(0xFFFF));
                platform_->GetIndexedString(*main_, 0, languages, int(sizeof languages));
                int n = 0;
                for (int i = kStringChars - 1; i >= 0; --i) {
                    if (languages[i] != 0xFFFF) {
                        n = languages[i] == 0 ? i : i + 1;
                        break;
                    }
                }
                for (int i = 0; i < n; ++i) {
                    if (serial[i] != languages[i]) {
                        serialText_ = TextUpToNul(serial, kStringChars);
                        break;
                    }
                }
            }
        }
        CloseMain();
    }
    return serialText_;
}

bool THidDevice::SendFeature(const std::uint8_t* buffer, int length) {
    if (!buffer || length <= 0 || !OpenMain()) return false;
    return platform_->SetFeature(*main_, buffer, length);
}

void THidDevice::SetDataHandler(THidDataEvent handler) {
    if (!handler) {
        // A handler called while the thread is being stopped asks for the same.
        if (!stoppingThread_) StopReadThread();
    }
    dataHandler_ = std::move(handler);
    StartReadThreadIfDue();
}

bool THidDevice::SetReadPause(int ms) {
    if (ms < kMinReadPause || ms > kMaxReadPause) return false;
    readPause_ = ms;
    if (readThread_) readThread_->SetReadPause(ms);
    return true;
}

void THidDevice::MarkUnplugged() {
    CloseHandles();
    pluggedIn_ = false;
    if (unplugHandler_) {
        const THidPlugEvent handler = std::move(unplugHandler_);
        unplugHandler_ = nullptr;
        handler(this); // may release this device: nothing touches it afterwards
    }
}

bool THidDevice::ReadThreadRunning() const {
    return readThread_ && !readThread_->Finished();
}

void THidDevice::StopReadThread() {
    if (!readThread_) return;
    if (readThread_->InHandOver()) {
        // Called from this device's own hand-over: the thread cannot be waited
        // for here; it ends once the hand-over returns and is reaped then.
        readThread_.release()->Abandon();
        return;
    }
    stoppingThread_ = true;
    readThread_->Terminate();
    readThread_->WaitFor();
    readThread_.reset();
    stoppingThread_ = false;
}

void THidDevice::StartReadThreadIfDue() {
    if (!dataHandler_ || !pluggedIn_ || !lent_ || !readWriteAccess_) return;
    if (readThread_ && readThread_->Finished()) {
        // A thread that ended on its own never blocks a new one.
        readThread_->WaitFor();
        readThread_.reset();
    }
    if (readThread_) return;
    int length = InputReportLength();
    if (length <= 0) length = kFallbackReportLength;
    readThread_ = std::make_unique<THidDeviceReadThread>(this, platform_, pnpInfo_.devicePath,
                                                         length, readPause_);
    readThread_->Start();
}

void THidDevice::DeliverReport(const std::uint8_t* buffer, int count) {
    if (!dataHandler_ || count <= 0) return;
    const THidDataEvent handler = dataHandler_; // the handler may replace itself
    handler(this, buffer[0], buffer + 1, static_cast<std::uint16_t>(count - 1));
}

void THidDevice::DeliverError(std::uint32_t error) {
    if (!dataErrorHandler_) return;
    const THidDataErrorEvent handler = dataErrorHandler_;
    handler(this, error);
}

void THidDevice::NoteHandlerFailure(const QString& what) {
    ++handlerFailures_;
    lastHandlerFailure_ = what;
}

// ------------------------------------------------------ THidDeviceReadThread

THidDeviceReadThread::THidDeviceReadThread(THidDevice* device,
                                           std::shared_ptr<IHidPlatform> platform,
                                           QString devicePath, int reportLength, int readPause)
    : device_(device), platform_(std::move(platform)), devicePath_(std::move(devicePath)),
      buffer_(static_cast<std::size_t>(std::max(reportLength, 1))), readPause_(readPause) {}

THidDeviceReadThread::~THidDeviceReadThread() {
    device_ = nullptr;
    Terminate();
    WaitFor();
}

void THidDeviceReadThread::Start() {
    if (thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        finished_ = false;
    }
    thread_ = std::thread([this] { Execute(); });
}

void THidDeviceReadThread::Terminate() {
    terminated_ = true;
    {
        std::lock_guard lock(readHandleMutex_);
        if (readHandle_) platform_->CancelRead(*readHandle_);
    }
    std::lock_guard lock(mutex_);
    cv_.notify_all();
}

void THidDeviceReadThread::DeviceUnplugged() {
    unplugged_ = true;
    std::lock_guard lock(readHandleMutex_);
    if (readHandle_) platform_->CancelRead(*readHandle_);
}

bool THidDeviceReadThread::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_ || !thread_.joinable();
}

void THidDeviceReadThread::Abandon() {
    device_ = nullptr;
    abandoned_ = true;
    Terminate();
}

void THidDeviceReadThread::WaitFor() {
    for (;;) {
        std::unique_lock lock(mutex_);
        if (finished_ || !thread_.joinable()) break;
        if (!served_ && pending_ != Pending::None && !serving_) {
            lock.unlock();
            Serve();
            continue;
        }
        cv_.wait(lock, [this] {
            return finished_ || (!served_ && pending_ != Pending::None && !serving_);
        });
    }
    if (thread_.joinable()) thread_.join();
}

void THidDeviceReadThread::Serve() {
    Pending kind;
    {
        std::lock_guard lock(mutex_);
        if (served_ || pending_ == Pending::None || serving_) return;
        kind = pending_;
        serving_ = true;
    }
    // Once the thread is told to end, a report it still hands over is not
    // delivered any more: the holder has asked to stop reading.
    if (device_ && !terminated_) {
        try {
            if (kind == Pending::Report)
                device_->DeliverReport(buffer_.data(), lastCount_);
            else
                device_->DeliverError(lastError_);
        } catch (const std::exception& e) {
            if (device_) device_->NoteHandlerFailure(QString::fromUtf8(e.what()));
        } catch (...) {
            if (device_) device_->NoteHandlerFailure(QStringLiteral("unknown exception"));
        }
    }
    {
        std::lock_guard lock(mutex_);
        serving_ = false;
        served_ = true;
    }
    cv_.notify_all();
    // Deleted from the event loop that called this hand-over, once it is over.
    if (abandoned_) deleteLater();
}

void THidDeviceReadThread::HandOver(Pending kind) {
    {
        std::lock_guard lock(mutex_);
        pending_ = kind;
        served_ = false;
    }
    cv_.notify_all();
    QMetaObject::invokeMethod(
        this, [this] { Serve(); }, Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return served_; });
    pending_ = Pending::None;
}

void THidDeviceReadThread::Pause(int ms) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
}

void THidDeviceReadThread::Execute() {
    pthread_setname_np(pthread_self(), "hid-read");
    try {
        while (!terminated_) {
            std::fill(buffer_.begin(), buffer_.end(), std::uint8_t(0));
            if (!readHandle_) {
                int error = ENODEV;
                std::unique_ptr<IHidHandle> handle;
                if (!unplugged_) handle = platform_->Open(devicePath_, THidAccess::Read, &error);
                if (!handle) {
                    lastError_ = static_cast<std::uint32_t>(error ? error : EIO);
                    HandOver(Pending::Error);
                    // Not at once again: the thread waits for the read pause
                    // rather than spinning on a device that is gone.
                    Pause(readPause_);
                    continue;
                }
                std::lock_guard lock(readHandleMutex_);
                readHandle_ = std::move(handle);
            }
            THidReadResult r;
            do {
                if (terminated_ || unplugged_) break;
                r = platform_->Read(*readHandle_, buffer_.data(), static_cast<int>(buffer_.size()),
                                    readPause_);
            } while (r.kind == THidReadResult::TimedOut);
            if (terminated_) break;
            if (unplugged_) {
                std::lock_guard lock(readHandleMutex_);
                readHandle_.reset();
                continue;
            }
            if (r.kind == THidReadResult::Cancelled) continue;
            if (r.kind == THidReadResult::Failed) {
                lastError_ = r.error;
                HandOver(Pending::Error);
                Pause(readPause_);
                continue;
            }
            lastCount_ = r.count;
            if (r.count > 0) HandOver(Pending::Report);
        }
    } catch (...) {
        // A platform failure ends the thread; the device starts a new one when asked.
    }
    {
        std::lock_guard lock(readHandleMutex_);
        readHandle_.reset();
    }
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    cv_.notify_all();
}

// ------------------------------------------------------ THidDeviceController

THidDeviceController::THidDeviceController(std::shared_ptr<IHidPlatform> platform, QObject* parent)
    : QObject(parent) {
    THidDeviceController* none = nullptr;
    if (!gController.compare_exchange_strong(none, this))
        throw EHidControllerError(kHidErrorOnlyOneController);
    setObjectName(QStringLiteral("HidCtl"));
    try {
        platform_ = platform ? std::move(platform) : MakeSystemHidPlatform();
        for (THidDevicePtr& d : ScanDevices())
            list_.push_back(d.release());
        Recount();
        if (platform_->Available())
            platform_->StartNotices([this] {
                // Notices come from the event loop: a handler's failure must
                // not cross it.
                try {
                    HandleDeviceChange();
                } catch (const std::exception& e) {
                    qWarning("HID device change: %s", e.what());
                } catch (...) {
                    qWarning("HID device change: unknown exception");
                }
            });
    } catch (...) {
        for (THidDevice* d : list_) {
            d->controller_ = nullptr;
            delete d;
        }
        gController = nullptr;
        throw;
    }
}

THidDeviceController::~THidDeviceController() {
    platform_->StopNotices();
    const std::vector<THidDevice*> devices = list_;
    for (THidDevice* d : devices) {
        const quint64 id = d->id_;
        if (IndexOf(d, id) < 0) continue; // released by a handler meanwhile
        if (d->lent_) {
            // The holder keeps it, marked unplugged, without a reading thread.
            d->MarkUnplugged();
            if (IndexOf(d, id) < 0) continue;
            d->StopReadThread();
            d->controller_ = nullptr;
            list_.erase(std::find(list_.begin(), list_.end(), d));
        } else {
            list_.erase(std::find(list_.begin(), list_.end(), d));
            d->controller_ = nullptr;
            delete d;
        }
    }
    list_.clear();
    gController = nullptr;
}

void THidDeviceController::SetDevThreadSleepTime(int ms) {
    const int previous = devThreadSleepTime_;
    for (THidDevice* d : list_)
        if (d->readPause_ == previous) d->SetReadPause(ms);
    devThreadSleepTime_ = ms;
}

void THidDeviceController::SetOnDeviceChange(TNotifyEvent handler) {
    if (handler == onDeviceChange_) return;
    onDeviceChange_ = std::move(handler);
    HandleDeviceChange();
    changeReported_ = true;
}

void THidDeviceController::SetOnDeviceData(THidDataEvent handler) {
    const std::vector<THidDevice*> devices = list_;
    for (THidDevice* d : devices)
        if (d->dataHandler_ == onDeviceData_) d->SetDataHandler(handler);
    onDeviceData_ = std::move(handler);
}

void THidDeviceController::SetOnDeviceDataError(THidDataErrorEvent handler) {
    for (THidDevice* d : list_)
        if (d->dataErrorHandler_ == onDeviceDataError_) d->dataErrorHandler_ = handler;
    onDeviceDataError_ = std::move(handler);
}

void THidDeviceController::SetOnDeviceUnplug(THidPlugEvent handler) {
    for (THidDevice* d : list_)
        if (d->unplugHandler_ == onDeviceUnplug_) d->unplugHandler_ = handler;
    onDeviceUnplug_ = std::move(handler);
}

THidDevice* THidDeviceController::Device(int Idx) const {
    if (Idx < 0 || Idx >= Count()) return nullptr;
    return list_[static_cast<std::size_t>(Idx)];
}

int THidDeviceController::IndexOf(const THidDevice* device, quint64 id) const {
    for (std::size_t i = 0; i < list_.size(); ++i)
        if (list_[i] == device && list_[i]->id_ == id) return static_cast<int>(i);
    return -1;
}

template <typename Fn> void THidDeviceController::WhileEnumerating(THidDevice* device, Fn&& fn) {
    const quint64 id = device->id_;
    device->enumerating_ = true;
    fn();
    if (IndexOf(device, id) >= 0) device->enumerating_ = false;
}

void THidDeviceController::Recount() {
    lentCount_ = notLentCount_ = unpluggedCount_ = 0;
    for (const THidDevice* d : list_) {
        (d->lent_ ? lentCount_ : notLentCount_)++;
        if (!d->pluggedIn_) ++unpluggedCount_;
    }
}

THidDevicePtr THidDeviceController::CreateDevice(const THidInterfaceInfo& info) {
    THidDevicePtr d(new THidDevice(
        this, platform_, THidPnPInfo{info.devicePath, info.deviceInstance, info.properties}));
    int error = 0;
    std::unique_ptr<IHidHandle> handle =
        platform_->Open(info.devicePath, THidAccess::ReadWrite, &error);
    d->readWriteAccess_ = handle != nullptr;
    if (!handle) handle = platform_->Open(info.devicePath, THidAccess::QueryOnly, &error);
    if (!handle) throw EHidControllerError(kHidErrorCannotOpen);
    if (!platform_->GetAttributes(*handle, &d->attributes_))
        throw EHidControllerError(kHidErrorCannotIdentify);
    handle.reset();
    d->dataHandler_ = onDeviceData_;
    d->unplugHandler_ = onDeviceUnplug_;
    // Every device object gets the data-error handler, not only those listed
    // when it was assigned, so that a read failure is never reported to nobody.
    d->dataErrorHandler_ = onDeviceDataError_;
    d->SetReadPause(devThreadSleepTime_);
    return d;
}

std::vector<THidDevicePtr> THidDeviceController::ScanDevices() {
    std::vector<THidDevicePtr> devices;
    if (!platform_->Available()) return devices;
    const auto interfaces = platform_->ListInterfaces();
    if (!interfaces) return devices;
    for (const THidInterfaceInfo& info : *interfaces) {
        if (info.devicePath.isEmpty()) continue;
        try {
            devices.push_back(CreateDevice(info));
        } catch (const EHidControllerError&) {
            // Left out of the scan.
        }
    }
    return devices;
}

int THidDeviceController::ListDevices() {
    int visited = 0;
    for (std::size_t i = 0; i < list_.size(); ++i) {
        THidDevice* d = list_[i];
        if (!d->pluggedIn_) continue;
        ++visited;
        if (!onEnumerate_) break;
        const quint64 id = d->id_;
        bool goOn = true;
        const THidEnumerateEvent handler = onEnumerate_;
        WhileEnumerating(d, [&] { goOn = handler(d, static_cast<int>(i)); });
        if (IndexOf(d, id) >= 0 && !d->lent_) d->CloseHandles();
        if (!goOn) break;
    }
    return visited;
}

bool THidDeviceController::LendDevice(int Idx, THidDevicePtr& HidDev) {
    if (Idx < 0 || Idx >= Count() || list_[static_cast<std::size_t>(Idx)]->lent_) {
        HidDev = nullptr;
        return false;
    }
    THidDevice* d = list_[static_cast<std::size_t>(Idx)];
    d->lent_ = true;
    Recount();
    HidDev.reset(d);
    d->StartReadThreadIfDue();
    return true;
}

void THidDeviceController::DeviceReleased(THidDevice* device) {
    const int index = IndexOf(device, device->id_);
    if (index < 0) return;
    if (device->pluggedIn_) {
        // A fresh, not lent object for the same device takes the list place.
        THidDevicePtr fresh(new THidDevice(this, platform_, device->pnpInfo_));
        fresh->attributes_ = device->attributes_;
        int error = 0;
        fresh->readWriteAccess_ =
            platform_->Open(device->pnpInfo_.devicePath, THidAccess::ReadWrite, &error) != nullptr;
        fresh->dataHandler_ = device->dataHandler_;
        fresh->unplugHandler_ = device->unplugHandler_;
        fresh->dataErrorHandler_ = device->dataErrorHandler_;
        fresh->readPause_ = device->readPause_;
        list_[static_cast<std::size_t>(index)] = fresh.release();
    } else {
        list_.erase(list_.begin() + index);
    }
    Recount();
}

void THidDeviceController::HandleDeviceChange() {
    if (inDeviceChange_) {
        // A notice during a handler's nested event loop: examined afterwards.
        changePending_ = true;
        return;
    }
    inDeviceChange_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inDeviceChange_};
    do {
        changePending_ = false;
        std::vector<THidDevicePtr> fresh = ScanDevices();
        bool changed = false;
        auto present = [&](const QString& instance) {
            return std::any_of(fresh.begin(), fresh.end(), [&](const THidDevicePtr& f) {
                return f->pnpInfo_.deviceInstance == instance;
            });
        };
        // Removals, from the last to the first.
        for (int i = Count() - 1; i >= 0; --i) {
            if (i >= Count()) continue;
            THidDevice* d = list_[static_cast<std::size_t>(i)];
            if (d->pluggedIn_ && present(d->pnpInfo_.deviceInstance)) continue;
            const quint64 id = d->id_;
            changed = true;
            d->MarkUnplugged();
            if (IndexOf(d, id) < 0) continue; // the unplug handler released it
            const THidPlugEvent handler = onRemoval_;
            if (handler) WhileEnumerating(d, [&] { handler(d); });
            const int at = IndexOf(d, id);
            if (at >= 0 && !d->lent_) {
                list_.erase(list_.begin() + at);
                d->controller_ = nullptr;
                delete d;
            }
        }
        // Arrivals: the new devices not listed yet (plugged in).
        for (THidDevicePtr& f : fresh) {
            const bool listed = std::any_of(list_.begin(), list_.end(), [&](const THidDevice* d) {
                return d->pluggedIn_ && d->pnpInfo_.deviceInstance == f->pnpInfo_.deviceInstance;
            });
            if (listed) {
                f.reset();
                continue;
            }
            THidDevice* d = f.release();
            list_.push_back(d);
            changed = true;
            const THidPlugEvent handler = onArrival_;
            if (handler) WhileEnumerating(d, [&] { handler(d); });
        }
        Recount();
        if (changed || !changeReported_) {
            const TNotifyEvent handler = onDeviceChange_;
            if (handler) handler(this);
        }
    } while (changePending_);
}

} // namespace orvex
