#include "protocol/PacketEncoder.h"

namespace orvex {

Packet EncodePacket(const PacketFields& fields, std::uint8_t highNibble) {
    const std::uint8_t high = static_cast<std::uint8_t>((highNibble & 0x0F) << 4);
    const std::array<std::uint8_t, 12> nibbles{fields.range,     fields.digits[0], fields.digits[1],
                                               fields.digits[2], fields.digits[3], fields.digits[4],
                                               fields.function,  fields.status,    fields.option1,
                                               fields.option2,   fields.option3,   fields.option4};
    Packet packet{};
    for (std::size_t i = 0; i < nibbles.size(); ++i)
        packet[i] = static_cast<std::uint8_t>(high | (nibbles[i] & 0x0F));
    packet[12] = 0x0D;
    packet[13] = 0x0A;
    return packet;
}

} // namespace orvex
