#include "protocol/MeterReading.h"

#include <QLocale>

#include <algorithm>
#include <array>

namespace orvex {

namespace {

using I = Indicator;

constexpr std::array<const char*, kIndicatorCount> kIndicatorNames{
    "LcdP0", "LcdP1",  "LcdP2",   "LcdP3",   "LcdV",    "LCDA",   "LCDHz",   "LCDF",  "LCDohm",
    "LCDk",  "LCDM1",  "Lcdm",    "LCDu",    "LCDn",    "LCDBF",  "LCDDI",   "LCDFS", "LCDFm",
    "LcdAC", "LcdDc1", "LcdAuto", "LcdManu", "LCDHold", "LCDREL", "LCDBATT", "LcdFH"};

// Value of an upper-case hexadecimal digit, or -1.
int HexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}

QString DescribeChar(QChar c) {
    const char16_t u = c.unicode();
    if (u >= 0x20 && u < 0x7F) return QStringLiteral("\"%1\"").arg(c);
    return QStringLiteral("U+%1").arg(static_cast<unsigned>(u), 4, 16, QLatin1Char('0')).toUpper();
}

// One sub-row of a range column: the decimal point and prefix lit, and the unit.
struct RangeRow {
    I point;
    I prefix; // Indicator::Count: no prefix
    const char16_t* unit;
};

constexpr I kNone = I::Count;

constexpr std::array<RangeRow, 8> kFrequencyRanges{{{I::LcdP2, kNone, u"Hz"},
                                                    {I::LcdP3, kNone, u"Hz"},
                                                    {kNone, kNone, nullptr}, // range 2: nothing
                                                    {I::LcdP1, I::LCDk, u"kHz"},
                                                    {I::LcdP2, I::LCDk, u"kHz"},
                                                    {I::LcdP0, I::LCDM1, u"MHz"},
                                                    {I::LcdP1, I::LCDM1, u"MHz"},
                                                    {I::LcdP2, I::LCDM1, u"MHz"}}};
constexpr std::array<RangeRow, 7> kOhmRanges{{{I::LcdP2, kNone, u"*"},
                                              {I::LcdP0, I::LCDk, u"K*"},
                                              {I::LcdP1, I::LCDk, u"K*"},
                                              {I::LcdP2, I::LCDk, u"K*"},
                                              {I::LcdP0, I::LCDM1, u"M*"},
                                              {I::LcdP1, I::LCDM1, u"M*"},
                                              {I::LcdP2, I::LCDM1, u"M*"}}};
constexpr std::array<RangeRow, 8> kCapRanges{{{I::LcdP1, I::LCDn, u"nF"},
                                              {I::LcdP2, I::LCDn, u"nF"},
                                              {I::LcdP0, I::LCDu, u"uF"},
                                              {I::LcdP1, I::LCDu, u"uF"},
                                              {I::LcdP2, I::LCDu, u"uF"},
                                              {I::LcdP0, I::Lcdm, u"mF"},
                                              {I::LcdP1, I::Lcdm, u"mF"},
                                              {I::LcdP2, I::Lcdm, u"mF"}}};
constexpr std::array<RangeRow, 1> kAmpRanges0{{{I::LcdP1, kNone, u"A"}}};
constexpr std::array<RangeRow, 4> kAmpRanges9{{{I::LcdP2, kNone, u"A"},
                                               {I::LcdP1, kNone, u"A"},
                                               {I::LcdP2, kNone, u"A"},
                                               {I::LcdP3, kNone, u"A"}}};
constexpr std::array<RangeRow, 5> kVoltRanges{{{I::LcdP0, kNone, u"V"},
                                               {I::LcdP1, kNone, u"V"},
                                               {I::LcdP2, kNone, u"V"},
                                               {I::LcdP3, kNone, u"V"},
                                               {I::LcdP2, I::Lcdm, u"mV"}}};
constexpr std::array<RangeRow, 2> kMicroAmpRanges{
    {{I::LcdP2, I::LCDu, u"uA"}, {I::LcdP3, I::LCDu, u"uA"}}};
constexpr std::array<RangeRow, 2> kMilliAmpRanges{
    {{I::LcdP1, I::Lcdm, u"mA"}, {I::LcdP2, I::Lcdm, u"mA"}}};

// Applies the sub-row of the range; true when one was applied.
template <std::size_t N>
bool ApplyRange(MeterReading& r, const std::array<RangeRow, N>& rows, int range) {
    if (range < 0 || static_cast<std::size_t>(range) >= N) return false;
    const RangeRow& row = rows[static_cast<std::size_t>(range)];
    if (row.point == kNone) return false;
    r.litSet.add(row.point);
    if (row.prefix != kNone) r.litSet.add(row.prefix);
    r.unitText = QString::fromUtf16(row.unit);
    return true;
}

void Remove(MeterReading& r, std::initializer_list<I> list) {
    for (I i : list)
        r.litSet.remove(i);
}

void DutyBlock(MeterReading& r, std::initializer_list<I> removed, bool lightP3,
               const char16_t* function) {
    r.litSet.add(I::LCDBF);
    Remove(r, removed);
    if (lightP3) r.litSet.add(I::LcdP3);
    r.unitText = QStringLiteral("%");
    r.functionText = QString::fromUtf16(function);
}

// The function nibble's row, its range sub-row and (when flagged) its duty block.
void ApplyFunctionRow(MeterReading& r, bool duty) {
    const int range = r.rangeNibble;
    switch (r.functionNibble) {
    case 0:
        r.litSet.add(I::LCDA);
        ApplyRange(r, kAmpRanges0, range);
        if (duty)
            DutyBlock(r, {I::LCDA, I::Lcdm, I::LcdV, I::LCDHz, I::LcdP0, I::LcdP1, I::LcdP2}, true,
                      u"duty");
        break;
    case 1:
        r.litSet.add(I::LCDDI);
        r.litSet.add(I::LcdV);
        r.litSet.add(I::LcdP0);
        r.pointIndex = 0;
        r.unitText = QStringLiteral("V)");
        r.functionText = QStringLiteral("Diode");
        break;
    case 2:
        r.litSet.add(I::LCDHz);
        if (ApplyRange(r, kFrequencyRanges, range)) r.functionText = QStringLiteral("Frequency");
        if (duty)
            DutyBlock(r, {I::LCDk, I::LCDM1, I::LCDHz, I::LcdP0, I::LcdP1, I::LcdP2}, true,
                      u"Duty");
        break;
    case 3:
        r.litSet.add(I::LCDohm);
        if (ApplyRange(r, kOhmRanges, range)) r.functionText = QStringLiteral("Ohm");
        break;
    case 4:
        r.litSet.add(I::LCDFS);
        r.pointIndex = 3;
        r.unitText = QStringLiteral("?");
        r.functionText = QStringLiteral("Temperature");
        break;
    case 5:
        r.litSet.add(I::LCDFm);
        r.litSet.add(I::LCDohm);
        r.litSet.add(I::LcdP2);
        r.unitText = QStringLiteral("&  *");
        r.functionText = QStringLiteral("Cont");
        break;
    case 6:
        r.litSet.add(I::LCDF);
        if (ApplyRange(r, kCapRanges, range)) r.functionText = QStringLiteral("Cap");
        break;
    case 9:
        r.litSet.add(I::LCDA);
        ApplyRange(r, kAmpRanges9, range);
        break;
    case 11:
        r.litSet.add(I::LcdV);
        ApplyRange(r, kVoltRanges, range);
        if (duty) DutyBlock(r, {I::LcdV, I::LCDHz, I::LcdP0, I::LcdP1, I::LcdP2}, true, u"Duty");
        break;
    case 13:
        r.litSet.add(I::LCDA);
        ApplyRange(r, kMicroAmpRanges, range);
        if (duty)
            DutyBlock(r, {I::LCDA, I::LCDu, I::LcdV, I::LCDHz, I::LcdP0, I::LcdP1, I::LcdP2}, true,
                      u"duty");
        break;
    case 15:
        r.litSet.add(I::LCDA);
        ApplyRange(r, kMilliAmpRanges, range);
        if (duty)
            DutyBlock(r,
                      {I::LCDA, I::Lcdm, I::LcdV, I::LCDHz, I::LcdP0, I::LcdP1, I::LcdP2, I::LcdP3},
                      false, u"duty");
        break;
    default: // 7, 8, 10, 12, 14
        break;
    }
}

// The option-3 nibble's whole value.
void ApplyOption3Row(MeterReading& r, int option3) {
    switch (option3) {
    case 4:
    case 6:
        r.functionText = QStringLiteral("AC");
        break;
    case 7:
        Remove(r, {I::LcdV, I::LCDA, I::LCDu, I::Lcdm, I::LcdP0, I::LcdP1});
        r.litSet.add(I::LCDHz);
        r.litSet.add(I::LcdP2);
        r.unitText = QStringLiteral("Hz");
        r.functionText = QStringLiteral("Frequency");
        break;
    case 8:
    case 10:
        r.functionText = QStringLiteral("DC");
        break;
    case 9:
        Remove(r, {I::LcdP0, I::LcdP1, I::LcdP2, I::LcdV, I::LCDA, I::LCDu, I::Lcdm});
        r.litSet.add(I::LCDBF);
        r.unitText = QStringLiteral("%");
        r.functionText = QStringLiteral("duty");
        break;
    case 11:
        Remove(r, {I::LcdV, I::LcdP0, I::LcdP1, I::LcdP2, I::LcdP3, I::Lcdm, I::LCDA, I::LCDu});
        r.litSet.add(I::LCDHz);
        if (ApplyRange(r, kFrequencyRanges, r.rangeNibble))
            r.functionText = QStringLiteral("Frequency");
        break;
    default: // 0-3, 5, 12-15
        break;
    }
}

// Decimal integer of a text of digits with an optional leading "-"; false when
// the text holds anything else or no digit at all.
bool ParseDecimal(const QString& text, long long& value) {
    int i = 0;
    bool negative = false;
    if (i < text.size() && text.at(i) == u'-') {
        negative = true;
        ++i;
    }
    if (i >= text.size()) return false;
    long long n = 0;
    for (; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (u < u'0' || u > u'9') return false;
        n = n * 10 + (u - u'0');
    }
    value = negative ? -n : n;
    return true;
}

void SetOverloadDigits(std::array<QString, 5>& d) {
    d = {QString(), QStringLiteral("0"), QString(kOverloadLetter), QString(), QString()};
}

} // namespace

