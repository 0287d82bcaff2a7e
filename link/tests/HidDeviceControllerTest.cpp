// The HID device controller over the in-memory platform layer: the device
// list and its events, lending and releasing, strings, and the reading threads
// with their hand-over to the user-interface thread.

#include "link/HidDeviceController.h"
#include "link/MemoryHidPlatform.h"
#include "link/tests/LinkTestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <stdexcept>

using namespace orvex;
using orvex::testing::WaitFor;

namespace {

TMemoryHidDeviceSpec Spec(int n, std::u16string product = u"Gadget", std::u16string serial = {}) {
    TMemoryHidDeviceSpec s;
    s.devicePath = QStringLiteral("/dev/hidraw%1").arg(n);
    s.deviceInstance = QStringLiteral("/sys/devices/hid/%1").arg(n);
    s.attributes = {std::uint16_t(0x1000 + n), std::uint16_t(0x2000 + n), 0x0100};
    s.product = std::move(product);
    s.serial = std::move(serial);
    return s;
}

struct Report {
    std::uint8_t id;
    std::vector<std::uint8_t> data;
    bool operator==(const Report&) const = default;
};

class HidControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform->AddDevice(Spec(0));
        platform->AddDevice(Spec(1));
    }
    std::unique_ptr<THidDeviceController> Make() {
        return std::make_unique<THidDeviceController>(platform);
    }
    // Lends device Idx and records its reports.
    THidDevicePtr LendAndRead(THidDeviceController& ctl, int idx, std::vector<Report>& got) {
        THidDevicePtr d;
        EXPECT_TRUE(ctl.LendDevice(idx, d));
        d->SetDataHandler(
            [&got](THidDevice*, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
                got.push_back({id, std::vector<std::uint8_t>(data, data + size)});
            });
        return d;
    }
    // Lends device 0 with a data handler that runs `handle` (which releases the
    // device it is given, sooner or later), sends two reports, waits until the
    // device is given back and `settleMs` more: the handler's calls.
    int CallsWhenReleasedByItsHandler(THidDeviceController& ctl,
                                      const std::function<void(THidDevicePtr&)>& handle,
                                      int settleMs) {
        THidDevicePtr d;
        EXPECT_TRUE(ctl.LendDevice(0, d));
        int calls = 0;
        d->SetDataHandler([&](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {
            ++calls;
            handle(d);
        });
        platform->PushReport(QStringLiteral("/dev/hidraw0"), {0x00, 1});
        platform->PushReport(QStringLiteral("/dev/hidraw0"), {0x00, 2});
        EXPECT_TRUE(WaitFor([&] { return d == nullptr; }));
        WaitFor([] { return false; }, settleMs);
        return calls;
    }

    std::shared_ptr<TMemoryHidPlatform> platform = std::make_shared<TMemoryHidPlatform>();
};

} // namespace

TEST_F(HidControllerTest, PublishedDefaultsAndOneControllerPerProgram) {
    auto ctl = Make();
    EXPECT_EQ(ctl->DevThreadSleepTime(), 100);
    EXPECT_EQ(ctl->property("DevThreadSleepTime").toInt(), 100);
    EXPECT_EQ(ctl->Version(), "1.0.22");
    EXPECT_EQ(ctl->Count(), 2);
    EXPECT_EQ(ctl->NotLentCount(), 2);
    EXPECT_TRUE(platform->noticesStarted());
    try {
        THidDeviceController second(platform);
        FAIL() << "a second controller was created";
    } catch (const EHidControllerError& e) {
        EXPECT_STREQ(e.what(), "Only one THidDeviceController allowed per program");
    }
    ctl.reset();
    EXPECT_NO_THROW(Make()) << "the next controller may exist once the first is gone";
}

TEST_F(HidControllerTest, FirstAssignmentOfOnDeviceChangeReportsOnce) {
    auto ctl = Make();
    int changes = 0;
    TNotifyEvent handler = [&](QObject* sender) {
        EXPECT_EQ(sender, ctl.get());
        ++changes;
    };
    ctl->SetOnDeviceChange(handler);
    EXPECT_EQ(changes, 1) << "reported although nothing changed";
    platform->NotifyChange();
    EXPECT_EQ(changes, 1) << "a later notice without changes reports nothing";
    ctl->SetOnDeviceChange(handler); // the same handler again: nothing runs
    ctl->SetOnDeviceChange([&](QObject*) { ++changes; });
    EXPECT_EQ(changes, 1) << "only the first assignment reports without a change";
    platform->AddDevice(Spec(2));
    platform->NotifyChange();
    EXPECT_EQ(changes, 2);
}

