#pragma once
// The recording gates: which decoded frames become rows of the record table,
// and which of them still feed the chart.

#include "recording/RecordTable.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

#include <array>
#include <cstdint>
#include <functional>

namespace orvex {

// Everything INDataToTable reads for one frame: the reading, the verdict, the
// states of the recording controls and the time text of this moment.
struct RecordInput {
    QString valueText;
    QString functionText;
    QString unitText;
    QString rangeModeText;
    double counts = 0.0;
    double scaledValue = 0.0;
    QString verdictText;
    bool recordSIChecked = false;    // "Sampling Interval" check box
    bool repeatSetChecked = true;    // "Repeat" check box
    QString recordSITimeText = "10"; // text of the interval edit
    QString timeText;                // CurrentTimeText() at the moment of the frame
    RecordTimestamp timestamp;       // the same moment with its date (SetRecordMomentNow)

    // Fills the reading's part from a decoded reading (header-only: no link dependency).
    template <typename Reading> void SetReading(const Reading& r) {
        valueText = r.valueText;
        functionText = r.functionText;
        unitText = r.unitText;
        rangeModeText = r.rangeModeText;
        counts = r.counts;
        scaledValue = r.scaledValue;
    }
};

struct RecordOutcome {
    bool appended = false;  // a row was appended
    int no = 0;             // its No, when appended
    bool feedChart = false; // the chart pager must get scaledValue (AddValue)
    // The frame was refused by the record limit, for the first time since the
    // table last filled up: the user is to be told (RecordLimitNotice).
    bool limitReached = false;
};

// One item of the record limit menu.
struct RecordLimitItem {
    const char* objectName;
    const char* caption;
    std::int32_t limit;
    const char* handler;
};

inline constexpr std::array<RecordLimitItem, 6> kRecordLimitItems{{
    {"N10001", "1000", 1000, "N10001Click"},
    {"N50001", "5000", 5000, "N50001Click"},
    {"N100001", "10000", 10000, "N100001Click"},
    {"N500001", "50000", 50000, "N500001Click"},
    {"N1000001", "100000", 100000, "N1000001Click"},
    {"limitess", "limitless", 10000000, "limitessClick"},
}};
inline constexpr int kDefaultRecordLimitItem = 2; // "10000"

// The question asked before "New" empties the table.
inline constexpr const char* kRecordNewQuestion = "Do you want to delete this record?";

class TRecorder {
  public:
    explicit TRecorder(RecordTable* table) : table_(table) {}

    std::int32_t recordLimit = 10000;
    std::int32_t recordCount = 0; // rows appended since start-up or the last "New"
    std::int32_t nextRecordNo = 1;
    QString lastRecordKey;
    std::int32_t sampleCountdown = 0;

    // Offers one decoded frame to the table: record limit, sampling gate, repeat
    // filter, then the append. A limit of N admits exactly N rows after each clearing.
    RecordOutcome INDataToTable(const RecordInput& in);

    // Tick of the one-second timer Trecord: counts the interval down while
    // "Sampling Interval" is checked.
    void TrecordTimer(bool recordSIChecked);

    // The clearing part of "New", after the user answered Yes: the table is emptied
    // when it has rows, numbering restarts; lastRecordKey and sampleCountdown stay.
    void ClearForNew();

    // The whole "New" command: `confirm` asks the question (true for Yes); on Yes
    // `clearChart` runs (ClearPoints, Page caption), then the clearing, then
    // `clickBtNew`. Returns whether the user said Yes.
    bool RecordNewClick(const std::function<bool()>& confirm,
                        const std::function<void()>& clearChart = {},
                        const std::function<void()>& clickBtNew = {});

    // Menu item `index` of kRecordLimitItems was chosen.
    void ChooseLimitItem(int index);
    int checkedLimitItem() const { return checkedItem_; }

    RecordTable* table() const { return table_; }

  private:
    RecordTable* table_;
    int checkedItem_ = kDefaultRecordLimitItem;
    bool limitNoticed_ = false; // limitReached was given for this filling
};

// The notice that recording stopped at the record limit, and how to go on.
QString RecordLimitNotice(std::int32_t limit);

// The time separator of a locale, taken from its short time format; ":" when none.
QString LocaleTimeSeparator(const QLocale& locale);
// "hh:mm:ss" of the 24-hour clock with each ":" replaced by `separator`.
QString FormatTimeText(const QTime& time, const QString& separator);
// The local time of day now, in the system locale's separator.
QString CurrentTimeText();

// Sets the time text and the timestamp of `in` from one moment, so that both
// name the same second: the time text is the moment's time of day in `timeSeparator`.
void SetRecordMoment(RecordInput& in, const QDateTime& moment, const QString& timeSeparator);
// The same for now, in local time and the system locale's time separator.
void SetRecordMomentNow(RecordInput& in);

} // namespace orvex
