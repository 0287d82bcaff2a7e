#pragma once
// THidDeviceController: the list of HID devices present, device-change events,
// lending device objects, and one reading thread per lent device with a data
// handler.  It runs on an IHidPlatform (HidPlatform.h).
//
// Ownership: the controller owns the device objects of its list until it lends
// one (LendDevice); the holder then owns it through a THidDevicePtr and gives
// it back by destroying it ("releasing").  A released device that is still
// plugged in is replaced in the list by a fresh, not lent object.
//
// Threads: everything runs on the user-interface thread except the reading
// threads.  A reading thread hands every input report (and every read that
// could not be started) over to the user-interface thread and waits until the
// handler has returned.  Stopping a thread from the user-interface thread keeps
// serving such a hand-over, so neither side waits for the other for ever.  A
// handler that throws does not end the thread: the failure is counted
// (THidDevice::HandlerFailures) and reading goes on with the next report.

#include "link/HidPlatform.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace orvex {

class THidDevice;
class THidDeviceController;

// The controller's own failures.
class EHidControllerError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
inline constexpr const char* kHidErrorCannotOpen = "device cannot be opened";
inline constexpr const char* kHidErrorCannotIdentify = "device cannot be identified";
inline constexpr const char* kHidErrorOnlyOneController =
    "Only one THidDeviceController allowed per program";

// An event handler bound to an object.  Copies of one handler compare equal;
// handlers made separately never do (two unassigned handlers are equal).
template <typename Sig> class THidEvent;
template <typename R, typename... Args> class THidEvent<R(Args...)> {
  public:
    THidEvent() = default;
    THidEvent(std::nullptr_t) {}
    template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, THidEvent> &&
                                                      std::is_invocable_r_v<R, F, Args...>>>
    THidEvent(F&& f) : fn_(std::make_shared<const std::function<R(Args...)>>(std::forward<F>(f))) {}

    explicit operator bool() const { return fn_ && *fn_; }
    R operator()(Args... args) const { return (*fn_)(std::forward<Args>(args)...); }
    bool operator==(const THidEvent& other) const { return fn_ == other.fn_; }

  private:
    std::shared_ptr<const std::function<R(Args...)>> fn_;
};

using THidPlugEvent = THidEvent<void(THidDevice* HidDev)>;
using THidEnumerateEvent = THidEvent<bool(THidDevice* HidDev, int Idx)>;
using TNotifyEvent = THidEvent<void(QObject* Sender)>;
// Data: the bytes after the report ID; valid until the handler returns.
using THidDataEvent = THidEvent<void(THidDevice* HidDev, std::uint8_t ReportID,
                                     const std::uint8_t* Data, std::uint16_t Size)>;
using THidDataErrorEvent = THidEvent<void(THidDevice* HidDev, std::uint32_t Error)>;

// The identity of a device interface.
struct THidPnPInfo {
    QString devicePath;
    QString deviceInstance;
    QMap<QString, QString> properties; // descriptive only; never read by the program
};

// Deleting a device object is releasing it (giving it back to its controller).
using THidDevicePtr = std::unique_ptr<THidDevice>;

class THidDeviceReadThread;

class THidDevice {
  public:
    static constexpr int kMinReadPause = 10;
    static constexpr int kMaxReadPause = 10000;
    static constexpr int kDefaultReadPause = 100;
    // Wide characters of a string buffer (254, 508 bytes).
    static constexpr int kStringChars = 254;

    ~THidDevice();
    THidDevice(const THidDevice&) = delete;
    THidDevice& operator=(const THidDevice&) = delete;

    const THidPnPInfo& pnpInfo() const { return pnpInfo_; }
    bool pluggedIn() const { return pluggedIn_; }
    bool lent() const { return lent_; }
    bool enumerating() const { return enumerating_; }
    bool readWriteAccess() const { return readWriteAccess_; }
    std::uint16_t VendorID() const { return attributes_.VendorID; }
    std::uint16_t ProductID() const { return attributes_.ProductID; }
    std::uint16_t VersionNumber() const { return attributes_.VersionNumber; }
    THidDeviceController* controller() const { return controller_; }

    // Opens the main handle (read-write, else query-only); only while plugged
    // in and lent or being enumerated.  True when a main handle is open.
    bool OpenMain();
    void CloseMain();
    bool MainOpen() const { return main_ != nullptr; }

    // Input report length (report ID included) from the device's parsing data; 0 when unknown.
    int InputReportLength();

    // Cached strings; read when empty and the main handle can be opened.
    QString ProductText();
    QString SerialText();

    // Sends a feature report (first byte: report ID); the main handle stays open.
    bool SendFeature(const std::uint8_t* buffer, int length);

