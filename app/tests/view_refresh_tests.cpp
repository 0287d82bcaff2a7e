// The once-per-screen-refresh update of what the frames change: coalescing,
// nothing drawn while hidden or minimised, and every frame still recorded.
#include "app/ViewRefresh.h"
#include "app/tests/WindowFixture.h"
#include "recording/RecordTable.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

namespace {

struct Refresh : ::testing::Test {
    QWidget window;
    int runs = 0;
    TViewRefresh refresh{&window, [this] { ++runs; }};
    // Lets timers run for a few refresh periods.
    void Wait() { QTest::qWait(5 * refresh.PeriodMs()); }
};

TEST_F(Refresh, ManyRequestsWhileShownGiveOneRefreshPerPeriod) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (int i = 0; i < 100; ++i)
        refresh.Request();
    EXPECT_EQ(runs, 0) << "drawn at the refresh, not with the request";
    Wait();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(refresh.Pending());
    Wait();
    EXPECT_EQ(runs, 1) << "no refresh without a request";
}

TEST_F(Refresh, HiddenOrMinimisedWindowWaitsUntilShown) {
    struct Case {
        const char* name;
        void (*hide)(QWidget&);
        void (*show)(QWidget&);
    };
    const Case cases[] = {
        {"hidden", [](QWidget&) {}, [](QWidget& w) { w.show(); }},
        {"minimised", [](QWidget& w) { w.showMinimized(); }, [](QWidget& w) { w.showNormal(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window.hide();
        runs = 0;
        c.hide(window);
        QApplication::processEvents();
        refresh.Request();
        Wait();
        EXPECT_EQ(runs, 0);
        EXPECT_TRUE(refresh.Pending());
        c.show(window);
        QApplication::processEvents();
        EXPECT_EQ(runs, 1) << "what changed meanwhile is drawn when shown";
        EXPECT_FALSE(refresh.Pending());
    }
}

TEST_F(Refresh, FlushRunsADueRefreshAtOnceOnly) {
    refresh.Flush();
    EXPECT_EQ(runs, 0) << "nothing due";
    refresh.Request();
    refresh.Flush();
    EXPECT_EQ(runs, 1) << "even hidden";
}

// A hidden window records every frame but draws none; shown, it shows the last.
TEST_F(Window, HiddenWindowRecordsEveryFrameAndShowsTheLastWhenShown) {
    auto* value = w->control<QLineEdit>(QStringLiteral("T1VALUE"));
    const QString before = value->text();
    std::vector<std::uint8_t> bytes{0x0A};
    for (std::uint8_t d = 1; d <= 5; ++d) {
        const Packet p = EncodePacket(Reading({0, 0, 0, 0, d}, 11, 0));
        bytes.insert(bytes.end(), p.begin(), p.end());
    }
    w->OrvexDATA(nullptr, bytes.data(), static_cast<int>(bytes.size()));
    QTest::qWait(100);
    EXPECT_EQ(w->state().recording.cds1.rowCount(), 5);
    EXPECT_EQ(w->state().recording.cds1.Text(4, FieldValue), QStringLiteral("0.0005"));
    EXPECT_EQ(value->text(), before) << "a hidden window draws nothing";

    w->show();
    QApplication::processEvents();
    EXPECT_EQ(value->text(), QStringLiteral("0.0005"));
    EXPECT_EQ(Caption("judge"), QStringLiteral("Pass"));
}

} // namespace
