#pragma once
// One decoded frame as a JSON object on one line.

#include "protocol/MeterReading.h"

#include <string>

namespace orvex {

// {"frame":...,"value":...,"counts":...,"scaled":...,"unit":...,"function":...,
//  "range":...,"point":...,"sign":...,"digits":[...],"lit":[...],"bar":...}
// "scaled" is the shortest text that reads back to the same double.  No newline.
std::string ReadingJson(const QString& frameText, const MeterReading& reading);

// What the recording made of the frame: "verdict", "recorded" and, for a
// recorded frame, "no".
struct RecordingJson {
    QString verdict;
    bool recorded = false;
    int no = 0;
};

// The same object with the recording's keys after "bar".
std::string ReadingJson(const QString& frameText, const MeterReading& reading,
                        const RecordingJson& recording);

// When the frame came and what it reads in units other programs know.
struct DatedJson {
    QString time;             // ISO 8601 with date, seconds and offset; null when empty
    QString decimalSeparator; // the separator in the reading's value text
};

// The same object again, followed by "time", "unit_text" (the readable unit),
// "base_value" (a number in the base unit) and "base_unit"; base_value and
// base_unit are null for an overload.
std::string ReadingJson(const QString& frameText, const MeterReading& reading,
                        const RecordingJson& recording, const DatedJson& dated);

} // namespace orvex
