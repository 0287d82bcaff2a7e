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

} // namespace orvex
