#include "protocol/MeterReading.h"

#include "protocol/tests/QtPrinters.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

using namespace orvex;

namespace {

constexpr int kFull = 22000;
constexpr int kBarOverload = 22;

DecodeResult Decode(const QString& frame, const QString& sep = QStringLiteral(".")) {
    return DecodeFrame(frame, sep, kFull, kBarOverload);
}

QString Lit(const MeterReading& r) {
    return r.litSet.names().join(u' ');
}

QStringList Digits(const MeterReading& r) {
    QStringList list;
    for (const QString& d : r.digitTexts)
        list << d;
    return list;
}

} // namespace

TEST(Decoder, WorkedExample) {
    const DecodeResult res = Decode(QStringLiteral("A012345B000A0D"));
    ASSERT_TRUE(res.ok) << res.error.toStdString();
    const MeterReading& r = res.reading;
    EXPECT_EQ(r.rangeNibble, 0);
    EXPECT_EQ(r.functionNibble, 11);
    EXPECT_EQ(Digits(r), (QStringList{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(r.signText, "");
    EXPECT_EQ(Lit(r), "LcdAuto LcdDc1 LcdP0 LcdV");
    EXPECT_EQ(r.pointIndex, 0);
    EXPECT_EQ(r.unitText, "V");
    EXPECT_EQ(r.functionText, "DC");
    EXPECT_EQ(r.rangeModeText, "AUTO");
    EXPECT_EQ(r.valueText, "1.2345");
    EXPECT_EQ(r.counts, 12345.0);
    EXPECT_EQ(r.scaledValue, 1.2345); // the nearest double, not 1.2345000000000002
    EXPECT_EQ(r.axisRanges, std::vector<double>{22.0});
    EXPECT_EQ(r.barPosition, 12);
    EXPECT_EQ(r.bitText, "000000010010001101000101101100000000000010100000");
}

TEST(Decoder, BitTextFlagPositionsAndShortFrames) {
    // Status 0xF, option-1 2, option-2 8, option-3 0xE, option-4 2.
    const QString bits = BitText(QStringLiteral("A000000BF28E2D"));
    EXPECT_EQ(bits, QString("0000").repeated(6) + "1011"
                                                  "1111"
                                                  "0010"
                                                  "1000"
                                                  "1110"
                                                  "0010");
    for (int pos : {29, 30, 31, 32, 35, 37, 41, 42, 43, 47})
        EXPECT_EQ(bits.at(pos - 1), u'1') << "position " << pos;
    // A missing position repeats the group before it.
    EXPECT_EQ(BitText(QStringLiteral("A01")), "0000" + QString("0001").repeated(11));
    EXPECT_EQ(BitText(QString()), "");
    EXPECT_EQ(BitText(QStringLiteral("A0?")), QString("0000").repeated(12));
}

// Every row and sub-row of the function table and the option-3 table, and the
// duty blocks.  Digits are 12345 unless a case needs others.
struct RowCase {
    const char* frame;
    const char* lit;
    const char* unit;
    const char* function;
    int point;
    const char* value;
    double scaled;
};

void PrintTo(const RowCase& c, std::ostream* os) {
    *os << c.frame;
}

class DecoderRows : public ::testing::TestWithParam<RowCase> {};

std::string FrameName(const ::testing::TestParamInfo<RowCase>& info) {
    return info.param.frame;
}

TEST_P(DecoderRows, LitUnitFunctionValue) {
    const RowCase& c = GetParam();
    const DecodeResult res = Decode(QString::fromLatin1(c.frame));
    ASSERT_TRUE(res.ok) << res.error.toStdString();
    const MeterReading& r = res.reading;
    EXPECT_EQ(Lit(r), c.lit);
    EXPECT_EQ(r.unitText, c.unit);
    EXPECT_EQ(r.functionText, c.function);
    EXPECT_EQ(r.pointIndex, c.point);
    EXPECT_EQ(r.valueText, c.value);
    EXPECT_EQ(r.scaledValue, c.scaled);
    EXPECT_EQ(r.counts, 12345.0);
}

//                       r digits f s 1 2 3 4
#define FR(r, f, s, o3) "A" r "12345" f s "00" o3 "0D"

INSTANTIATE_TEST_SUITE_P(
    FunctionTable, DecoderRows,
    ::testing::Values(
        // 0: amperes, duty "duty"
        RowCase{FR("0", "0", "0", "0"), "LCDA LcdManu LcdP1", "A", "", 1, "12.345", 12.345},
        RowCase{FR("1", "0", "0", "0"), "LCDA LcdManu", "", "", 0, "12345", 12345},
        RowCase{FR("0", "0", "8", "0"), "LCDBF LcdManu LcdP3", "%", "duty", 3, "1234.5", 1234.5},
        // 1: diode, any range
        RowCase{FR("0", "1", "0", "0"), "LCDDI LcdManu LcdP0 LcdV", "V)", "Diode", 0, "1.2345",
                1.2345},
        RowCase{FR("7", "1", "0", "0"), "LCDDI LcdManu LcdP0 LcdV", "V)", "Diode", 0, "1.2345",
                1.2345},
        // 2: frequency, duty "Duty"
        RowCase{FR("0", "2", "0", "0"), "LCDHz LcdManu LcdP2", "Hz", "Frequency", 2, "123.45",
                123.45},
        RowCase{FR("1", "2", "0", "0"), "LCDHz LcdManu LcdP3", "Hz", "Frequency", 3, "1234.5",
                1234.5},
        RowCase{FR("2", "2", "0", "0"), "LCDHz LcdManu", "", "", 0, "12345", 12345},
        RowCase{FR("3", "2", "0", "0"), "LCDHz LCDk LcdManu LcdP1", "kHz", "Frequency", 1, "12.345",
                12.345},
        RowCase{FR("4", "2", "0", "0"), "LCDHz LCDk LcdManu LcdP2", "kHz", "Frequency", 2, "123.45",
                123.45},
        RowCase{FR("5", "2", "0", "0"), "LCDHz LCDM1 LcdManu LcdP0", "MHz", "Frequency", 0,
                "1.2345", 1.2345},
        RowCase{FR("6", "2", "0", "0"), "LCDHz LCDM1 LcdManu LcdP1", "MHz", "Frequency", 1,
                "12.345", 12.345},
        RowCase{FR("7", "2", "0", "0"), "LCDHz LCDM1 LcdManu LcdP2", "MHz", "Frequency", 2,
                "123.45", 123.45},
        RowCase{FR("8", "2", "0", "0"), "LCDHz LcdManu", "", "", 0, "12345", 12345},
        RowCase{FR("6", "2", "8", "0"), "LCDBF LcdManu LcdP3", "%", "Duty", 3, "1234.5", 1234.5},
        // 3: ohms, no duty block
        RowCase{FR("0", "3", "0", "0"), "LCDohm LcdManu LcdP2", "*", "Ohm", 2, "123.45", 123.45},
        RowCase{FR("1", "3", "0", "0"), "LCDk LCDohm LcdManu LcdP0", "K*", "Ohm", 0, "1.2345",
                1.2345},
        RowCase{FR("2", "3", "0", "0"), "LCDk LCDohm LcdManu LcdP1", "K*", "Ohm", 1, "12.345",
                12.345},
        RowCase{FR("3", "3", "0", "0"), "LCDk LCDohm LcdManu LcdP2", "K*", "Ohm", 2, "123.45",
                123.45},
        RowCase{FR("4", "3", "0", "0"), "LCDM1 LCDohm LcdManu LcdP0", "M*", "Ohm", 0, "1.2345",
                1.2345},
        RowCase{FR("5", "3", "0", "0"), "LCDM1 LCDohm LcdManu LcdP1", "M*", "Ohm", 1, "12.345",
                12.345},
        RowCase{FR("6", "3", "0", "0"), "LCDM1 LCDohm LcdManu LcdP2", "M*", "Ohm", 2, "123.45",
                123.45},
        RowCase{FR("7", "3", "0", "0"), "LCDohm LcdManu", "", "", 0, "12345", 12345},
        RowCase{FR("0", "3", "8", "0"), "LCDohm LcdManu LcdP2", "*", "Ohm", 2, "123.45", 123.45},
        // 4: temperature, no point lit but pointIndex 3
        RowCase{FR("2", "4", "0", "0"), "LCDFS LcdManu", "?", "Temperature", 3, "12345", 12345},
        // 5: continuity
        RowCase{FR("0", "5", "0", "0"), "LCDFm LCDohm LcdManu LcdP2", "&  *", "Cont", 2, "123.45",
                123.45},
        // 6: capacitance
        RowCase{FR("0", "6", "0", "0"), "LCDF LCDn LcdManu LcdP1", "nF", "Cap", 1, "12.345",
                12.345},
        RowCase{FR("1", "6", "0", "0"), "LCDF LCDn LcdManu LcdP2", "nF", "Cap", 2, "123.45",
                123.45},
        RowCase{FR("2", "6", "0", "0"), "LCDF LCDu LcdManu LcdP0", "uF", "Cap", 0, "1.2345",
                1.2345},
        RowCase{FR("3", "6", "0", "0"), "LCDF LCDu LcdManu LcdP1", "uF", "Cap", 1, "12.345",
                12.345},
        RowCase{FR("4", "6", "0", "0"), "LCDF LCDu LcdManu LcdP2", "uF", "Cap", 2, "123.45",
                123.45},
        RowCase{FR("5", "6", "0", "0"), "LCDF LcdManu LcdP0 Lcdm", "mF", "Cap", 0, "1.2345",
                1.2345},
        RowCase{FR("6", "6", "0", "0"), "LCDF LcdManu LcdP1 Lcdm", "mF", "Cap", 1, "12.345",
                12.345},
        RowCase{FR("7", "6", "0", "0"), "LCDF LcdManu LcdP2 Lcdm", "mF", "Cap", 2, "123.45",
                123.45},
        RowCase{FR("8", "6", "0", "0"), "LCDF LcdManu", "", "", 0, "12345", 12345},
        // 7, 8, 10, 12, 14: nothing
        RowCase{FR("0", "7", "0", "0"), "LcdManu", "", "", 0, "12345", 12345},
        RowCase{FR("0", "8", "0", "0"), "LcdManu", "", "", 0, "12345", 12345},
        RowCase{FR("0", "A", "0", "0"), "LcdManu", "", "", 0, "12345", 12345},
        RowCase{FR("0", "C", "0", "0"), "LcdManu", "", "", 0, "12345", 12345},
        RowCase{FR("0", "E", "8", "0"), "LcdManu", "", "", 0, "12345", 12345},
        // 9: amperes
        RowCase{FR("0", "9", "0", "0"), "LCDA LcdManu LcdP2", "A", "", 2, "123.45", 123.45},
        RowCase{FR("1", "9", "0", "0"), "LCDA LcdManu LcdP1", "A", "", 1, "12.345", 12.345},
        RowCase{FR("2", "9", "0", "0"), "LCDA LcdManu LcdP2", "A", "", 2, "123.45", 123.45},
        RowCase{FR("3", "9", "0", "0"), "LCDA LcdManu LcdP3", "A", "", 3, "1234.5", 1234.5},
        RowCase{FR("4", "9", "0", "0"), "LCDA LcdManu", "", "", 0, "12345", 12345},
        RowCase{FR("3", "9", "8", "0"), "LCDA LcdManu LcdP3", "A", "", 3, "1234.5", 1234.5},
        // 11: volts, duty "Duty" (keeps the milli prefix)
        RowCase{FR("0", "B", "0", "0"), "LcdManu LcdP0 LcdV", "V", "", 0, "1.2345", 1.2345},
        RowCase{FR("1", "B", "0", "0"), "LcdManu LcdP1 LcdV", "V", "", 1, "12.345", 12.345},
        RowCase{FR("2", "B", "0", "0"), "LcdManu LcdP2 LcdV", "V", "", 2, "123.45", 123.45},
        RowCase{FR("3", "B", "0", "0"), "LcdManu LcdP3 LcdV", "V", "", 3, "1234.5", 1234.5},
        RowCase{FR("4", "B", "0", "0"), "LcdManu LcdP2 LcdV Lcdm", "mV", "", 2, "123.45", 123.45},
        RowCase{FR("5", "B", "0", "0"), "LcdManu LcdV", "", "", 0, "12345", 12345},
        RowCase{FR("4", "B", "8", "0"), "LCDBF LcdManu LcdP3 Lcdm", "%", "Duty", 3, "1234.5",
                1234.5},
        // 13: micro-amperes, duty "duty"
        RowCase{FR("0", "D", "0", "0"), "LCDA LCDu LcdManu LcdP2", "uA", "", 2, "123.45", 123.45},
        RowCase{FR("1", "D", "0", "0"), "LCDA LCDu LcdManu LcdP3", "uA", "", 3, "1234.5", 1234.5},
        RowCase{FR("2", "D", "0", "0"), "LCDA LcdManu", "", "", 0, "12345", 12345},
        RowCase{FR("0", "D", "8", "0"), "LCDBF LcdManu LcdP3", "%", "duty", 3, "1234.5", 1234.5},
        // 15: milli-amperes, duty with no point lit
        RowCase{FR("0", "F", "0", "0"), "LCDA LcdManu LcdP1 Lcdm", "mA", "", 1, "12.345", 12.345},
        RowCase{FR("1", "F", "0", "0"), "LCDA LcdManu LcdP2 Lcdm", "mA", "", 2, "123.45", 123.45},
        RowCase{FR("2", "F", "0", "0"), "LCDA LcdManu", "", "", 0, "12345", 12345},
        RowCase{FR("1", "F", "8", "0"), "LCDBF LcdManu", "%", "duty", 0, "12345", 12345}),
    FrameName);

INSTANTIATE_TEST_SUITE_P(
    OptionThreeTable, DecoderRows,
    ::testing::Values(
        // Volts, range 1, under every option-3 value.
        RowCase{FR("1", "B", "0", "1"), "LcdManu LcdP1 LcdV", "V", "", 1, "12.345", 12.345},
        RowCase{FR("1", "B", "0", "2"), "LcdAuto LcdP1 LcdV", "V", "", 1, "12.345", 12.345},
        RowCase{FR("1", "B", "0", "3"), "LcdAuto LcdP1 LcdV", "V", "", 1, "12.345", 12.345},
        RowCase{FR("1", "B", "0", "4"), "LcdAC LcdManu LcdP1 LcdV", "V", "AC", 1, "12.345", 12.345},
        RowCase{FR("1", "B", "0", "5"), "LcdAC LcdManu LcdP1 LcdV", "V", "", 1, "12.345", 12.345},
        RowCase{FR("1", "B", "0", "6"), "LcdAC LcdAuto LcdP1 LcdV", "V", "AC", 1, "12.345", 12.345},
        RowCase{FR("1", "B", "0", "7"), "LCDHz LcdAC LcdAuto LcdP2", "Hz", "Frequency", 2, "123.45",
                123.45},
        RowCase{FR("1", "B", "0", "8"), "LcdDc1 LcdManu LcdP1 LcdV", "V", "DC", 1, "12.345",
                12.345},
        RowCase{FR("1", "B", "0", "9"), "LCDBF LcdDc1 LcdManu", "%", "duty", 0, "12345", 12345},
        RowCase{FR("1", "B", "0", "A"), "LcdAuto LcdDc1 LcdP1 LcdV", "V", "DC", 1, "12.345",
                12.345},
        RowCase{FR("1", "B", "0", "B"), "LCDHz LcdAuto LcdDc1 LcdP3", "Hz", "Frequency", 3,
                "1234.5", 1234.5},
        RowCase{FR("1", "B", "0", "C"), "LcdAC LcdDc1 LcdManu LcdP1 LcdV", "V", "", 1, "12.345",
                12.345},
        RowCase{FR("1", "B", "0", "D"), "LcdAC LcdDc1 LcdManu LcdP1 LcdV", "V", "", 1, "12.345",
                12.345},
        RowCase{FR("1", "B", "0", "E"), "LcdAC LcdAuto LcdDc1 LcdP1 LcdV", "V", "", 1, "12.345",
                12.345},
        RowCase{FR("1", "B", "0", "F"), "LcdAC LcdAuto LcdDc1 LcdP1 LcdV", "V", "", 1, "12.345",
                12.345},
        // 11 follows the frequency range column, keeping prefixes it does not clear.
        RowCase{FR("0", "B", "0", "B"), "LCDHz LcdAuto LcdDc1 LcdP2", "Hz", "Frequency", 2,
                "123.45", 123.45},
        RowCase{FR("5", "B", "0", "B"), "LCDHz LCDM1 LcdAuto LcdDc1 LcdP0", "MHz", "Frequency", 0,
                "1.2345", 1.2345},
        RowCase{FR("2", "B", "0", "B"), "LCDHz LcdAuto LcdDc1", "V", "", 0, "12345", 12345},
        RowCase{FR("7", "B", "0", "B"), "LCDHz LCDM1 LcdAuto LcdDc1 LcdP2", "MHz", "Frequency", 2,
                "123.45", 123.45},
        RowCase{FR("3", "B", "0", "B"), "LCDHz LCDk LcdAuto LcdDc1 LcdP1", "kHz", "Frequency", 1,
                "12.345", 12.345},
        // The option-3 table runs after the function table: AC/DC replace "Ohm".
        RowCase{FR("0", "3", "0", "A"), "LCDohm LcdAuto LcdDc1 LcdP2", "*", "DC", 2, "123.45",
                123.45},
        // 7 lights a second point when the function lit P3: the highest wins.
        RowCase{FR("3", "9", "0", "7"), "LCDHz LcdAC LcdAuto LcdP2 LcdP3", "Hz", "Frequency", 3,
                "123.4.5", 1234.5}),
    FrameName);

#undef FR

struct FlagCase {
    const char* name;
    const char* frame;
    const char* lit;
    const char* sign;
    const char* digits; // the five digit texts joined by "|"
    const char* unit;
    const char* function;
    const char* value;
    double counts;
    double scaled;
    int bar;
};

void PrintTo(const FlagCase& c, std::ostream* os) {
    *os << c.frame;
}

class DecoderFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(DecoderFlags, ReadingFields) {
    const FlagCase& c = GetParam();
    const DecodeResult res = Decode(QString::fromLatin1(c.frame));
    ASSERT_TRUE(res.ok) << res.error.toStdString();
    const MeterReading& r = res.reading;
    EXPECT_EQ(Lit(r), c.lit);
    EXPECT_EQ(r.signText, c.sign);
    EXPECT_EQ(Digits(r).join(u'|'), c.digits);
    EXPECT_EQ(r.unitText, c.unit);
    EXPECT_EQ(r.functionText, c.function);
    EXPECT_EQ(r.valueText, c.value);
    EXPECT_EQ(r.counts, c.counts);
    EXPECT_EQ(r.scaledValue, c.scaled);
    EXPECT_EQ(r.barPosition, c.bar);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecoderFlags,
    ::testing::Values(
        FlagCase{"minus", "A101234B400A0D", "LcdAuto LcdDc1 LcdFH LcdP1 LcdV", "-", "0|1|2|3|4",
                 "V", "DC", "-01.234", -1234, -1.234, 1},
        FlagCase{"battery_relative_hold", "A012345B2A0A2D",
                 "LCDBATT LCDHold LCDREL LcdAuto LcdDc1 LcdP0 LcdV", "", "1|2|3|4|5", "V", "DC",
                 "1.2345", 12345, 1.2345, 12},
        FlagCase{"overload_point1", "A100000B100A0D", "LcdAuto LcdDc1 LcdP1 LcdV", "", "|0|@||",
                 "V", "DC", "0.L", 22000, 22000, 22},
        FlagCase{"overload_minus", "A100000B500A0D", "LcdAuto LcdDc1 LcdFH LcdP1 LcdV", "-",
                 "|0|@||", "V", "DC", "-0.L", -22000, -22000, 22},
        FlagCase{"overload_point2_no_separator", "A299999B100A0D", "LcdAuto LcdDc1 LcdP2 LcdV", "",
                 "|0|@||", "V", "DC", "0L", 22000, 22000, 22},
        FlagCase{"overload_hides_hex_digits", "A0ABCDE3100A0D", "LCDohm LcdAuto LcdDc1 LcdP2", "",
                 "|0|@||", "*", "DC", "0L", 22000, 22000, 22},
        FlagCase{"duty_overload_ohm", "A012345300800D", "LCDBF LCDohm LcdManu LcdP3", "", "|0|@||",
                 "%", "Duty", "0L.", 22000, 22000, 22},
        FlagCase{"duty_overload_keeps_milli", "A4FFFFFB00860D", "LCDBF LcdAC LcdAuto LcdP3 Lcdm",
                 "", "|0|@||", "%", "Duty", "0L.", 22000, 22000, 22},
        FlagCase{"leading_zeros_point2", "A000123900000D", "LCDA LcdManu LcdP2", "", "0|0|1|2|3",
                 "A", "", "001.23", 123, 1.23, 1},
        FlagCase{"minus_zero", "A000000B400A0D", "LcdAuto LcdDc1 LcdFH LcdP0 LcdV", "-",
                 "0|0|0|0|0", "V", "DC", "-0.0000", 0, 0, 1},
        FlagCase{"bar_from_first_two_digits", "A099999B000A0D", "LcdAuto LcdDc1 LcdP0 LcdV", "",
                 "9|9|9|9|9", "V", "DC", "9.9999", 99999, 9.9999, 99},
        FlagCase{"bar_two", "A002000B000A0D", "LcdAuto LcdDc1 LcdP0 LcdV", "", "0|2|0|0|0", "V",
                 "DC", "0.2000", 2000, 0.2, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Decoder, OverloadUsesTheProfileFullScale) {
    const DecodeResult res = DecodeFrame(QStringLiteral("A100000B500A0D"), ".", 6000, 60);
    ASSERT_TRUE(res.ok);
    EXPECT_EQ(res.reading.counts, -6000.0);
    EXPECT_EQ(res.reading.barPosition, 60);
}

TEST(Decoder, DecimalSeparatorOfTheLocale) {
    EXPECT_EQ(Decode(QStringLiteral("A012345B000A0D"), ",").reading.valueText, "1,2345");
    EXPECT_EQ(Decode(QStringLiteral("A012345B000A0D"), "").reading.valueText, "12345");
    EXPECT_EQ(Decode(QStringLiteral("A100000B100A0D"), ",").reading.valueText, "0,L");
    EXPECT_EQ(Decode(QStringLiteral("A012345300800D"), ",").reading.valueText, "0L,");
    // The number fields do not depend on the separator.
    EXPECT_EQ(Decode(QStringLiteral("A012345B000A0D"), ",").reading.scaledValue, 1.2345);
}

TEST(Decoder, AxisRangesInPointOrder) {
    EXPECT_EQ(Decode(QStringLiteral("A312345B000A0D")).reading.axisRanges,
              std::vector<double>{2200.0});
    EXPECT_EQ(Decode(QStringLiteral("A312345900070D")).reading.axisRanges,
              (std::vector<double>{220.0, 2200.0}));
    EXPECT_TRUE(Decode(QStringLiteral("A212345400000D")).reading.axisRanges.empty());
    // Overload still sets the range of its point.
    EXPECT_EQ(Decode(QStringLiteral("A100000B100A0D")).reading.axisRanges,
              std::vector<double>{22.0});
}

// Every five-digit reading at every decimal point must scale to exactly the
// double that its value text reads as.
TEST(Decoder, ScaledValueIsTheNearestDoubleOfTheValueText) {
    const char* ranges = "0123"; // volts: points 0, 1, 2, 3
    int mismatches = 0;
    for (int p = 0; p < 4; ++p) {
        for (int n = 0; n <= 99999; n += (p == 0 ? 1 : 7)) {
            const QString digits = QStringLiteral("%1").arg(n, 5, 10, QLatin1Char('0'));
            const QString frame = QStringLiteral("A") + QChar(ranges[p]) + digits + "B000A0D";
            const DecodeResult res = Decode(frame);
            ASSERT_TRUE(res.ok);
            const double expected =
                std::strtod(res.reading.valueText.toLatin1().constData(), nullptr);
            if (res.reading.scaledValue != expected && ++mismatches < 5)
                ADD_FAILURE() << frame.toStdString() << " scaled " << res.reading.scaledValue;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Decoder, UndecodableFramesGiveAnError) {
    QString withNul = QStringLiteral("A0123");
    withNul += QChar(0);
    withNul += QStringLiteral("5B000A0D");
    const QString cases[] = {
        withNul,
        QStringLiteral("AA12345B000A0D"), // range nibble A
        QStringLiteral("AF12345B000A0D"), // range nibble F
        QStringLiteral("A01A345B000A0D"), // digit A read as a number
        QStringLiteral("A0F2345B000A0D"), // digit F in d1
        QStringLiteral("A01234CB000A0D"), // digit C in d5
        QStringLiteral("A012345b000a0d"), // lower case
        QStringLiteral("A012@45B000A0D"), // not a hexadecimal digit
        QStringLiteral("A01234\u00e95B000A0D").left(14),
        QStringLiteral("A012345B000A"), // too short
        QStringLiteral("A"),
        QString(),
    };
    for (const QString& frame : cases) {
        const DecodeResult res = Decode(frame);
        EXPECT_FALSE(res.ok) << frame.toStdString();
        EXPECT_FALSE(res.error.isEmpty()) << frame.toStdString();
    }
    // Digits above 9 are fine when the overload letter replaces them.
    EXPECT_TRUE(Decode(QStringLiteral("A0ABCDEB008A0D")).ok);
    // Positions 1 and 14 belong to the frame check, not to the decoder.
    EXPECT_TRUE(Decode(QStringLiteral("A012345B000A0")).ok);
    EXPECT_EQ(Decode(QStringLiteral("A012345B000A0DXYZ")).reading.valueText, "1.2345");
}

TEST(Decoder, RandomFramesNeverThrow) {
    std::mt19937 rng(20260);
    const QString hexDigits = QStringLiteral("0123456789ABCDEF");
    const QString others = QStringLiteral("abcdef@L-.,\n\r \u00e9");
    int decoded = 0;
    for (int i = 0; i < 20000; ++i) {
        QString frame;
        const int length = static_cast<int>(rng() % 20);
        for (int k = 0; k < length; ++k) {
            const QString& set = rng() % 10 != 0 ? hexDigits : others;
            frame += set.at(static_cast<int>(rng() % static_cast<unsigned>(set.size())));
        }
        DecodeResult res;
        EXPECT_NO_THROW(res = Decode(frame));
        if (res.ok) {
            ++decoded;
            EXPECT_GE(frame.size(), 13);
            EXPECT_TRUE(res.error.isEmpty());
        } else {
            EXPECT_FALSE(res.error.isEmpty());
        }
    }
    EXPECT_GT(decoded, 0);
}

TEST(MeasurementTracker, ChangeOfUnitPointOrFunction) {
    struct Step {
        const char* frame;
        bool changed;
    };
    const Step steps[] = {
        {"A012345B000A0D", true},                            // first frame: "113" matches no unit
        {"A054321B000A0D", false},                           // same measurement, other value
        {"A112345B000A0D", true},                            // range only: other point
        {"A112345B000A0D", false}, {"A112345B00060D", true}, // function text DC -> AC
        {"A112345300060D", true},                            // volts -> kilo-ohms
        {"A212345300060D", true},                            // same unit, other point
        {"A212345300060D", false},
    };
    MeasurementTracker tracker;
    for (const Step& s : steps) {
        const DecodeResult res = Decode(QString::fromLatin1(s.frame));
        ASSERT_TRUE(res.ok) << s.frame;
        EXPECT_EQ(tracker.Observe(res.reading), s.changed) << s.frame;
        EXPECT_EQ(tracker.previousUnitText, res.reading.unitText);
        EXPECT_EQ(tracker.previousPointIndex, res.reading.pointIndex);
    }
}
