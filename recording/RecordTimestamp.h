#pragma once
// The moment a row was recorded: milliseconds since the epoch and the local
// offset from UTC at that moment, so that a log across midnight or across a
// change of daylight-saving time stays unambiguous.

#include <QDateTime>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace orvex {

struct RecordTimestamp {
    // Moments the table can hold: about 4000 years either side of 1970.
    static constexpr std::int64_t kMaxMsecs = (std::int64_t(1) << 47) - 1;
    static constexpr int kMaxOffsetMinutes = 18 * 60;

    std::int64_t msecsSinceEpoch = 0;
    int offsetMinutes = 0; // local time minus UTC
    bool valid = false;    // false: the row has no date (loaded from the text or XML format)

    // The moment of a QDateTime with its offset from UTC (local time: the offset
    // in force at that moment), rounded to whole minutes.
    static RecordTimestamp FromDateTime(const QDateTime& moment);
    // Invalid when the moment or the offset is outside the ranges above.
    static RecordTimestamp Of(std::int64_t msecsSinceEpoch, int offsetMinutes);

    // The local time of day at the moment, in seconds since midnight.
    int LocalSecondOfDay() const;

    bool operator==(const RecordTimestamp&) const = default;
};

// The moment `msecsSinceEpoch` in local time, with the offset in force then.
QDateTime LocalMomentAt(std::int64_t msecsSinceEpoch);

// ISO 8601 with date, seconds and offset, in the local time of the moment:
// "2026-12-10T14:03:07+01:00" (an offset of zero is "+00:00").  Empty when the
// timestamp is invalid.
QString IsoTimestampText(const RecordTimestamp& stamp);
// The same text into `out` (at least kIsoTimestampMax bytes); returns its length.
inline constexpr int kIsoTimestampMax = 32;
int FormatIsoTimestamp(const RecordTimestamp& stamp, char* out);

// Reads the form IsoTimestampText writes; also accepts "Z" for the offset and
// a fraction of the second.  Nothing for any other text.
std::optional<RecordTimestamp> ParseIsoTimestamp(QStringView text);

} // namespace orvex
