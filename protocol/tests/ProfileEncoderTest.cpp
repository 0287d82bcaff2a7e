#include "protocol/MeterProfile.h"
#include "protocol/MeterReading.h"
#include "protocol/PacketAssembler.h"
#include "protocol/PacketEncoder.h"

#include "protocol/tests/QtPrinters.h"

#include <gtest/gtest.h>

using namespace orvex;

TEST(MeterProfile, TableRowsAndLookup) {
    struct Row {
        const char* code;
        int full;
        int barOverload;
        std::optional<int> barMax;
        const char* setmax;
        const char* setmin;
    };
    const Row rows[] = {{"6", 6000, 60, std::nullopt, "6000", "-6000"},
                        {"34", 3400, 34, std::nullopt, "3400", "-3400"},
                        {"2", 20000, 20, 20, "20000", "-20000"},
                        {"22", 22000, 22, 22, "22000", "-22000"}};
    ASSERT_EQ(MeterProfiles().size(), std::size(rows));
    for (const Row& row : rows) {
        const MeterProfile* p = FindMeterProfile(QString::fromLatin1(row.code));
        ASSERT_NE(p, nullptr) << row.code;
        EXPECT_EQ(p->profileCode, row.code);
        EXPECT_EQ(p->fullScaleCounts, row.full);
        EXPECT_EQ(p->barOverloadPosition, row.barOverload);
        EXPECT_EQ(p->barMaximum, row.barMax);
        EXPECT_EQ(p->setmaxText, row.setmax);
        EXPECT_EQ(p->setMinText, row.setmin);
    }
    for (const char* missing : {"", "7", "220", "2 "})
        EXPECT_EQ(FindMeterProfile(QString::fromLatin1(missing)), nullptr) << missing;
    // The defaults are the shipped row.
    const MeterProfile def;
    const MeterProfile* shipped = FindMeterProfile("22");
    EXPECT_EQ(def.fullScaleCounts, shipped->fullScaleCounts);
    EXPECT_EQ(def.barOverloadPosition, shipped->barOverloadPosition);
    EXPECT_EQ(def.setmaxText, shipped->setmaxText);
    EXPECT_EQ(def.setMinText, shipped->setMinText);
}

TEST(PacketEncoder, WorkedExampleBytes) {
    PacketFields f;
    f.digits = {1, 2, 3, 4, 5};
    f.function = 11;
    f.option3 = 10;
    const Packet expected{0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x3B,
                          0x30, 0x30, 0x30, 0x3A, 0x30, 0x0D, 0x0A};
    EXPECT_EQ(EncodePacket(f), expected);
    const Packet high = EncodePacket(f, 0xB);
    EXPECT_EQ(high[6], 0xBB);
    EXPECT_EQ(high[12], 0x0D);
}

TEST(PacketEncoder, EveryFieldLandsAtItsFramePosition) {
    // Each field, each value, through the assembler: the frame character at the
    // field's position is the value's hexadecimal digit; fields above 15 are masked.
    const char* hex = "0123456789ABCDEF";
    for (int field = 0; field < 12; ++field) {
        for (int value = 0; value < 20; ++value) {
            PacketFields f;
            std::uint8_t* fieldPtr[12] = {&f.range,     &f.digits[0], &f.digits[1], &f.digits[2],
                                          &f.digits[3], &f.digits[4], &f.function,  &f.status,
                                          &f.option1,   &f.option2,   &f.option3,   &f.option4};
            *fieldPtr[field] = static_cast<std::uint8_t>(value);
            TPacketAssembler a;
            QString got;
            a.onFrame = [&](const QString& frame) { got = frame; };
            const std::uint8_t lf = 0x0A;
            a.OrvexDATA(&lf, 1);
            const Packet p = EncodePacket(f);
            a.OrvexDATA(p.data(), static_cast<int>(p.size()));
            QString expected = QStringLiteral("A000000000000D");
            expected[field + 1] = QLatin1Char(hex[value & 0xF]);
            EXPECT_EQ(got, expected) << "field " << field << " value " << value;
        }
    }
}
