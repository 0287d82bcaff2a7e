#include "recording/RecordTimestamp.h"

#include <cmath>
#include <limits>
#include <string>

namespace orvex {

namespace {

constexpr std::int64_t kMsecsPerDay = 86400000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back
// (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = FloorDiv(y, 400);
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

int DaysInMonth(std::int64_t y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return days[m - 1];
}

// Writes 0..99 as two digits; returns the end.
char* Two(char* p, int v) {
    *p++ = static_cast<char>('0' + v / 10);
    *p++ = static_cast<char>('0' + v % 10);
    return p;
}

// Reads `count` decimal digits at text[at]; -1 when they are not all digits.
int Digits(QStringView text, qsizetype at, int count) {
    if (at + count > text.size()) return -1;
    int v = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = text[at + i].unicode();
        if (c < u'0' || c > u'9') return -1;
        v = v * 10 + (c - u'0');
    }
    return v;
}

} // namespace

RecordTimestamp RecordTimestamp::Of(std::int64_t msecsSinceEpoch, int offsetMinutes) {
    RecordTimestamp t;
    if (msecsSinceEpoch < -kMaxMsecs || msecsSinceEpoch > kMaxMsecs) return t;
    if (offsetMinutes < -kMaxOffsetMinutes || offsetMinutes > kMaxOffsetMinutes) return t;
    t.msecsSinceEpoch = msecsSinceEpoch;
    t.offsetMinutes = offsetMinutes;
    t.valid = true;
    return t;
}

RecordTimestamp RecordTimestamp::FromDateTime(const QDateTime& moment) {
    if (!moment.isValid()) return {};
    const int offsetSeconds = moment.offsetFromUtc();
    return Of(moment.toMSecsSinceEpoch(),
              static_cast<int>(std::lround(static_cast<double>(offsetSeconds) / 60.0)));
}

QDateTime LocalMomentAt(std::int64_t msecsSinceEpoch) {
    // The zone's offset is looked up once per second and shared by the moments
    // within it: a zone's offset changes only at a whole second, and every lookup
    // has the C library check the zone file (a meter sends several frames a second).
    thread_local std::int64_t cachedSecond = std::numeric_limits<std::int64_t>::min();
    thread_local int cachedOffset = 0;
    const std::int64_t second = FloorDiv(msecsSinceEpoch, 1000);
    if (second != cachedSecond) {
        cachedOffset = QDateTime::fromMSecsSinceEpoch(second * 1000).offsetFromUtc();
        cachedSecond = second;
    }
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::OffsetFromUTC, cachedOffset);
}

int RecordTimestamp::LocalSecondOfDay() const {
    const std::int64_t local = msecsSinceEpoch + std::int64_t(offsetMinutes) * 60000;
    const std::int64_t ms = local - FloorDiv(local, kMsecsPerDay) * kMsecsPerDay;
    return static_cast<int>(ms / 1000);
}

int FormatIsoTimestamp(const RecordTimestamp& stamp, char* out) {
    if (!stamp.valid) return 0;
    const std::int64_t local = stamp.msecsSinceEpoch + std::int64_t(stamp.offsetMinutes) * 60000;
    const std::int64_t days = FloorDiv(local, kMsecsPerDay);
    const int second = static_cast<int>((local - days * kMsecsPerDay) / 1000);
    std::int64_t y = 0;
    int m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    char* p = out;
    if (y < 0 || y > 9999) { // beyond four digits: the expanded form with a sign
        *p++ = y < 0 ? '-' : '+';
        const std::string digits = std::to_string(y < 0 ? -y : y);
        for (std::size_t i = digits.size(); i < 4; ++i)
            *p++ = '0';
        for (char c : digits)
            *p++ = c;
    } else {
        p = Two(Two(p, static_cast<int>(y / 100)), static_cast<int>(y % 100));
    }
    *p++ = '-';
    p = Two(p, m);
    *p++ = '-';
    p = Two(p, d);
    *p++ = 'T';
    p = Two(p, second / 3600);
    *p++ = ':';
    p = Two(p, second / 60 % 60);
    *p++ = ':';
    p = Two(p, second % 60);
    const int offset = stamp.offsetMinutes < 0 ? -stamp.offsetMinutes : stamp.offsetMinutes;
    *p++ = stamp.offsetMinutes < 0 ? '-' : '+';
    p = Two(p, offset / 60);
    *p++ = ':';
    p = Two(p, offset % 60);
    return static_cast<int>(p - out);
}

QString IsoTimestampText(const RecordTimestamp& stamp) {
    char buf[kIsoTimestampMax];
    return QString::fromLatin1(buf, FormatIsoTimestamp(stamp, buf));
}

std::optional<RecordTimestamp> ParseIsoTimestamp(QStringView text) {
    // The year: four digits, or the expanded form FormatIsoTimestamp writes for
    // years outside 0..9999 (a sign, then four or more digits).
    qsizetype digits = 0;
    const bool sign = !text.isEmpty() && (text[0] == u'+' || text[0] == u'-');
    while (sign + digits < text.size() && text[sign + digits] >= u'0' &&
           text[sign + digits] <= u'9')
        ++digits;
    if (sign ? (digits < 4 || digits > 6) : digits != 4) return std::nullopt;
    std::int64_t year = 0;
    for (qsizetype i = 0; i < digits; ++i)
        year = year * 10 + (text[sign + i].unicode() - u'0');
    if (sign && text[0] == u'-') year = -year;
    if (sign && year >= 0 && year <= 9999) return std::nullopt; // written without a sign
    // The rest as if the year were four digits:
    // 0123456789012345678
    // YYYY-MM-DDTHH:MM:SS
    const QStringView t = text.sliced(sign + digits - 4);
    if (t.size() < 20) return std::nullopt;
    const std::int64_t y = year;
    const int mo = Digits(t, 5, 2), d = Digits(t, 8, 2);
    const int h = Digits(t, 11, 2), mi = Digits(t, 14, 2), s = Digits(t, 17, 2);
    if (mo < 1 || mo > 12 || d < 1 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return std::nullopt;
    if (t[4] != u'-' || t[7] != u'-' || t[10] != u'T' || t[13] != u':' || t[16] != u':')
        return std::nullopt;
    if (d > DaysInMonth(y, mo)) return std::nullopt;
    qsizetype at = 19;
    int msecs = 0;
    if (t[at] == u'.') {
        ++at;
        int scale = 100;
        const qsizetype first = at;
        while (at < t.size() && t[at] >= u'0' && t[at] <= u'9') {
            msecs += (t[at].unicode() - u'0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == first) return std::nullopt;
    }
    int offset = 0;
    if (at < t.size() && t[at] == u'Z') {
        ++at;
    } else {
        if (at + 6 != t.size() || (t[at] != u'+' && t[at] != u'-') || t[at + 3] != u':')
            return std::nullopt;
        const int oh = Digits(t, at + 1, 2), om = Digits(t, at + 4, 2);
        if (oh < 0 || om < 0 || om > 59) return std::nullopt;
        offset = (oh * 60 + om) * (t[at] == u'-' ? -1 : 1);
        at += 6;
    }
    if (at != t.size()) return std::nullopt;
    const std::int64_t local =
        (DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s) * 1000 + msecs;
    const RecordTimestamp stamp = RecordTimestamp::Of(local - std::int64_t(offset) * 60000, offset);
    if (!stamp.valid) return std::nullopt;
    return stamp;
}

} // namespace orvex
