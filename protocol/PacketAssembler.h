#pragma once
// Rebuilds meter packets from runs of received bytes.

#include <QString>

#include <cstdint>
#include <functional>

namespace orvex {

class TPacketAssembler {
  public:
    // Longest accumulation kept while no carriage return arrives.  Past the cap the
    // assembler keeps the oldest characters and drops the newer ones until the next
    // carriage return.  A cut only ever looks at the first 14 characters, so frames,
    // cuts and accepted frames are exactly those of an unbounded accumulation; only
    // the memory stays bounded.  The accumulation is cleared at every carriage
    // return before onCut/onFrame run, so a callback that throws or feeds more
    // bytes cannot leave stale characters behind.
    static constexpr int kMaxLowNibbleText = 4096;

    // Called for every cut at a carriage return, accepted or not (the hidden USBtxt label).
    std::function<void(const QString& frameText)> onCut;
    // Called once per accepted frame, after frameText() holds it, before the next byte.
    std::function<void(const QString& frameText)> onFrame;

    // The receive handler: a count of 0 or less does nothing.
    void OrvexDATA(const std::uint8_t* data, int count);

    const QString& lowNibbleText() const { return lowNibbleText_; }
    const QString& frameText() const { return frameText_; }
    // The USB cable path writes the frame it rebuilt here too.
    void setFrameText(const QString& text) { frameText_ = text; }

  private:
    QString lowNibbleText_;
    QString frameText_;
};

} // namespace orvex
