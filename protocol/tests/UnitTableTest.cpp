#include "protocol/UnitTable.h"

#include "protocol/MeterReading.h"

#include "protocol/tests/QtPrinters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

using namespace orvex;

namespace {

QString Hex(int nibble) {
    return QString::number(nibble, 16).toUpper();
}

// Every unit text the decoder writes, with a frame that produces it: all ranges,
// functions, option-3 values and status nibbles, with and without duty-overload.
std::map<QString, QString> DecoderUnitTexts() {
    std::map<QString, QString> units;
    for (int range = 0; range <= 9; ++range)
        for (int function = 0; function <= 15; ++function)
            for (int status = 0; status <= 15; ++status)
                for (int option2 : {0, 8})
                    for (int option3 = 0; option3 <= 15; ++option3) {
                        const QString frame = QStringLiteral("A") + Hex(range) + "12345" +
                                              Hex(function) + Hex(status) + "0" + Hex(option2) +
                                              Hex(option3) + "0D";
                        const DecodeResult res = DecodeFrame(frame, ".", 22000, 22);
                        if (res.ok) units.emplace(res.reading.unitText, frame);
                    }
    return units;
}

} // namespace

// One row per unit text: its readable form, base unit and factor, shown on a
// value as the meter writes it in that unit.
TEST(UnitTable, EveryUnitOfTheDecoderWithItsReadableTextAndBaseFactor) {
    const struct {
        const char16_t* lcd;
        const char16_t* readable;
        const char16_t* base;
        int exponent;
        const char* valueText;
        const char* value;
        const char* baseValue;
    } cases[] = {
        {u"", u"", u"", 0, "012.34", "012.34", "12.34"},
        {u"V", u"V", u"V", 0, "01.234", "01.234", "1.234"},
        {u"mV", u"mV", u"V", -3, "120.30", "120.30", "0.1203"},
        {u"V)", u"V", u"V", 0, "0.5432", "0.5432", "0.5432"},
        {u"A", u"A", u"A", 0, "10.000", "10.000", "10"},
        {u"mA", u"mA", u"A", -3, "012.34", "012.34", "0.01234"},
        {u"uA", u"µA", u"A", -6, "2200.0", "2200.0", "0.0022"},
        {u"*", u"Ω", u"Ω", 0, "220.00", "220.00", "220"},
        {u"K*", u"kΩ", u"Ω", 3, "1.2345", "1.2345", "1234.5"},
        {u"M*", u"MΩ", u"Ω", 6, "22.000", "22.000", "22000000"},
        {u"&  *", u"Ω", u"Ω", 0, "012.30", "012.30", "12.3"},
        {u"Hz", u"Hz", u"Hz", 0, "050.00", "050.00", "50"},
        {u"kHz", u"kHz", u"Hz", 3, "1.0000", "1.0000", "1000"},
        {u"MHz", u"MHz", u"Hz", 6, "0.0001", "0.0001", "100"},
        {u"nF", u"nF", u"F", -9, "10.000", "10.000", "0.00000001"},
        {u"uF", u"µF", u"F", -6, "-4.700", "-4.700", "-0.0000047"},
        {u"mF", u"mF", u"F", -3, "0.0010", "0.0010", "0.000001"},
        {u"?", u"°C", u"°C", 0, "00235", "00235", "235"},
        {u"%", u"%", u"%", 0, "050.0", "050.0", "50"},
    };

    std::set<QString> listed;
    for (const auto& c : cases) {
        const QString lcd = QString::fromUtf16(c.lcd);
        SCOPED_TRACE(lcd.toStdString());
        listed.insert(lcd);
        const UnitInfo* unit = FindUnit(lcd);
        ASSERT_NE(unit, nullptr);
        EXPECT_EQ(QString::fromUtf16(unit->readable), QString::fromUtf16(c.readable));
        EXPECT_EQ(QString::fromUtf16(unit->baseUnit), QString::fromUtf16(c.base));
        EXPECT_EQ(unit->exponent, c.exponent);

        const ReadingInUnits r = DescribeReading(QString::fromLatin1(c.valueText), lcd, u".");
        EXPECT_EQ(r.kind, ReadingInUnits::Number);
        EXPECT_EQ(r.value, c.value);
        EXPECT_EQ(r.unit, QString::fromUtf16(c.readable));
        EXPECT_EQ(r.baseValue, c.baseValue);
        EXPECT_EQ(r.baseUnit, QString::fromUtf16(c.base));
    }

    // The cases, the table and what the decoder produces are the same set.
    std::set<QString> table;
    for (const UnitInfo& u : UnitTable())
        table.insert(QString::fromUtf16(u.lcdText));
    EXPECT_EQ(table, listed);
    std::set<QString> decoded;
    for (const auto& [unit, frame] : DecoderUnitTexts())
        decoded.insert(unit);
    EXPECT_EQ(decoded, listed);
}

