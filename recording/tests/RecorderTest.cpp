#include "recording/Recorder.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvex;

namespace {

class RecorderTest : public ::testing::Test {
  protected:
    RecordTable table;
    TRecorder recorder{&table};

    RecordInput Frame(const QString& value = "1.2345", const QString& range = "AUTO") const {
        RecordInput in;
        in.valueText = value;
        in.functionText = "DC";
        in.unitText = "V";
        in.rangeModeText = range;
        in.counts = 12345;
        in.scaledValue = 1.2345;
        in.verdictText = "Pass";
        in.recordSIChecked = recordSI;
        in.repeatSetChecked = repeatSet;
        in.recordSITimeText = interval;
        in.timeText = "10:20:30";
        return in;
    }
    // Offers `n` frames; returns how many fed the chart.
    int Offer(int n, const QString& value = "1.2345") {
        int chart = 0;
        for (int i = 0; i < n; ++i)
            chart += recorder.INDataToTable(Frame(value)).feedChart;
        return chart;
    }

    bool recordSI = false;
    bool repeatSet = true;
    QString interval = "10";
};

TEST_F(RecorderTest, LimitAdmitsExactlyThatManyRowsAndTheChartStopsWithThem) {
    for (int limit : {1, 2, 1000}) {
        table.Empty();
        recorder = TRecorder(&table);
        recorder.recordLimit = limit;
        const int chart = Offer(limit + 5);
        EXPECT_EQ(table.rowCount(), limit) << limit;
        EXPECT_EQ(chart, limit) << limit;
        EXPECT_EQ(recorder.recordCount, limit);
        EXPECT_EQ(table.Integer(limit - 1, FieldNo), limit);
        const RecordOutcome past = recorder.INDataToTable(Frame());
        EXPECT_FALSE(past.appended);
        EXPECT_FALSE(past.feedChart);
    }
}

TEST_F(RecorderTest, SmallerLimitStopsAtOnceAndLimitlessResumesWithNextNo) {
    Offer(5000);
    ASSERT_EQ(table.rowCount(), 5000);
    recorder.ChooseLimitItem(0); // "1000"
    EXPECT_EQ(recorder.recordLimit, 1000);
    EXPECT_EQ(Offer(10), 0);
    EXPECT_EQ(table.rowCount(), 5000);

    recorder.ChooseLimitItem(5); // "limitless"
    EXPECT_EQ(recorder.checkedLimitItem(), 5);
    const RecordOutcome next = recorder.INDataToTable(Frame());
    EXPECT_TRUE(next.appended);
    EXPECT_EQ(next.no, 5001);
    EXPECT_EQ(table.Integer(5000, FieldNo), 5001);
}

// The limit's notice is due once each time the table fills: on the first frame
// refused, not on the ones after it; again after "New" or another limit.
TEST_F(RecorderTest, ReachingTheLimitIsToldOncePerFilling) {
    recorder.recordLimit = 3;
    auto notices = [&](int frames) {
        int n = 0;
        for (int i = 0; i < frames; ++i)
            n += recorder.INDataToTable(Frame()).limitReached;
        return n;
    };
    EXPECT_EQ(notices(3), 0) << "filling up is no notice";
    EXPECT_EQ(notices(1), 1) << "the first frame refused";
    EXPECT_EQ(notices(50), 0) << "and no more for this filling";
    recorder.ClearForNew();
    EXPECT_EQ(notices(10), 1) << "after New the table fills again";
    recorder.ChooseLimitItem(0); // "1000": recording goes on
    EXPECT_EQ(notices(997), 0);
    EXPECT_EQ(table.rowCount(), 1000);
    EXPECT_EQ(notices(5), 1);
    EXPECT_TRUE(RecordLimitNotice(1000).contains(QStringLiteral("record limit of 1000 rows")));
}

TEST_F(RecorderTest, LimitlessAdmitsTenMillionRows) {
    recorder.ChooseLimitItem(5);
    recorder.recordCount = 10000000 - 1;
    EXPECT_TRUE(recorder.INDataToTable(Frame()).appended);
    EXPECT_FALSE(recorder.INDataToTable(Frame()).appended);
    EXPECT_EQ(recorder.recordCount, 10000000);
}

TEST_F(RecorderTest, LimitItemsAndStartState) {
    struct Item {
        const char* objectName;
        const char* caption;
        int limit;
        const char* handler;
    } expected[] = {{"N10001", "1000", 1000, "N10001Click"},
                    {"N50001", "5000", 5000, "N50001Click"},
                    {"N100001", "10000", 10000, "N100001Click"},
                    {"N500001", "50000", 50000, "N500001Click"},
                    {"N1000001", "100000", 100000, "N1000001Click"},
                    {"limitess", "limitless", 10000000, "limitessClick"}};
    ASSERT_EQ(kRecordLimitItems.size(), std::size(expected));
    for (std::size_t i = 0; i < kRecordLimitItems.size(); ++i) {
        EXPECT_STREQ(kRecordLimitItems[i].objectName, expected[i].objectName);
        EXPECT_STREQ(kRecordLimitItems[i].caption, expected[i].caption);
        EXPECT_EQ(kRecordLimitItems[i].limit, expected[i].limit);
        EXPECT_STREQ(kRecordLimitItems[i].handler, expected[i].handler);
        recorder.ChooseLimitItem(static_cast<int>(i));
        EXPECT_EQ(recorder.recordLimit, expected[i].limit);
        EXPECT_EQ(recorder.checkedLimitItem(), static_cast<int>(i));
    }
    TRecorder fresh(&table);
    EXPECT_EQ(fresh.recordLimit, 10000);
    EXPECT_EQ(fresh.checkedLimitItem(), 2);
    EXPECT_EQ(fresh.nextRecordNo, 1);
    EXPECT_EQ(fresh.recordCount, 0);
    EXPECT_EQ(fresh.sampleCountdown, 0);
    EXPECT_TRUE(fresh.lastRecordKey.isEmpty());
    fresh.ChooseLimitItem(6); // no such item: nothing changes
    EXPECT_EQ(fresh.recordLimit, 10000);
}

TEST_F(RecorderTest, RowHoldsTheReadingAndOverloadIsRecordedLikeAnyOther) {
    RecordInput in = Frame("-0L.");
    in.functionText = "Ohm";
    in.unitText = "M*";
    in.counts = -22000;
    in.verdictText = "Fail";
    in.timeText = "23.59.58";
    const RecordOutcome out = recorder.INDataToTable(in);
    ASSERT_TRUE(out.appended);
    EXPECT_EQ(out.no, 1);
    EXPECT_TRUE(out.feedChart);
    const RecordRow row = table.Row(0);
    EXPECT_EQ(row.fields[FieldNo].integer, 1);
    EXPECT_EQ(row.fields[FieldTime].text, "23.59.58");
    EXPECT_EQ(row.fields[FieldDcAc].text, "Ohm");
    EXPECT_EQ(row.fields[FieldValue].text, "-0L.");
    EXPECT_EQ(row.fields[FieldUnit].text, "M*");
    EXPECT_EQ(row.fields[FieldAuto].text, "Fail");
    EXPECT_EQ(row.fields[FieldNVal].integer, -22000);
    EXPECT_TRUE(row.appended);
    EXPECT_EQ(table.currentRow(), 0);
    EXPECT_EQ(recorder.lastRecordKey, "-0L.OhmM*AUTO");
    EXPECT_EQ(recorder.nextRecordNo, 2);
}

TEST_F(RecorderTest, RepeatFilterSkipsSteadyReadingsButStillFeedsTheChart) {
    repeatSet = false;
    EXPECT_EQ(Offer(20), 20);
    EXPECT_EQ(table.rowCount(), 1);

    // Alternating readings: every frame is a row.
    for (int i = 0; i < 10; ++i)
        recorder.INDataToTable(Frame(i % 2 ? "1.2345" : "1.2346"));
    EXPECT_EQ(table.rowCount(), 11);

    // Only the range mode differs: a new key.
    const int before = table.rowCount();
    EXPECT_TRUE(recorder.INDataToTable(Frame("1.2345", "MANU")).appended);
    EXPECT_FALSE(recorder.INDataToTable(Frame("1.2345", "MANU")).appended);
    EXPECT_TRUE(recorder.INDataToTable(Frame("1.2345", "AUTO")).appended);
    EXPECT_EQ(table.rowCount(), before + 2);

    // The comparison is case-sensitive.
    RecordInput lower = Frame("1.2345");
    lower.unitText = "v";
    EXPECT_TRUE(recorder.INDataToTable(lower).appended);

    // Checked "Repeat": the same reading is recorded every time.
    repeatSet = true;
    const int n = table.rowCount();
    Offer(3);
    EXPECT_EQ(table.rowCount(), n + 3);
}

TEST_F(RecorderTest, RepeatFilterSkipDoesNotRestartTheCountdown) {
    repeatSet = false;
    recordSI = true;
    interval = "3";
    EXPECT_TRUE(recorder.INDataToTable(Frame()).appended);
    for (int i = 0; i < 3; ++i)
        recorder.TrecordTimer(true);
    ASSERT_EQ(recorder.sampleCountdown, 0);
    // Same reading: not a row, but the chart gets it and the countdown stays at 0.
    const RecordOutcome same = recorder.INDataToTable(Frame());
    EXPECT_FALSE(same.appended);
    EXPECT_TRUE(same.feedChart);
    EXPECT_EQ(recorder.sampleCountdown, 0);
    EXPECT_TRUE(recorder.INDataToTable(Frame("2.0000")).appended);
    EXPECT_EQ(recorder.sampleCountdown, 3);
}

TEST_F(RecorderTest, SamplingCountdownGatesRowsAndChart) {
    recordSI = true;
    interval = "10";
    EXPECT_TRUE(recorder.INDataToTable(Frame()).appended); // countdown starts at 0
    EXPECT_EQ(recorder.sampleCountdown, 10);
    for (int tick = 1; tick <= 10; ++tick) {
        const RecordOutcome out = recorder.INDataToTable(Frame());
        EXPECT_FALSE(out.appended) << tick;
        EXPECT_FALSE(out.feedChart) << tick;
        recorder.TrecordTimer(true);
    }
    EXPECT_EQ(recorder.sampleCountdown, 0);
    EXPECT_TRUE(recorder.INDataToTable(Frame()).appended);
    EXPECT_EQ(table.rowCount(), 2);

    // The timer does not count while the check box is cleared, and the gate is open.
    recorder.TrecordTimer(false);
    EXPECT_EQ(recorder.sampleCountdown, 10);
    recordSI = false;
    EXPECT_TRUE(recorder.INDataToTable(Frame()).appended);
    EXPECT_EQ(recorder.sampleCountdown, 10); // set by the row recorded while cleared
    // Checking it now: the countdown left by that row must run out first.
    recordSI = true;
    EXPECT_FALSE(recorder.INDataToTable(Frame()).appended);
}

TEST_F(RecorderTest, IntervalTextsSetTheCountdown) {
    recordSI = true;
    struct Case {
        const char* text;
        int countdown;
    } cases[] = {
        {"0", 0},                                            // every frame recorded
        {"1", 1},           {"10", 10}, {" 7 ", 7}, {"", 1}, // what the emptied edit shows
        {"abc", 1},         {"-5", 0}, // a negative interval would block recording for good
        {"99999999999", 1},
    };
    for (const Case& c : cases) {
        recorder.sampleCountdown = 0;
        interval = c.text;
        ASSERT_TRUE(recorder.INDataToTable(Frame()).appended) << c.text;
        EXPECT_EQ(recorder.sampleCountdown, c.countdown) << c.text;
    }
    interval = "0";
    recorder.sampleCountdown = 0;
    const int before = table.rowCount();
    Offer(5);
    EXPECT_EQ(table.rowCount(), before + 5);
}

TEST_F(RecorderTest, NewWithYesClearsNumberingButKeepsKeyAndCountdown) {
    repeatSet = false;
    interval = "4";
    Offer(1);
    recorder.INDataToTable(Frame("2.0000"));
    ASSERT_EQ(table.rowCount(), 2);

    std::vector<std::string> calls;
    QSignalSpy reset(&table, &RecordTable::reset);
    const bool yes = recorder.RecordNewClick(
        [&] { return calls.push_back("ask"), true; }, [&] { calls.push_back("chart"); },
        [&] { calls.push_back("BtNew:" + std::to_string(table.rowCount())); });
    EXPECT_TRUE(yes);
    EXPECT_EQ(calls, (std::vector<std::string>{"ask", "chart", "BtNew:0"}));
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(table.rowCount(), 0);
    EXPECT_EQ(recorder.nextRecordNo, 1);
    EXPECT_EQ(recorder.recordCount, 0);
    EXPECT_EQ(recorder.lastRecordKey, "2.0000DCVAUTO");
    EXPECT_EQ(recorder.sampleCountdown, 4);

    // The reading recorded last before "New" waits until it changes.
    EXPECT_FALSE(recorder.INDataToTable(Frame("2.0000")).appended);
    const RecordOutcome first = recorder.INDataToTable(Frame("2.0001"));
    EXPECT_TRUE(first.appended);
    EXPECT_EQ(first.no, 1);

    // An empty table is not emptied again.
    table.Empty();
    QSignalSpy again(&table, &RecordTable::reset);
    recorder.ClearForNew();
    EXPECT_EQ(again.count(), 0);
}

TEST_F(RecorderTest, NewWithNoChangesNothing) {
    Offer(3);
    bool chart = false;
    bool btNew = false;
    EXPECT_FALSE(recorder.RecordNewClick([] { return false; }, [&] { chart = true; },
                                         [&] { btNew = true; }));
    EXPECT_FALSE(chart);
    EXPECT_FALSE(btNew);
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(recorder.nextRecordNo, 4);
    EXPECT_EQ(recorder.recordCount, 3);
}

TEST_F(RecorderTest, CountsBecomeWholeNumbers) {
    struct Case {
        double counts;
        int nval;
    } cases[] = {{12345, 12345}, {-22000, -22000}, {0, 0}, {99999, 99999}, {1e12, 2147483647}};
    for (const Case& c : cases) {
        RecordInput in = Frame();
        in.counts = c.counts;
        recorder.INDataToTable(in);
        EXPECT_EQ(table.Integer(table.rowCount() - 1, FieldNVal), c.nval) << c.counts;
    }
}

TEST(RecordTimeText, FormatAndLocaleSeparator) {
    const QTime t(7, 5, 9);
    EXPECT_EQ(FormatTimeText(t, ":"), "07:05:09");
    EXPECT_EQ(FormatTimeText(QTime(23, 59, 58), "."), "23.59.58");
    EXPECT_EQ(FormatTimeText(QTime(13, 0, 0), ":"), "13:00:00"); // 24-hour clock

    EXPECT_EQ(LocaleTimeSeparator(QLocale::c()), ":");
    EXPECT_EQ(LocaleTimeSeparator(QLocale(QLocale::German, QLocale::Germany)), ":");
    EXPECT_EQ(LocaleTimeSeparator(QLocale(QLocale::English, QLocale::UnitedStates)), ":");
    EXPECT_EQ(LocaleTimeSeparator(QLocale(QLocale::Finnish, QLocale::Finland)), ".");

    const QString now = CurrentTimeText();
    EXPECT_EQ(now.size(), 8);
}

} // namespace
