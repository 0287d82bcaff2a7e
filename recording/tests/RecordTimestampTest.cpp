// The moment of a recorded row: its ISO 8601 text, the table that keeps it and
// the recorder that takes it, in a controlled time zone.

#include "recording/RecordTimestamp.h"
#include "recording/RecordTable.h"
#include "recording/Recorder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

using namespace orvex;

namespace {

// Sets TZ for the life of the object (a POSIX rule, so no time zone database is needed).
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::optional<std::string> old_;
};

// Central European time: +01:00, +02:00 from the last Sunday of March 01:00 UTC
// to the last Sunday of October 01:00 UTC.
constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

} // namespace

TEST(RecordTimestamp, IsoTextOfMomentsAndOffsets) {
    const struct {
        std::int64_t msecs;
        int offset;
        const char* text;
    } cases[] = {
        {1796907787000, 60, "2026-12-10T14:03:07+01:00"},
        {1796907787999, 60, "2026-12-10T14:03:07+01:00"}, // the second is cut, not rounded
        {1796943599000, 60, "2026-12-10T23:59:59+01:00"},
        {1796943601000, 60, "2026-12-11T00:00:01+01:00"}, // midnight passed in local time
        {1796943601000, 0, "2026-12-10T23:00:01+00:00"},
        {0, 0, "1970-01-01T00:00:00+00:00"},
        {-1, 0, "1969-12-31T23:59:59+00:00"},
        {0, -330, "1969-12-31T18:30:00-05:30"},
        {0, 345, "1970-01-01T05:45:00+05:45"},
        {1709208000000, 0, "2024-02-29T12:00:00+00:00"},
        // Years before 0 in the expanded form, with a sign (and read back).
        {-62198755200000, 0, "-0001-01-01T00:00:00+00:00"},
        {-73688227200000, 225, "-0366-11-30T03:45:00+03:45"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const RecordTimestamp t = RecordTimestamp::Of(c.msecs, c.offset);
        ASSERT_TRUE(t.valid);
        EXPECT_EQ(IsoTimestampText(t), c.text);
        // And back, to the second.
        const std::optional<RecordTimestamp> back = ParseIsoTimestamp(QString::fromLatin1(c.text));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->msecsSinceEpoch, c.msecs - ((c.msecs % 1000) + 1000) % 1000);
        EXPECT_EQ(back->offsetMinutes, c.offset);
    }
    EXPECT_EQ(IsoTimestampText(RecordTimestamp()), QString());
    EXPECT_FALSE(RecordTimestamp::Of(0, 19 * 60).valid);
    EXPECT_FALSE(RecordTimestamp::Of(RecordTimestamp::kMaxMsecs + 1, 0).valid);
}

TEST(RecordTimestamp, ParsingAcceptsZuluAndFractionsAndRefusesTheRest) {
    const auto z = ParseIsoTimestamp(u"2026-12-10T13:03:07Z");
    ASSERT_TRUE(z.has_value());
    EXPECT_EQ(z->msecsSinceEpoch, 1796907787000);
    EXPECT_EQ(z->offsetMinutes, 0);
    const auto f = ParseIsoTimestamp(u"2026-12-10T14:03:07.25+01:00");
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->msecsSinceEpoch, 1796907787250);

    for (const char* bad :
         {"", "10:20:30", "2026-12-10T14:03:07", "2026-12-10 14:03:07+01:00",
          "2026-12-10T14:03:07+01", "2026-12-10T14:03:07+0100", "2026-12-10T14:03:07+01:00x",
          "2026-02-29T00:00:00+00:00", "2026-13-01T00:00:00+00:00", "2026-12-10T24:00:00+00:00",
          "2026-12-10T14:60:00+00:00", "2026-12-10T14:03:07+19:00", "2026-12-10T14:03:07.+01:00",
          "+2026-12-10T14:03:07+01:00", "-0000-01-01T00:00:00+00:00", "-001-01-01T00:00:00Z",
          "-1234567-01-01T00:00:00Z"}) {
        EXPECT_FALSE(ParseIsoTimestamp(QString::fromLatin1(bad)).has_value()) << bad;
    }
}