// Back from the readable text: the function tells the two "V" and the two "Ω" apart.
TEST(UnitTable, ReadableBackToTheLcdText) {
    const struct {
        const char16_t* readable;
        const char* function;
        const char16_t* lcd;
    } cases[] = {
        {u"V", "DC", u"V"},      {u"V", "Diode", u"V)"}, {u"Ω", "Ohm", u"*"},
        {u"Ω", "Cont", u"&  *"}, {u"kΩ", "Ohm", u"K*"},  {u"µA", "AC", u"uA"},
        {u"°C", "", u"?"},       {u"", "", u""},         {u"NULL", "", u"NULL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.readable).toStdString());
        EXPECT_EQ(LcdUnitText(QString::fromUtf16(c.readable), QString::fromLatin1(c.function)),
                  QString::fromUtf16(c.lcd));
    }
}

TEST(UnitTable, OverloadsOtherTextsAndSeparators) {
    using K = ReadingInUnits::Kind;
    const struct {
        const char* valueText;
        const char16_t* unit;
        const char* separator;
        K kind;
        const char* value;
        const char16_t* readable;
        const char* baseValue;
        const char16_t* baseUnit;
    } cases[] = {
        {"0.L", u"V", ".", K::Overload, "", u"V", "", u""},
        {"-0.L", u"mV", ".", K::Overload, "", u"mV", "", u""},
        {"0L", u"K*", ".", K::Overload, "", u"kΩ", "", u""},
        {"0L,", u"%", ",", K::Overload, "", u"%", "", u""},
        {",0L", u"V", ",", K::Overload, "", u"V", "", u""},
        {"1,2345", u"V", ",", K::Number, "1.2345", u"V", "1.2345", u"V"},
        {"1.2345", u"V", ",", K::Number, "1.2345", u"V", "1.2345", u"V"},
        {"1\u066B5", u"V", "\u066B", K::Number, "1.5", u"V", "1.5", u"V"},
        {"-0.000", u"V", ".", K::Number, "-0.000", u"V", "0", u"V"},
        {"12.34", u"xyz", ".", K::Number, "12.34", u"xyz", "", u""},
        {"NULL", u"V", ".", K::Other, "NULL", u"V", "", u""},
        {"", u"", ".", K::Other, "", u"", "", u""},
        {"1.2.3", u"V", ".", K::Other, "1.2.3", u"V", "", u""},
        {"1 2", u"V", ".", K::Other, "1 2", u"V", "", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.valueText);
        const ReadingInUnits r =
            DescribeReading(QString::fromUtf8(c.valueText), QString::fromUtf16(c.unit),
                            QString::fromUtf8(c.separator));
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.value, c.value);
        EXPECT_EQ(r.unit, QString::fromUtf16(c.readable));
        EXPECT_EQ(r.baseValue, c.baseValue);
        EXPECT_EQ(r.baseUnit, QString::fromUtf16(c.baseUnit));
    }
}

TEST(UnitTable, ShiftDecimal) {
    const struct {
        const char* digits;
        int exponent;
        const char* out;
    } cases[] = {
        {"120.30", -3, "0.1203"},
        {"1.2345", 3, "1234.5"},
        {"1.2", 6, "1200000"},
        {"00235", 0, "235"},
        {".5", 0, "0.5"},
        {"5.", 0, "5"},
        {"-0.000", -6, "0"},
        {"+1.5", -1, "0.15"},
        {"-1.5", 2, "-150"},
        {"0", 6, "0"},
        {"1", -9, "0.000000001"},
        {"", 0, ""},
        {"-", 0, ""},
        {"1,5", 0, ""},
        {"1.2.3", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.digits) + " e" + std::to_string(c.exponent));
        EXPECT_EQ(ShiftDecimal(QString::fromLatin1(c.digits), c.exponent), c.out);
    }
}

// Every reading the decoder can produce, with the separator "," and with ".":
// numbers give the scaled value in the unit shown and in the base unit, and the
// overload display is recognised as such.
TEST(UnitTable, EveryDecodedReadingIsDescribed) {
    const std::map<QString, QString> units = DecoderUnitTexts();
    for (const QString& separator : {QStringLiteral("."), QStringLiteral(",")}) {
        for (int range = 0; range <= 9; ++range)
            for (int function = 0; function <= 15; ++function)
                for (int status : {0, 1, 4, 5, 8, 9})
                    for (int option2 : {0, 8})
                        for (int option3 = 0; option3 <= 15; ++option3) {
                            const QString frame = QStringLiteral("A") + Hex(range) + "01234" +
                                                  Hex(function) + Hex(status) + "0" + Hex(option2) +
                                                  Hex(option3) + "0D";
                            const DecodeResult res = DecodeFrame(frame, separator, 22000, 22);
                            ASSERT_TRUE(res.ok) << frame.toStdString();
                            const MeterReading& m = res.reading;
                            const ReadingInUnits r =
                                DescribeReading(m.valueText, m.unitText, separator);
                            const qsizetype marks = m.valueText.count(separator);
                            SCOPED_TRACE(frame.toStdString() + " " + m.valueText.toStdString());
                            if (m.digitTexts[2] == QString(kOverloadLetter)) {
                                EXPECT_EQ(r.kind, marks <= 2 ? ReadingInUnits::Overload
                                                             : ReadingInUnits::Other);
                                continue;
                            }
                            if (marks > 1) { // several points lit: the text says no one number
                                EXPECT_EQ(r.kind, ReadingInUnits::Other);
                                continue;
                            }
                            ASSERT_EQ(r.kind, ReadingInUnits::Number);
                            EXPECT_DOUBLE_EQ(r.value.toDouble(), m.scaledValue);
                            const UnitInfo* unit = FindUnit(m.unitText);
                            ASSERT_NE(unit, nullptr);
                            EXPECT_DOUBLE_EQ(r.baseValue.toDouble(),
                                             m.scaledValue * std::pow(10.0, unit->exponent));
                        }
    }
}
