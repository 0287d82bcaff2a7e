#pragma once
// What the controller needs to know from a HID report descriptor.

#include <cstdint>
#include <vector>

namespace orvex {

struct THidReportLayout {
    // The longest input report in bytes, report ID byte included (as if
    // unnumbered reports carried ID 0); 0 when the device has no input report.
    int inputReportLength = 0;
    // Reports carry a report ID byte (the descriptor declares report IDs).
    bool numbered = false;
};

// Walks the descriptor's items; a truncated item ends the walk.
THidReportLayout ParseReportDescriptor(const std::uint8_t* data, int size);
inline THidReportLayout ParseReportDescriptor(const std::vector<std::uint8_t>& d) {
    return ParseReportDescriptor(d.data(), static_cast<int>(d.size()));
}

} // namespace orvex
