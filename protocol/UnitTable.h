#pragma once
// Readable units for other programs.  The decoder writes its units in the
// characters of the LCD symbol font ("*" for the ohm sign, "u" for micro, ...);
// files and lines meant for spreadsheets and scripts carry them as ordinary
// text ("Ω", "µA") together with the reading scaled to the unit's base unit.

#include <QString>
#include <QStringView>

#include <span>

namespace orvex {

// One unit text the decoder can produce.
struct UnitInfo {
    const char16_t* lcdText;  // as the decoder writes it ("K*")
    const char16_t* readable; // as people write it ("kΩ")
    const char16_t* baseUnit; // the unit without its prefix ("Ω")
    int exponent;             // 1 lcdText = 10^exponent baseUnit (3 for kΩ)
};

// Every unit text of the decoder, the empty text (a reading without a unit)
// included.  The diode's "V)" reads "V" and the continuity unit reads "Ω".
std::span<const UnitInfo> UnitTable();
// The row of an LCD unit text; nullptr for a text the decoder never writes.
const UnitInfo* FindUnit(QStringView lcdText);
// The LCD unit text for a readable unit.  "V" and "Ω" each stand for two LCD
// texts; the function text decides ("Diode" gives "V)", "Cont" gives "&  *").
// A text that is no readable unit is returned as it is.
QString LcdUnitText(QStringView readable, QStringView functionText);

// A value text as the record table holds it ("01.234", "-0.L"), read against its
// unit.
struct ReadingInUnits {
    enum Kind {
        Number,   // a decimal number
        Overload, // the meter's overload display ("0.L", "-0L", "0L.")
        Other     // anything else (a text loaded from a file)
    };
    Kind kind = Other;
    // Number: the digits of the text with "." as the decimal mark, nothing else
    // changed ("01.234"); Overload: empty; Other: the text as it is.
    QString value;
    QString unit;      // readable unit; an unknown unit text as it is
    QString baseValue; // Number with a known unit: plain decimal in the base unit
                       // ("0.1203" for 120.30 mV), no exponent; else empty
    QString baseUnit;  // known unit: its base unit; else empty
};

// `decimalSeparator` is the mark the value text was written with; "." and ","
// are accepted as well (a value text never holds a group separator).
ReadingInUnits DescribeReading(QStringView valueText, QStringView unitText,
                               QStringView decimalSeparator);

// The decimal number `digits` (optional sign, digits, at most one "." ) times
// 10^exponent, as a plain decimal without leading or trailing zeros ("0" for
// zero, never "-0").  Empty when `digits` is not such a number.
QString ShiftDecimal(QStringView digits, int exponent);

} // namespace orvex