TEST(RecordTimestamp, TableKeepsTheMomentOfEveryRow) {
    RecordTable table;
    RecordRow row;
    row.fields[FieldNo] = FieldValue::Int(1);
    row.timestamp = RecordTimestamp::Of(1796907787123, 60);
    table.Append(row);
    row.timestamp = RecordTimestamp(); // a row loaded from a file without dates
    table.Append(row);
    row.timestamp = RecordTimestamp::Of(-1796907787123, -600);
    table.Append(row);
    row.timestamp = {0, 20 * 60, true}; // no real offset: kept as no date
    table.Append(row);

    EXPECT_EQ(table.Timestamp(0), RecordTimestamp::Of(1796907787123, 60));
    EXPECT_FALSE(table.Timestamp(1).valid);
    EXPECT_EQ(table.Timestamp(2), RecordTimestamp::Of(-1796907787123, -600));
    EXPECT_FALSE(table.Timestamp(3).valid);
    EXPECT_FALSE(table.Timestamp(4).valid); // past the end
    EXPECT_EQ(table.Row(0).timestamp, table.Timestamp(0));

    RecordTable other;
    other.ReplaceWith(table);
    EXPECT_EQ(other.Timestamp(2), RecordTimestamp::Of(-1796907787123, -600));
    other.Empty();
    other.Append(row);
    EXPECT_FALSE(other.Timestamp(0).valid);
}

// The local moment of a time: the same wall time and offset as Qt's own local
// time, within a second and across both changes of daylight-saving time, in
// whatever order the moments come, and after the zone itself changes.
TEST(RecordTimestamp, LocalMomentFollowsTheZonesOffsetToTheSecond) {
    const auto expectSameAsQt = [](std::int64_t msecs) {
        const QDateTime expected = QDateTime::fromMSecsSinceEpoch(msecs);
        const QDateTime moment = LocalMomentAt(msecs);
        EXPECT_EQ(moment.toMSecsSinceEpoch(), msecs);
        EXPECT_EQ(moment.offsetFromUtc(), expected.offsetFromUtc()) << msecs;
        EXPECT_EQ(moment.time(), expected.time()) << msecs;
        EXPECT_EQ(moment.date(), expected.date()) << msecs;
    };
    const std::int64_t spring = 1774746000000; // 2026-03-29 01:00 UTC
    const std::int64_t autumn = 1792890000000; // 2026-10-25 01:00 UTC
    {
        const ScopedTimeZone zone(kBerlin);
        for (const std::int64_t change : {spring, autumn})
            for (const std::int64_t d : {-1001, -1000, -999, -1, 0, 1, 999, 1000, -1})
                expectSameAsQt(change + d);
        expectSameAsQt(-1); // before 1970: the second is rounded down
        expectSameAsQt(-1000);
    }
    {
        const ScopedTimeZone zone("IST-5:30");
        // A change of zone shows from the next second on.
        expectSameAsQt(autumn + 5);
        expectSameAsQt(autumn + 1000);
    }
}

// One moment gives the time text and the timestamp of a row; across midnight
// and across both changes of daylight-saving time the date and offset keep
// apart what the time of day alone cannot.
TEST(RecordTimestamp, RecorderTakesTheMomentInLocalTime) {
    const ScopedTimeZone zone(kBerlin);
    const struct {
        std::int64_t msecs;
        const char* timeText;
        const char* iso;
    } cases[] = {
        {1796943599000, "23:59:59", "2026-12-10T23:59:59+01:00"},
        {1796943601000, "00:00:01", "2026-12-11T00:00:01+01:00"},
        {1774745999000, "01:59:59", "2026-03-29T01:59:59+01:00"},
        {1774746000000, "03:00:00", "2026-03-29T03:00:00+02:00"},
        {1792888200000, "02:30:00", "2026-10-25T02:30:00+02:00"},
        {1792891800000, "02:30:00", "2026-10-25T02:30:00+01:00"},
    };
    RecordTable table;
    TRecorder recorder(&table);
    for (const auto& c : cases) {
        RecordInput in;
        in.valueText = "1.2345";
        SetRecordMoment(in, QDateTime::fromMSecsSinceEpoch(c.msecs), QStringLiteral(":"));
        EXPECT_EQ(in.timeText, c.timeText) << c.iso;
        EXPECT_EQ(IsoTimestampText(in.timestamp), c.iso);
        ASSERT_TRUE(recorder.INDataToTable(in).appended);
        const int row = table.rowCount() - 1;
        EXPECT_EQ(table.Text(row, FieldTime), c.timeText);
        EXPECT_EQ(table.Timestamp(row).msecsSinceEpoch, c.msecs);
    }

    // Now: the time text and the timestamp name the same second.
    RecordInput now;
    SetRecordMomentNow(now);
    ASSERT_TRUE(now.timestamp.valid);
    const int second = now.timestamp.LocalSecondOfDay();
    EXPECT_EQ(now.timeText, FormatTimeText(QTime(second / 3600, second / 60 % 60, second % 60),
                                           LocaleTimeSeparator(QLocale::system())));
}