const char* IndicatorName(Indicator indicator) {
    const auto index = static_cast<std::size_t>(indicator);
    return index < kIndicatorNames.size() ? kIndicatorNames[index] : "";
}

QStringList IndicatorSet::names() const {
    QStringList list;
    for (int i = 0; i < kIndicatorCount; ++i) {
        const auto indicator = static_cast<Indicator>(i);
        if (contains(indicator)) list.append(QLatin1String(IndicatorName(indicator)));
    }
    std::sort(list.begin(), list.end(),
              [](const QString& a, const QString& b) { return a.compare(b) < 0; });
    return list;
}

QString BitText(const QString& frameText) {
    QString out;
    out.reserve(48);
    QString group;
    for (int index = 1; index <= 12; ++index) {
        if (index < frameText.size()) {
            const int v = HexValue(frameText.at(index));
            if (v >= 0) {
                group.clear();
                for (int w = 8; w > 0; w >>= 1)
                    group.append((v & w) ? u'1' : u'0');
            }
        }
        out += group;
    }
    return out;
}

DecodeResult DecodeFrame(const QString& frameText, const QString& decimalSeparator,
                         int fullScaleCounts, int barOverloadPosition) {
    DecodeResult result;
    MeterReading& r = result.reading;
    r.bitText = BitText(frameText);

    if (frameText.size() < 13) {
        result.error = QStringLiteral("frame too short: %1 characters").arg(frameText.size());
        return result;
    }
    // Nibbles of frame positions 2..13 (index 1..12).
    std::array<int, 14> nibble{};
    for (int index = 1; index <= 12; ++index) {
        nibble[static_cast<std::size_t>(index + 1)] = HexValue(frameText.at(index));
        if (nibble[static_cast<std::size_t>(index + 1)] < 0) {
            result.error = QStringLiteral("position %1 holds %2, not a hexadecimal digit")
                               .arg(index + 1)
                               .arg(DescribeChar(frameText.at(index)));
            return result;
        }
    }
    const int status = nibble[9];
    const int option1 = nibble[10];
    const int option2 = nibble[11];
    const int option3 = nibble[12];
    const int option4 = nibble[13];
    const bool dutyFlag = status & 8, minusFlag = status & 4, batteryFlag = status & 2,
               overloadFlag = status & 1;
    const bool relativeFlag = option1 & 2;
    const bool dutyOverloadFlag = option2 & 8;
    const bool dcFlag = option3 & 8, acFlag = option3 & 4, autoFlag = option3 & 2;
    const bool holdFlag = option4 & 2;

    // Digits.
    std::array<QString, 5>& d = r.digitTexts;
    for (int i = 0; i < 5; ++i)
        d[static_cast<std::size_t>(i)] = QString(frameText.at(2 + i));
    if (dutyOverloadFlag) SetOverloadDigits(d);

    r.functionNibble = nibble[8];
    if (nibble[2] > 9) {
        result.error =
            QStringLiteral("range nibble %1 is not a decimal digit").arg(frameText.at(1));
        return result;
    }
    r.rangeNibble = nibble[2];

    ApplyFunctionRow(r, dutyFlag);
    ApplyOption3Row(r, option3);

    if (minusFlag) {
        r.litSet.add(I::LcdFH);
        r.signText = QStringLiteral("-");
    }
    if (batteryFlag) r.litSet.add(I::LCDBATT);
    if (overloadFlag) SetOverloadDigits(d);
    if (relativeFlag) r.litSet.add(I::LCDREL);
    if (dutyOverloadFlag) {
        r.unitText = QStringLiteral("%");
        r.functionText = QStringLiteral("Duty");
        r.litSet.add(I::LCDBF);
        Remove(r, {I::LcdV, I::LCDHz, I::LcdP0, I::LcdP1, I::LcdP2});
        r.litSet.add(I::LcdP3);
    }

    auto setExactly = [&r](I i, bool on) { on ? r.litSet.add(i) : r.litSet.remove(i); };
    setExactly(I::LcdDc1, dcFlag);
    setExactly(I::LcdAC, acFlag);
    setExactly(I::LcdAuto, autoFlag);
    if (holdFlag) r.litSet.add(I::LCDHold);
    setExactly(I::LcdManu, !autoFlag);
    r.rangeModeText = autoFlag ? QStringLiteral("AUTO") : QStringLiteral("MANU");

    constexpr std::array<I, 4> points{I::LcdP0, I::LcdP1, I::LcdP2, I::LcdP3};
    for (int p = 0; p < 4; ++p)
        if (r.litSet.contains(points[static_cast<std::size_t>(p)])) r.pointIndex = p;

    // Counts.
    const QString overloadKey = r.signText + d[1] + d[2];
    const QString overloadMark = QStringLiteral("0") + QChar(kOverloadLetter);
    if (overloadKey == overloadMark) {
        r.counts = fullScaleCounts;
    } else if (overloadKey == QStringLiteral("-") + overloadMark) {
        r.counts = -static_cast<double>(fullScaleCounts);
    } else {
        long long n = 0;
        const QString text = r.signText + d[0] + d[1] + d[2] + d[3] + d[4];
        if (!ParseDecimal(text, n)) {
            result.error = QStringLiteral("digits \"%1\" are not a decimal number").arg(text);
            return result;
        }
        r.counts = static_cast<double>(n);
    }

    // Scaled value: a division, so that the result is the nearest double to the
    // decimal reading (12345 / 10000 is 1.2345; 12345 * 0.0001 is not).
    constexpr std::array<double, 4> divisors{10000.0, 1000.0, 100.0, 10.0};
    constexpr std::array<double, 4> axisRanges{22.0, 22.0, 220.0, 2200.0};
    r.scaledValue = r.counts;
    for (std::size_t p = 0; p < 4; ++p) {
        if (!r.litSet.contains(points[p])) continue;
        r.scaledValue = r.counts / divisors[p];
        r.axisRanges.push_back(axisRanges[p]);
    }
    const bool overloadShown = d[2] == QChar(kOverloadLetter);
    if (overloadShown) r.scaledValue = r.counts;

    // Value text.
    std::array<QString, 4> sep;
    for (std::size_t p = 0; p < 4; ++p)
        if (r.litSet.contains(points[p])) sep[p] = decimalSeparator;
    if (overloadShown)
        r.valueText =
            r.signText + d[0] + sep[0] + d[1] + sep[1] + QStringLiteral("L") + sep[3] + d[4];
    else
        r.valueText =
            r.signText + d[0] + sep[0] + d[1] + sep[1] + d[2] + sep[2] + d[3] + sep[3] + d[4];

    // Bar graph position.
    if (d[1] + d[2] == overloadMark) {
        r.barPosition = barOverloadPosition;
    } else {
        long long n = 0;
        if (!ParseDecimal(d[0] + d[1], n)) {
            result.error =
                QStringLiteral("digits \"%1\" are not a decimal number").arg(d[0] + d[1]);
            return result;
        }
        r.barPosition = n < 2 ? 1 : static_cast<int>(n);
    }

    result.ok = true;
    return result;
}

QString ReadDecimalSeparator() {
    return QLocale::system().decimalPoint();
}

bool MeasurementTracker::Observe(const MeterReading& reading) {
    const bool changed = reading.unitText != previousUnitText ||
                         reading.pointIndex != previousPointIndex ||
                         reading.functionText != previousFunctionText;
    if (changed) {
        previousUnitText = reading.unitText;
        previousFunctionText = reading.functionText;
    }
    previousPointIndex = reading.pointIndex;
    return changed;
}

} // namespace orvex
