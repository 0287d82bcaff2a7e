#include "recording/Recorder.h"

#include "recording/Sampling.h"

#include <cmath>
#include <limits>
#include <utility>

namespace orvex {

namespace {

std::int32_t CountsToInt(double counts) {
    if (!std::isfinite(counts)) return 0;
    const double r = std::round(counts);
    if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

} // namespace

RecordOutcome TRecorder::INDataToTable(const RecordInput& in) {
    RecordOutcome out;
    // Record limit: exactly recordLimit rows after each clearing.
    if (recordCount >= recordLimit) {
        out.limitReached = !std::exchange(limitNoticed_, true);
        return out;
    }
    // Sampling gate: a countdown still running refuses the frame.
    if (in.recordSIChecked && sampleCountdown > 0) return out;

    const QString key = in.valueText + in.functionText + in.unitText + in.rangeModeText;
    out.feedChart = true;
    if (!in.repeatSetChecked && key == lastRecordKey) return out;

    lastRecordKey = key;
    // The edit only ever holds a whole number; a text that is not one counts as
    // the "1" its change handler would put there. A negative interval would hold
    // the countdown forever, so it counts as 0.
    const std::int32_t interval = ParseWholeNumber(in.recordSITimeText).value_or(1);
    sampleCountdown = interval < 0 ? 0 : interval;
    ++recordCount;

    RecordRow row;
    row.fields[FieldNo] = FieldValue::Int(nextRecordNo);
    row.fields[FieldTime] = FieldValue::Text(in.timeText);
    row.fields[FieldDcAc] = FieldValue::Text(in.functionText);
    row.fields[FieldValue] = FieldValue::Text(in.valueText);
    row.fields[FieldUnit] = FieldValue::Text(in.unitText);
    row.fields[FieldAuto] = FieldValue::Text(in.verdictText);
    row.fields[FieldNVal] = FieldValue::Int(CountsToInt(in.counts));
    row.appended = true;
    row.timestamp = in.timestamp;
    out.appended = true;
    out.no = nextRecordNo;
    ++nextRecordNo;
    if (table_) table_->Append(row);
    return out;
}

void TRecorder::TrecordTimer(bool recordSIChecked) {
    if (recordSIChecked && sampleCountdown > 0) --sampleCountdown;
}

void TRecorder::ClearForNew() {
    if (table_ && table_->rowCount() > 0) table_->Empty();
    nextRecordNo = 1;
    recordCount = 0;
    limitNoticed_ = false;
}

bool TRecorder::RecordNewClick(const std::function<bool()>& confirm,
                               const std::function<void()>& clearChart,
                               const std::function<void()>& clickBtNew) {
    if (!confirm || !confirm()) return false;
    if (clearChart) clearChart();
    ClearForNew();
    if (clickBtNew) clickBtNew();
    return true;
}

void TRecorder::ChooseLimitItem(int index) {
    if (index < 0 || index >= static_cast<int>(kRecordLimitItems.size())) return;
    checkedItem_ = index;
    recordLimit = kRecordLimitItems[static_cast<std::size_t>(index)].limit;
    // Another limit is another filling: reaching it is told again.
    limitNoticed_ = false;
}

QString RecordLimitNotice(std::int32_t limit) {
    return QStringLiteral(
               "Recording has stopped at the record limit of %1 rows. "
               "Readings go on being shown and judged, but they are not recorded.\n\nTo go "
               "on recording, save the table and choose \"New\" in the Record menu, or "
               "choose a larger limit (up to \"limitless\") in the Record menu.")
        .arg(limit);
}

QString LocaleTimeSeparator(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::ShortFormat);
    qsizetype i = 0;
    while (i < format.size() && format[i] != u'h' && format[i] != u'H')
        ++i;
    while (i < format.size() && (format[i] == u'h' || format[i] == u'H'))
        ++i;
    for (; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c.isLetter()) break;
        if (c == u'\'' || c.isSpace()) continue;
        return QString(c);
    }
    return QStringLiteral(":");
}

QString FormatTimeText(const QTime& time, const QString& separator) {
    QString text = time.toString(QStringLiteral("hh:mm:ss"));
    text.replace(u':', separator);
    return text;
}

namespace {

const QString& SystemTimeSeparator() {
    static const QString separator = LocaleTimeSeparator(QLocale::system());
    return separator;
}

} // namespace

QString CurrentTimeText() {
    return FormatTimeText(QTime::currentTime(), SystemTimeSeparator());
}

void SetRecordMoment(RecordInput& in, const QDateTime& moment, const QString& timeSeparator) {
    in.timeText = FormatTimeText(moment.time(), timeSeparator);
    in.timestamp = RecordTimestamp::FromDateTime(moment);
}

void SetRecordMomentNow(RecordInput& in) {
    SetRecordMoment(in, LocalMomentAt(QDateTime::currentMSecsSinceEpoch()), SystemTimeSeparator());
}

} // namespace orvex
