#pragma once
// The decoded state of the meter's display, rebuilt from nothing by every frame.

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

namespace orvex {

// Every indicator of the LCD panel, named as the panel's controls are.
// clang-format off
enum class Indicator : std::uint8_t {
    LcdP0, LcdP1, LcdP2, LcdP3,
    LcdV, LCDA, LCDHz, LCDF, LCDohm, LCDk, LCDM1, Lcdm, LCDu, LCDn,
    LCDBF, LCDDI, LCDFS, LCDFm,
    LcdAC, LcdDc1, LcdAuto, LcdManu, LCDHold, LCDREL, LCDBATT, LcdFH,
    Count
};
// clang-format on

constexpr int kIndicatorCount = static_cast<int>(Indicator::Count);

// The control name of an indicator ("LcdP0", "LCDHz", ...).
const char* IndicatorName(Indicator indicator);

// A small set of indicators (one bit each).
class IndicatorSet {
  public:
    void add(Indicator i) { bits_ |= bit(i); }
    void remove(Indicator i) { bits_ &= ~bit(i); }
    bool contains(Indicator i) const { return (bits_ & bit(i)) != 0; }
    bool empty() const { return bits_ == 0; }
    std::uint32_t bits() const { return bits_; }
    // Names of the lit indicators, sorted by name (plain byte order).
    QStringList names() const;
    bool operator==(const IndicatorSet&) const = default;

  private:
    static std::uint32_t bit(Indicator i) { return 1u << static_cast<unsigned>(i); }
    std::uint32_t bits_ = 0;
};

// The overload letter as stored in the digit texts ("@" in the LCD font; "L" as plain text).
inline constexpr char16_t kOverloadLetter = u'@';

struct MeterReading {
    int rangeNibble = 0;
    int functionNibble = 0;
    std::array<QString, 5> digitTexts; // d1..d5
    QString signText;                  // "" or "-"
    IndicatorSet litSet;
    int pointIndex = 0;
    QString unitText;
    QString functionText;
    QString rangeModeText;
    QString valueText;
    double counts = 0.0;
    double scaledValue = 0.0;

    // Bar graph position (the last step of the frame handling).
    int barPosition = 0;
    // Diagnostic form of frame positions 2..13: four binary digits per nibble.
    QString bitText;
    // Vertical chart ranges set while the decimal points are examined, in order:
    // each r means SetAxisMax(r) then SetAxisMin(-r).
    std::vector<double> axisRanges;
};

struct DecodeResult {
    bool ok = false;
    MeterReading reading; // complete when ok
    QString error;        // why the frame could not be decoded, when !ok
};

// The diagnostic bit form of frame positions 2..13: four binary digits per nibble,
// most significant first (48 characters).  A position that is missing or not an
// upper-case hexadecimal digit repeats the group before it (nothing at the start).
QString BitText(const QString& frameText);

// Decodes a 14-character frame string ("A" + 12 nibbles + "D").  Pure: depends on
// nothing but its arguments.  Never throws; an undecodable frame gives ok == false.
// Undecodable: fewer than 13 characters, a character at positions 2..13 that is not
// an upper-case hexadecimal digit, a range nibble above 9, or digits that have to be
// read as a number but are not decimal.  Positions 1 and 14 are not examined (the
// frame check belongs to the caller) and characters past 14 are ignored.
// reading.bitText is filled even when the frame is undecodable.
DecodeResult DecodeFrame(const QString& frameText, const QString& decimalSeparator,
                         int fullScaleCounts, int barOverloadPosition);

// The decimal separator of the user's locale (QLocale::system()); empty when unknown.
QString ReadDecimalSeparator();

// Step 21's change-of-measurement detection.  Starts with previousUnitText "113"
// so the first frame counts as a change.
struct MeasurementTracker {
    QString previousUnitText = QStringLiteral("113");
    QString previousFunctionText;
    int previousPointIndex = 0;

    // True when unit, function or decimal point differ from the previous reading;
    // afterwards the reading becomes the previous one.
    bool Observe(const MeterReading& reading);
};

} // namespace orvex
