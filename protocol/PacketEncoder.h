#pragma once
// Builds the 14 bytes the meter sends for given nibble fields (tests, benchmarks,
// the virtual meter).

#include <array>
#include <cstdint>

namespace orvex {

struct PacketFields {
    std::uint8_t range = 0;
    std::array<std::uint8_t, 5> digits{}; // d1..d5, nibbles 0..15
    std::uint8_t function = 0;
    std::uint8_t status = 0;  // 8 duty, 4 minus, 2 battery, 1 overload
    std::uint8_t option1 = 0; // 2 relative
    std::uint8_t option2 = 0; // 8 duty-overload
    std::uint8_t option3 = 0; // 8 DC, 4 AC, 2 AUTO; whole value selects table B's row
    std::uint8_t option4 = 0; // 2 hold
};

// The fields most readings differ in; the rest stay 0.
inline PacketFields MakePacketFields(std::uint8_t range, std::array<std::uint8_t, 5> digits,
                                     std::uint8_t function, std::uint8_t status = 0,
                                     std::uint8_t option3 = 0) {
    PacketFields f;
    f.range = range;
    f.digits = digits;
    f.function = function;
    f.status = status;
    f.option3 = option3;
    return f;
}

using Packet = std::array<std::uint8_t, 14>;

// 12 data bytes (highNibble << 4 | nibble), then 0x0D 0x0A.  Only the low four bits of
// each field and of highNibble are used.  With highNibble 0 a nibble of 13 becomes the
// byte 0x0D, which the assembler takes for a terminator: the meter's own high digit
// is 3.
Packet EncodePacket(const PacketFields& fields, std::uint8_t highNibble = 0x3);

} // namespace orvex