    // None stops the reading thread (serving a hand-over it waits on).  An
    // assigned handler starts one when the device is plugged in, lent, has
    // read-write access and none runs.
    void SetDataHandler(THidDataEvent handler);
    const THidDataEvent& dataHandler() const { return dataHandler_; }
    void SetDataErrorHandler(THidDataErrorEvent handler) { dataErrorHandler_ = std::move(handler); }
    const THidDataErrorEvent& dataErrorHandler() const { return dataErrorHandler_; }
    void SetUnplugHandler(THidPlugEvent handler) { unplugHandler_ = std::move(handler); }
    const THidPlugEvent& unplugHandler() const { return unplugHandler_; }

    int readPause() const { return readPause_; }
    // Accepted only within 10 .. 10000 ms; false (and unchanged) otherwise.
    bool SetReadPause(int ms);

    // Closes the handles, pluggedIn := false, calls the unplug handler once.
    void MarkUnplugged();

    bool ReadThreadRunning() const;
    // Handler calls that ended in an exception, and the last one's text.
    int HandlerFailures() const { return handlerFailures_; }
    const QString& LastHandlerFailure() const { return lastHandlerFailure_; }

  private:
    friend class THidDeviceController;
    friend class THidDeviceReadThread;
    THidDevice(THidDeviceController* controller, std::shared_ptr<IHidPlatform> platform,
               THidPnPInfo info);

    void StopReadThread();
    void StartReadThreadIfDue();
    void CloseHandles();
    // Runs on the user-interface thread for each hand-over of the reading thread.
    void DeliverReport(const std::uint8_t* buffer, int count);
    void DeliverError(std::uint32_t error);
    void NoteHandlerFailure(const QString& what);

    THidDeviceController* controller_;
    std::shared_ptr<IHidPlatform> platform_;
    THidPnPInfo pnpInfo_;
    const quint64 id_; // tells a live list entry from a later object at the same address
    bool pluggedIn_ = true;
    bool lent_ = false;
    bool enumerating_ = false;
    bool readWriteAccess_ = false;
    THidAttributes attributes_;
    int inputReportLength_ = -1; // -1: not read yet
    QString productText_, serialText_;
    int readPause_ = kDefaultReadPause;
    THidDataEvent dataHandler_;
    THidDataErrorEvent dataErrorHandler_;
    THidPlugEvent unplugHandler_;
    std::unique_ptr<IHidHandle> main_;
    std::unique_ptr<IHidHandle> write_; // never opened by the program
    std::unique_ptr<THidDeviceReadThread> readThread_;
    bool stoppingThread_ = false;
    int handlerFailures_ = 0;
    QString lastHandlerFailure_;
};

// One reading thread: reads input reports of its device and hands each over
// to the user-interface thread.  The read handle belongs to the thread.
class THidDeviceReadThread : public QObject {
    Q_OBJECT
  public:
    THidDeviceReadThread(THidDevice* device, std::shared_ptr<IHidPlatform> platform,
                         QString devicePath, int reportLength, int readPause);
    ~THidDeviceReadThread() override; // tells the thread to end and waits for it

    void Start();
    // Tells the thread to end (any thread); it ends at its next look, at once
    // when it waits for a report.
    void Terminate();
    // Waits for the end, serving a hand-over the thread waits on.  Not from
    // within this thread's own hand-over (see Abandon).
    void WaitFor();
    // Called from within this thread's own hand-over: the thread is told to
    // end, calls no handler any more and deletes itself once the hand-over
    // returns (not before: the handler may still be running a message box's
    // event loop, which would otherwise delete it under its own hand-over).
    void Abandon();
    bool Finished() const;
    bool InHandOver() const { return serving_; }

    void SetReadPause(int ms) { readPause_ = ms; }
    // The device was unplugged: the thread closes its read handle and reports
    // the failure to open it again (paced by the read pause).
    void DeviceUnplugged();

    // The count of the last completed read and the last error code.
    int lastCount() const { return lastCount_; }
    std::uint32_t lastError() const { return lastError_; }

  private:
    enum class Pending { None, Report, Error };
    void Execute();
    // Reading thread: posts a hand-over and waits until it has been served.
    void HandOver(Pending kind);
    // User-interface thread: serves the pending hand-over, if any.
    void Serve();
    // Reading thread: waits up to ms, or until told to end.
    void Pause(int ms);