TEST_F(HidControllerTest, ArrivalAndRemovalAreReportedWhileEnumerating) {
    auto ctl = Make();
    QStringList events;
    ctl->SetOnArrival([&](THidDevice* d) {
        events << "arrival " + d->pnpInfo().devicePath;
        EXPECT_TRUE(d->enumerating());
        EXPECT_EQ(d->ProductText(), "Gadget") << "strings can be read during the event";
    });
    ctl->SetOnRemoval([&](THidDevice* d) {
        events << "removal " + d->pnpInfo().devicePath;
        EXPECT_TRUE(d->enumerating());
        EXPECT_FALSE(d->pluggedIn());
    });
    ctl->SetOnDeviceChange([&](QObject*) { events << "change"; });
    events.clear();

    platform->AddDevice(Spec(2));
    platform->RemoveDevice(QStringLiteral("/dev/hidraw0"));
    platform->NotifyChange();
    EXPECT_EQ(events, (QStringList{"removal /dev/hidraw0", "arrival /dev/hidraw2", "change"}));
    ASSERT_EQ(ctl->Count(), 2);
    EXPECT_EQ(ctl->Device(0)->pnpInfo().devicePath, "/dev/hidraw1");
    EXPECT_EQ(ctl->Device(1)->pnpInfo().devicePath, "/dev/hidraw2");
    EXPECT_FALSE(ctl->Device(1)->enumerating());
}

TEST_F(HidControllerTest, DeviceUnpluggedWhileLentStaysListedUntilReleased) {
    auto ctl = Make();
    int removals = 0, unplugs = 0;
    ctl->SetOnRemoval([&](THidDevice*) { ++removals; });
    THidDevicePtr held;
    ASSERT_TRUE(ctl->LendDevice(0, held));
    held->SetUnplugHandler([&](THidDevice* d) {
        EXPECT_EQ(d, held.get());
        ++unplugs;
    });
    EXPECT_EQ(ctl->LentCount(), 1);

    platform->RemoveDevice(QStringLiteral("/dev/hidraw0"));
    platform->NotifyChange();
    EXPECT_EQ(removals, 1);
    EXPECT_EQ(unplugs, 1);
    ASSERT_EQ(ctl->Count(), 2) << "the lent device stays listed";
    EXPECT_EQ(ctl->Device(0), held.get());
    EXPECT_FALSE(held->pluggedIn());
    EXPECT_EQ(ctl->UnpluggedCount(), 1);
    EXPECT_FALSE(held->OpenMain()) << "an unplugged device cannot be opened";
    EXPECT_TRUE(held->ProductText().isEmpty());

    platform->NotifyChange();
    EXPECT_EQ(removals, 2) << "reported removed again while it stays listed";
    EXPECT_EQ(unplugs, 1) << "the unplug handler runs once";

    held.reset(); // released: the entry goes
    ASSERT_EQ(ctl->Count(), 1);
    EXPECT_EQ(ctl->Device(0)->pnpInfo().devicePath, "/dev/hidraw1");
    EXPECT_EQ(ctl->UnpluggedCount(), 0);
}

TEST_F(HidControllerTest, ReleasingAPluggedInDevicePutsAFreshObjectInItsPlace) {
    auto ctl = Make();
    THidDevicePtr held;
    ASSERT_TRUE(ctl->LendDevice(1, held));
    ASSERT_TRUE(held->SetReadPause(500));
    const THidDevice* old = held.get();
    held.reset();
    ASSERT_EQ(ctl->Count(), 2);
    THidDevice* fresh = ctl->Device(1);
    EXPECT_NE(fresh, old);
    EXPECT_EQ(fresh->pnpInfo().deviceInstance, "/sys/devices/hid/1");
    EXPECT_FALSE(fresh->lent());
    EXPECT_TRUE(fresh->pluggedIn());
    EXPECT_TRUE(fresh->readWriteAccess());
    EXPECT_EQ(fresh->readPause(), 500);
    EXPECT_EQ(fresh->VendorID(), 0x1001);
    EXPECT_EQ(ctl->LentCount(), 0);
    EXPECT_EQ(ctl->NotLentCount(), 2);
    ASSERT_TRUE(ctl->LendDevice(1, held)) << "the fresh object can be lent again";
}

