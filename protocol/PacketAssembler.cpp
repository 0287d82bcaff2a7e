#include "protocol/PacketAssembler.h"

namespace orvex {

namespace {
constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
}

void TPacketAssembler::OrvexDATA(const std::uint8_t* data, int count) {
    if (data == nullptr || count <= 0) return;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t byte = data[i];
        if (byte != 0x0D) {
            if (lowNibbleText_.size() < kMaxLowNibbleText)
                lowNibbleText_.append(QChar(kHexDigits[byte & 0x0F]));
            continue;
        }
        // Terminator: cut, clear, then report.  The accumulation is cleared before
        // any callback runs, so whatever a callback does (throwing, or feeding
        // more bytes from a nested event loop) the next packet starts afresh.
        lowNibbleText_.append(u'D');
        frameText_ = lowNibbleText_.left(14);
        lowNibbleText_.clear();
        const QString frame = frameText_;
        if (onCut) onCut(frame);
        const bool accepted = frame.size() >= 14 && frame.at(0) == u'A' && frame.at(13) == u'D';
        if (accepted && onFrame) onFrame(frame);
    }
}

} // namespace orvex
