// The USB adapter cable's report path: input reports, as the HID controller
// hands them over, through the cable link (which collects the meter bytes and
// rebuilds the frames) and on into the decoder.
//
// Input: a sequence of reports, each a report ID byte, a length byte and that
// many data bytes (the last one may be cut short by the end of the input).
// Checked: every frame handed on is 14 characters from "A" to "D" and is what
// frameText holds during the call; frameText is empty again afterwards; the
// collected bytes and the history stay within their caps; the counts of
// frames handed on and dropped add up.

#include "fuzz/FuzzSupport.h"
#include "link/UsbCableLink.h"
#include "protocol/MeterReading.h"
#include "protocol/PacketAssembler.h"

#include <cstdint>
#include <string>

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteReader in(data, size);
    TPacketAssembler frameOwner;
    TUsbCableLink cable(nullptr, frameOwner);
    long long frames = 0;
    long long ends = 0;
    QObject::connect(&cable, &TUsbCableLink::trace,
                     [&](const QString&, const QString&) { ++ends; });
    cable.onFrame = [&](const QString& frame) {
        ++frames;
        FUZZ_CHECK(frame.size() == 14 && frame.front() == QLatin1Char('A') &&
                       frame.back() == QLatin1Char('D'),
                   frame.toStdString());
        FUZZ_CHECK(frameOwner.frameText() == frame, frame.toStdString());
        const DecodeResult r = DecodeFrame(frame, QStringLiteral("."), 22000, 22);
        FUZZ_CHECK(r.ok || !r.error.isEmpty(), frame.toStdString());
    };
    while (in.left() > 0) {
        const std::uint8_t id = in.Byte();
        const std::uint8_t length = in.Byte();
        const std::string_view report = in.Take(length);
        cable.OrvexHidData(nullptr, id, reinterpret_cast<const std::uint8_t*>(report.data()),
                           static_cast<std::uint16_t>(report.size()));
        FUZZ_CHECK(frameOwner.frameText().isEmpty(), frameOwner.frameText().toStdString());
        FUZZ_CHECK(cable.usbHexText.size() <= TUsbCableLink::kMaxUsbHexText,
                   std::to_string(cable.usbHexText.size()));
        FUZZ_CHECK(cable.HistoryListBox().lineCount() <= TUsbCableLink::kHistoryCapacity,
                   std::to_string(cable.HistoryListBox().lineCount()));
    }
    FUZZ_CHECK(cable.framesDecoded == frames, std::to_string(frames));
    FUZZ_CHECK(cable.framesDecoded + cable.framesDropped == ends, std::to_string(ends));
    return 0;
}