TEST_F(HidControllerTest, LendDeviceFailuresYieldNoDevice) {
    auto ctl = Make();
    THidDevicePtr first;
    ASSERT_TRUE(ctl->LendDevice(0, first));
    for (int idx : {-1, 2, 0}) {
        SCOPED_TRACE(idx);
        THidDevicePtr d;
        EXPECT_FALSE(ctl->LendDevice(idx, d));
        EXPECT_EQ(d, nullptr);
    }
    EXPECT_EQ(ctl->LentCount(), 1);
}

TEST_F(HidControllerTest, DevicesThatCannotBeOpenedOrIdentifiedAreLeftOut) {
    TMemoryHidDeviceSpec closed = Spec(5), anonymous = Spec(6), queryOnly = Spec(7);
    closed.openable = false;
    anonymous.identifiable = false;
    queryOnly.readWrite = false;
    for (const auto& s : {closed, anonymous, queryOnly})
        platform->AddDevice(s);
    auto ctl = Make();
    ASSERT_EQ(ctl->Count(), 3);
    THidDevice* listed = ctl->Device(2);
    EXPECT_EQ(listed->pnpInfo().devicePath, "/dev/hidraw7");
    EXPECT_FALSE(listed->readWriteAccess());

    THidDevicePtr d;
    ASSERT_TRUE(ctl->LendDevice(2, d));
    EXPECT_EQ(d->ProductText(), "Gadget") << "a query-only device still tells its name";
    EXPECT_FALSE(d->SendFeature(std::array<std::uint8_t, 2>{0, 1}.data(), 2));
    d->SetDataHandler([](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {});
    EXPECT_FALSE(d->ReadThreadRunning()) << "no reading without read-write access";
}

// The serial number string against the language list (string index 0).
TEST_F(HidControllerTest, SerialNumberEqualToTheLanguageListReadsEmpty) {
    struct Case {
        const char* name;
        std::u16string serial;
        std::u16string languages;
        bool layerHasLanguageList;
        QString expected;
    };
    const Case cases[] = {
        {"a real serial number", u"A1B2", u"\u0409", true, "A1B2"},
        {"the language list as serial number", u"\u0409", u"\u0409", true, ""},
        {"two languages, serial equal to them", u"\u0409\u0407", u"\u0409\u0407", true, ""},
        {"serial starting like the list", u"\u0409X", u"\u0409\u0407", true, "\u0409X"},
        {"no language list at all (n = 0)", u"A1B2", u"", true, ""},
        {"no serial number", u"", u"\u0409", true, ""},
        {"a layer without a language list takes it as it is", u"\u0409", u"\u0409", false,
         "\u0409"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto p = std::make_shared<TMemoryHidPlatform>(c.layerHasLanguageList);
        TMemoryHidDeviceSpec s = Spec(0, u"Gadget", c.serial);
        s.languages = c.languages;
        p->AddDevice(s);
        THidDeviceController ctl(p);
        THidDevicePtr d;
        ASSERT_TRUE(ctl.LendDevice(0, d));
        EXPECT_EQ(d->SerialText(), c.expected);
        EXPECT_FALSE(d->MainOpen()) << "the main handle closes after reading";
    }
}

TEST_F(HidControllerTest, StringsAreReadOnlyFromLentOrEnumeratedDevices) {
    auto ctl = Make();
    EXPECT_TRUE(ctl->Device(0)->ProductText().isEmpty()) << "neither lent nor enumerating";
    EXPECT_FALSE(ctl->Device(0)->OpenMain());
    QStringList names;
    ctl->SetOnEnumerate([&](THidDevice* d, int) {
        names << d->ProductText();
        return true;
    });
    EXPECT_EQ(ctl->ListDevices(), 2);
    EXPECT_EQ(names, (QStringList{"Gadget", "Gadget"}));
    EXPECT_EQ(platform->OpenHandles(QStringLiteral("/dev/hidraw0"), THidAccess::ReadWrite), 0)
        << "handles of devices not lent are closed after the visit";
}

TEST_F(HidControllerTest, ListDevicesStopsWhenTheHandlerSaysSo) {
    platform->AddDevice(Spec(2));
    auto ctl = Make();
    int calls = 0;
    ctl->SetOnEnumerate([&](THidDevice*, int idx) {
        ++calls;
        return idx < 1;
    });
    EXPECT_EQ(ctl->ListDevices(), 2);
    EXPECT_EQ(calls, 2);
}

TEST_F(HidControllerTest, ReadPauseAcceptsTenToTenThousand) {
    auto ctl = Make();
    THidDevice* d = ctl->Device(0);
    const struct {
        int ms;
        bool accepted;
        int after;
    } steps[] = {{9, false, 100}, {10, true, 10}, {10001, false, 10}, {10000, true, 10000}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.ms);
        EXPECT_EQ(d->SetReadPause(s.ms), s.accepted);
        EXPECT_EQ(d->readPause(), s.after);
    }
    // The controller's setting reaches the devices that still had its old value.
    ctl->SetDevThreadSleepTime(250);
    EXPECT_EQ(ctl->Device(0)->readPause(), 10000);
    EXPECT_EQ(ctl->Device(1)->readPause(), 250);
    ctl->SetDevThreadSleepTime(5); // out of range for the devices
    EXPECT_EQ(ctl->Device(1)->readPause(), 250);
}

TEST_F(HidControllerTest, HandlersOfTheControllerReachTheDevicesThatHadTheOldOne) {
    auto ctl = Make();
    THidDataErrorEvent own = [](THidDevice*, std::uint32_t) {};
    ctl->Device(1)->SetDataErrorHandler(own);
    THidDataErrorEvent errors = [](THidDevice*, std::uint32_t) {};
    ctl->SetOnDeviceDataError(errors);
    EXPECT_TRUE(ctl->Device(0)->dataErrorHandler() == errors);
    EXPECT_TRUE(ctl->Device(1)->dataErrorHandler() == own);
    platform->AddDevice(Spec(2));
    platform->NotifyChange();
    EXPECT_TRUE(ctl->Device(2)->dataErrorHandler() == errors) << "new devices get it too";
}

TEST_F(HidControllerTest, ReportsArriveInOrderAndAOneByteReportHasSizeZero) {
    auto ctl = Make();
    std::vector<Report> got;
    THidDevicePtr d = LendAndRead(*ctl, 0, got);
    ASSERT_TRUE(d->ReadThreadRunning());
    const QString path = d->pnpInfo().devicePath;
    platform->PushReport(path, {0x00});
    platform->PushReport(path, {0x03, 0xF2, 0xB1, 0xB2});
    for (int i = 0; i < 50; ++i)
        platform->PushReport(path, {0x00, std::uint8_t(i)});
    ASSERT_TRUE(WaitFor([&] { return got.size() == 52; }));
    EXPECT_EQ(got[0], (Report{0x00, {}}));
    EXPECT_EQ(got[1], (Report{0x03, {0xF2, 0xB1, 0xB2}}));
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(got[std::size_t(i) + 2].data, std::vector<std::uint8_t>{std::uint8_t(i)});

    d->SetDataHandler(nullptr);
    EXPECT_FALSE(d->ReadThreadRunning());
    EXPECT_EQ(platform->OpenHandles(path, THidAccess::Read), 0) << "the read handle closed";
}

TEST_F(HidControllerTest, FeatureReportsGoThroughTheMainHandle) {
    auto ctl = Make();
    const std::array<std::uint8_t, 3> report{0x00, 0x4B, 0x03};
    EXPECT_FALSE(ctl->Device(0)->SendFeature(report.data(), 3)) << "not lent";
    THidDevicePtr d;
    ASSERT_TRUE(ctl->LendDevice(0, d));
    EXPECT_TRUE(d->SendFeature(report.data(), 3));
    EXPECT_TRUE(d->MainOpen()) << "the main handle stays open";
    const auto features = platform->Features(QStringLiteral("/dev/hidraw0"));
    ASSERT_EQ(features.size(), 1u);
    EXPECT_EQ(features[0], std::vector<std::uint8_t>(report.begin(), report.end()));
}

// The user-interface thread stops a reading thread that is waiting for its
// hand-over to be served: neither waits for the other for ever.
TEST_F(HidControllerTest, StoppingAThreadThatWaitsOnAHandOverDoesNotDeadlock) {
    auto ctl = Make();
    std::vector<Report> got;
    THidDevicePtr d = LendAndRead(*ctl, 0, got);
    platform->PushReport(d->pnpInfo().devicePath, {0x00, 0x11});
    // No events are processed here: the thread takes the report and waits.
    for (int i = 0; i < 500 && platform->QueuedReports(d->pnpInfo().devicePath) > 0; ++i)
        QThread::msleep(2);
    QThread::msleep(20);
    d->SetDataHandler(nullptr);
    EXPECT_FALSE(d->ReadThreadRunning());
    QCoreApplication::processEvents();
    EXPECT_TRUE(got.empty()) << "a report handed over while stopping is not delivered";

    // A new handler starts a new thread that reads on.
    d->SetDataHandler(
        [&](THidDevice*, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
            got.push_back({id, std::vector<std::uint8_t>(data, data + size)});
        });
    platform->PushReport(d->pnpInfo().devicePath, {0x00, 0x22});
    ASSERT_TRUE(WaitFor([&] { return got.size() == 1; }));
    EXPECT_EQ(got[0].data, std::vector<std::uint8_t>{0x22});
}

TEST_F(HidControllerTest, AHandlerThatThrowsLeavesTheThreadReading) {
    auto ctl = Make();
    THidDevicePtr d;
    ASSERT_TRUE(ctl->LendDevice(0, d));
    std::vector<std::uint8_t> seen;
    d->SetDataHandler([&](THidDevice*, std::uint8_t, const std::uint8_t* data, std::uint16_t) {
        seen.push_back(data[0]);
        if (data[0] == 1) throw std::runtime_error("decoder failed");
    });
    const QString path = d->pnpInfo().devicePath;
    platform->PushReport(path, {0x00, 1});
    platform->PushReport(path, {0x00, 2});
    ASSERT_TRUE(WaitFor([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(d->HandlerFailures(), 1);
    EXPECT_EQ(d->LastHandlerFailure(), "decoder failed");
    EXPECT_TRUE(d->ReadThreadRunning());
}

// A handler that gives its own device back while the device's thread waits
// for that very hand-over.
TEST_F(HidControllerTest, ReleasingTheDeviceFromItsOwnDataHandler) {
    auto ctl = Make();
    // 100 ms more: the abandoned thread is reaped.
    const int calls = CallsWhenReleasedByItsHandler(
        *ctl, [](THidDevicePtr& d) { d.reset(); }, 100);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(platform->OpenHandles(QStringLiteral("/dev/hidraw0"), THidAccess::Read), 0);
    ASSERT_EQ(ctl->Count(), 2);
    EXPECT_FALSE(ctl->Device(0)->lent()) << "a fresh object took its place";
}

TEST_F(HidControllerTest, ReleasingTheDeviceWhileItsHandlerShowsAMessage) {
    // The handler runs an event loop of its own, as a message box does, and the
    // device is released meanwhile (a device list that changed): the window must
    // not wait there for the reading thread, which waits for that handler. That
    // fault shows as this test hanging; a thread object never deleted afterwards
    // shows as a leak in the sanitizer run.
    auto ctl = Make();
    const auto showMessage = [](THidDevicePtr& d) {
        QEventLoop messageBox;
        QTimer::singleShot(20, &messageBox, [&] { d.reset(); });
        QTimer::singleShot(150, &messageBox, &QEventLoop::quit);
        messageBox.exec();
    };
    // 300 ms more: the message closes; the thread is reaped.
    const int calls = CallsWhenReleasedByItsHandler(*ctl, showMessage, 300);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(platform->OpenHandles(QStringLiteral("/dev/hidraw0"), THidAccess::Read), 0);
}

TEST_F(HidControllerTest, AReadThatCannotStartIsReportedAndRetriedAfterThePause) {
    auto ctl = Make();
    THidDevicePtr d;
    ASSERT_TRUE(ctl->LendDevice(0, d));
    ASSERT_TRUE(d->SetReadPause(10));
    std::vector<std::uint32_t> errors;
    d->SetDataErrorHandler([&](THidDevice* dev, std::uint32_t e) {
        EXPECT_EQ(dev, d.get());
        errors.push_back(e);
    });
    int reports = 0;
    d->SetDataHandler(
        [&](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++reports; });
    platform->SetReadFailure(d->pnpInfo().devicePath, EIO);
    WaitFor([] { return false; }, 300);
    ASSERT_GE(errors.size(), 2u) << "every failed attempt is reported";
    EXPECT_EQ(errors[0], std::uint32_t(EIO));
    // One attempt per read pause, not a busy loop (a spinning thread would
    // make thousands of attempts in this time).
    EXPECT_LT(platform->ReadCalls(), 200);

    platform->SetReadFailure(d->pnpInfo().devicePath, 0);
    platform->PushReport(d->pnpInfo().devicePath, {0x00, 7});
    ASSERT_TRUE(WaitFor([&] { return reports == 1; })) << "reading recovers";
}

TEST_F(HidControllerTest, UnplugWhileReadingReportsTheFailureUntilReleased) {
    auto ctl = Make();
    std::vector<Report> got;
    THidDevicePtr d = LendAndRead(*ctl, 0, got);
    ASSERT_TRUE(d->SetReadPause(10));
    std::vector<std::uint32_t> errors;
    d->SetDataErrorHandler([&](THidDevice*, std::uint32_t e) { errors.push_back(e); });
    // Unplugged while reading: once the thread has opened the device (removed
    // before that, the open fails instead, with another error).
    ASSERT_TRUE(WaitFor([&] {
        return platform->OpenHandles(QStringLiteral("/dev/hidraw0"), THidAccess::Read) == 1;
    }));
    platform->RemoveDevice(QStringLiteral("/dev/hidraw0"));
    platform->NotifyChange();
    EXPECT_FALSE(d->pluggedIn());
    ASSERT_TRUE(WaitFor([&] { return !errors.empty(); }));
    EXPECT_EQ(errors[0], std::uint32_t(ENODEV));
    d.reset();
    EXPECT_EQ(ctl->Count(), 1);
}

// A notice that comes while a handler of the controller runs (a nested event
// loop of a message box) is examined once that handler has returned.
TEST_F(HidControllerTest, ANoticeDuringAHandlerIsExaminedAfterwards) {
    auto ctl = Make();
    int changes = 0;
    ctl->SetOnDeviceChange([&](QObject*) {
        if (++changes == 1) {
            platform->AddDevice(Spec(3));
            platform->NotifyChange();
            EXPECT_EQ(ctl->Count(), 2) << "not re-entered";
        }
    });
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(ctl->Count(), 3);
}

TEST_F(HidControllerTest, DestroyingTheControllerLeavesLentDevicesUnpluggedAndStopped) {
    auto ctl = Make();
    std::vector<Report> got;
    THidDevicePtr d = LendAndRead(*ctl, 0, got);
    ASSERT_TRUE(d->ReadThreadRunning());
    ctl.reset();
    EXPECT_FALSE(d->pluggedIn());
    EXPECT_FALSE(d->ReadThreadRunning());
    EXPECT_EQ(d->controller(), nullptr);
    EXPECT_EQ(platform->OpenHandles(QStringLiteral("/dev/hidraw0"), THidAccess::Read), 0);
    d.reset(); // the holder may still give it back
}

TEST_F(HidControllerTest, AMissingPlatformLeavesTheListEmptyWithoutNotices) {
    platform->available = false;
    auto ctl = Make();
    EXPECT_EQ(ctl->Count(), 0);
    EXPECT_FALSE(platform->noticesStarted());
    platform->available = true;
    platform->listFails = true;
    ctl.reset();
    ctl = Make();
    EXPECT_EQ(ctl->Count(), 0) << "a set that cannot be listed leaves the list empty";
}
