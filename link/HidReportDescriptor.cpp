#include "link/HidReportDescriptor.h"

#include <algorithm>
#include <map>

namespace orvex {

namespace {

// Item types and tags of the short items that matter here.
constexpr int kTypeMain = 0, kTypeGlobal = 1;
constexpr int kMainInput = 0x8;
constexpr int kGlobalReportSize = 0x7, kGlobalReportId = 0x8, kGlobalReportCount = 0x9,
              kGlobalPush = 0xA, kGlobalPop = 0xB;

struct Globals {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    int reportId = 0;
};

} // namespace

THidReportLayout ParseReportDescriptor(const std::uint8_t* data, int size) {
    THidReportLayout layout;
    std::map<int, std::uint64_t> inputBits; // per report ID
    Globals g;
    std::vector<Globals> stack;
    int i = 0;
    while (i < size) {
        const std::uint8_t prefix = data[i];
        if (prefix == 0xFE) { // long item: size byte, tag byte, data
            if (i + 1 >= size) break;
            i += 3 + data[i + 1];
            continue;
        }
        const int length = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + length > size) break;
        std::uint32_t value = 0;
        for (int k = 0; k < length; ++k)
            value |= std::uint32_t(data[i + 1 + k]) << (8 * k);
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (type == kTypeGlobal) {
            switch (tag) {
            case kGlobalReportSize:
                g.reportSize = value;
                break;
            case kGlobalReportCount:
                g.reportCount = value;
                break;
            case kGlobalReportId:
                g.reportId = static_cast<int>(value & 0xFF);
                layout.numbered = true;
                break;
            case kGlobalPush:
                stack.push_back(g);
                break;
            case kGlobalPop:
                if (!stack.empty()) {
                    g = stack.back();
                    stack.pop_back();
                }
                break;
            default:
                break;
            }
        } else if (type == kTypeMain && tag == kMainInput) {
            inputBits[g.reportId] += std::uint64_t(g.reportSize) * g.reportCount;
        }
        i += 1 + length;
    }
    std::uint64_t longest = 0;
    for (const auto& [id, bits] : inputBits)
        longest = std::max(longest, (bits + 7) / 8);
    if (longest > 0)
        layout.inputReportLength = static_cast<int>(std::min<std::uint64_t>(longest, 65535)) + 1;
    return layout;
}

} // namespace orvex
