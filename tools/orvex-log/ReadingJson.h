#pragma once
// One decoded frame as a JSON object on one line.

#include "protocol/MeterReading.h"

#include <string>

namespace orvex {

// {"frame":...,"value":...,"counts":...,"scaled":...,"unit":...,"function":...,
//  "range":...,"point":...,"sign":...,"digits":[...],"lit":[...],"bar":...}
// "scaled" is the shortest text that reads back to the same double.  No newline.
std::string ReadingJson(const QString& frameText, const MeterReading& reading);

} // namespace orvex