    THidDevice* device_;     // user-interface thread only; nullptr once abandoned
    bool abandoned_ = false; // user-interface thread only
    std::shared_ptr<IHidPlatform> platform_;
    QString devicePath_;
    std::vector<std::uint8_t> buffer_;
    std::atomic<int> readPause_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> unplugged_{false};
    std::atomic<int> lastCount_{0};
    std::atomic<std::uint32_t> lastError_{0};
    std::unique_ptr<IHidHandle> readHandle_;
    std::mutex readHandleMutex_; // guards readHandle_ against CancelRead from other threads

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    Pending pending_ = Pending::None;
    bool served_ = true;
    bool finished_ = false;
    bool serving_ = false;
    std::thread thread_;
};

class THidDeviceController : public QObject {
    Q_OBJECT
    Q_PROPERTY(int DevThreadSleepTime READ DevThreadSleepTime WRITE SetDevThreadSleepTime)
    Q_PROPERTY(QString Version READ Version STORED false)

  public:
    static inline const QString kVersion = QStringLiteral("1.0.22");

    // Raises EHidControllerError when a controller already exists in the program.
    // Without a platform it uses the system's (MakeSystemHidPlatform).
    explicit THidDeviceController(std::shared_ptr<IHidPlatform> platform = nullptr,
                                  QObject* parent = nullptr);
    ~THidDeviceController() override;

    int DevThreadSleepTime() const { return devThreadSleepTime_; }
    void SetDevThreadSleepTime(int ms);
    QString Version() const { return kVersion; }

    const THidPlugEvent& OnArrival() const { return onArrival_; }
    void SetOnArrival(THidPlugEvent handler) { onArrival_ = std::move(handler); }
    const THidEnumerateEvent& OnEnumerate() const { return onEnumerate_; }
    void SetOnEnumerate(THidEnumerateEvent handler) { onEnumerate_ = std::move(handler); }
    const TNotifyEvent& OnDeviceChange() const { return onDeviceChange_; }
    // A different handler is stored and HandleDeviceChange runs at once; the
    // first assignment therefore always reports a change.
    void SetOnDeviceChange(TNotifyEvent handler);
    const THidDataEvent& OnDeviceData() const { return onDeviceData_; }
    void SetOnDeviceData(THidDataEvent handler);
    const THidDataErrorEvent& OnDeviceDataError() const { return onDeviceDataError_; }
    void SetOnDeviceDataError(THidDataErrorEvent handler);
    const THidPlugEvent& OnDeviceUnplug() const { return onDeviceUnplug_; }
    void SetOnDeviceUnplug(THidPlugEvent handler);
    const THidPlugEvent& OnRemoval() const { return onRemoval_; }
    void SetOnRemoval(THidPlugEvent handler) { onRemoval_ = std::move(handler); }

    // Calls OnEnumerate for each plugged-in listed device until it returns
    // false; returns how many were visited.
    int ListDevices();
    // Lends the device at Idx; false (HidDev empty) outside the list or when lent.
    bool LendDevice(int Idx, THidDevicePtr& HidDev);
    // Rescans and reports removals, arrivals and the change.
    void HandleDeviceChange();

    int Count() const { return static_cast<int>(list_.size()); }
    THidDevice* Device(int Idx) const;
    int LentCount() const { return lentCount_; }
    int NotLentCount() const { return notLentCount_; }
    int UnpluggedCount() const { return unpluggedCount_; }
    IHidPlatform& Platform() { return *platform_; }

  private:
    friend class THidDevice;
    std::vector<THidDevicePtr> ScanDevices();
    THidDevicePtr CreateDevice(const THidInterfaceInfo& info);
    int IndexOf(const THidDevice* device, quint64 id) const;
    void Recount();
    // A lent device is being released (from its destructor).
    void DeviceReleased(THidDevice* device);
    // Runs fn with device->enumerating set (if the device is still listed after).
    template <typename Fn> void WhileEnumerating(THidDevice* device, Fn&& fn);

    std::shared_ptr<IHidPlatform> platform_;
    int devThreadSleepTime_ = THidDevice::kDefaultReadPause;
    THidPlugEvent onArrival_;
    THidEnumerateEvent onEnumerate_;
    TNotifyEvent onDeviceChange_;
    THidDataEvent onDeviceData_;
    THidDataErrorEvent onDeviceDataError_;
    THidPlugEvent onDeviceUnplug_;
    THidPlugEvent onRemoval_;

    // Listed devices in scan order.  Those not lent are owned here (deleted by
    // the controller); lent ones are owned by their holders.
    std::vector<THidDevice*> list_;
    bool changeReported_ = false;
    bool inDeviceChange_ = false;
    bool changePending_ = false;
    int lentCount_ = 0;
    int notLentCount_ = 0;
    int unpluggedCount_ = 0;
};

} // namespace orvex
