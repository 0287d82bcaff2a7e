#pragma once
// A short built-in stream of meter packets (volts, ohms, frequency, duty,
// temperature, current, capacitance, an overload), starting with a line feed so
// that the first packet already passes the frame check.

#include <cstdint>
#include <vector>

namespace orvex {

std::vector<std::uint8_t> SampleStream();

} // namespace orvex
