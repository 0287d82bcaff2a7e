#include "tools/orvex-log/SampleStream.h"

#include "protocol/PacketEncoder.h"

namespace orvex {

namespace {

PacketFields Sample(std::uint8_t range, std::array<std::uint8_t, 5> digits, std::uint8_t function,
                    std::uint8_t status, std::uint8_t option3) {
    return MakePacketFields(range, digits, function, status, option3);
}

} // namespace

std::vector<std::uint8_t> SampleStream() {
    const PacketFields samples[] = {
        Sample(0, {1, 2, 3, 4, 5}, 11, 0, 0xA), // 1.2345 V DC, auto range
        Sample(0, {0, 0, 1, 2, 3}, 11, 4, 0xA), // -0.0123 V DC
        Sample(2, {0, 4, 7, 0, 0}, 3, 0, 0x2),  // 04.700 kilo-ohm
        Sample(0, {0, 5, 0, 0, 0}, 2, 0, 0x2),  // 050.00 Hz
        Sample(1, {0, 0, 5, 0, 0}, 11, 8, 0x2), // 0050.0 % duty
        Sample(0, {0, 0, 0, 2, 3}, 4, 0, 0x0),  // 00023 degrees
        Sample(0, {1, 2, 3, 4, 5}, 15, 0, 0x6), // 12.345 mA AC
        Sample(3, {1, 0, 0, 0, 0}, 6, 0, 0x2),  // 10.000 uF
        Sample(5, {0, 0, 0, 0, 0}, 3, 1, 0x2),  // overload, mega-ohm range
    };
    std::vector<std::uint8_t> stream{0x0A};
    for (const PacketFields& f : samples) {
        const Packet p = EncodePacket(f);
        stream.insert(stream.end(), p.begin(), p.end());
    }
    return stream;
}

} // namespace orvex
