#include "protocol/UnitTable.h"

#include <array>

namespace orvex {

namespace {

// clang-format off
constexpr std::array<UnitInfo, 19> kUnits{{
    {u"",     u"",    u"",    0},  // functions without a unit
    {u"V",    u"V",   u"V",   0},
    {u"mV",   u"mV",  u"V",  -3},
    {u"V)",   u"V",   u"V",   0},  // diode
    {u"A",    u"A",   u"A",   0},
    {u"mA",   u"mA",  u"A",  -3},
    {u"uA",   u"µA",  u"A",  -6},
    {u"*",    u"Ω",   u"Ω",   0},
    {u"K*",   u"kΩ",  u"Ω",   3},
    {u"M*",   u"MΩ",  u"Ω",   6},
    {u"&  *", u"Ω",   u"Ω",   0},  // continuity
    {u"Hz",   u"Hz",  u"Hz",  0},
    {u"kHz",  u"kHz", u"Hz",  3},
    {u"MHz",  u"MHz", u"Hz",  6},
    {u"nF",   u"nF",  u"F",  -9},
    {u"uF",   u"µF",  u"F",  -6},
    {u"mF",   u"mF",  u"F",  -3},
    {u"?",    u"°C",  u"°C",  0},  // temperature
    {u"%",    u"%",   u"%",   0},  // duty cycle
}};
// clang-format on

bool Equals(QStringView a, const char16_t* b) {
    return a == QStringView(b);
}

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Length of the decimal mark at text[i], 0 when there is none.
qsizetype MarkAt(QStringView text, qsizetype i, QStringView separator) {
    if (!separator.isEmpty() && text.sliced(i).startsWith(separator)) return separator.size();
    if (text[i] == u'.' || text[i] == u',') return 1;
    return 0;
}

// The readable and base texts of every row as QStrings, built once: a reading
// then copies a shared string instead of converting one.
struct UnitStrings {
    QString readable;
    QString baseUnit;
};

const UnitStrings& StringsOf(const UnitInfo& unit) {
    static const std::array<UnitStrings, kUnits.size()> strings = [] {
        std::array<UnitStrings, kUnits.size()> s;
        for (std::size_t i = 0; i < kUnits.size(); ++i)
            s[i] = {QString::fromUtf16(kUnits[i].readable), QString::fromUtf16(kUnits[i].baseUnit)};
        return s;
    }();
    return strings[static_cast<std::size_t>(&unit - kUnits.data())];
}

} // namespace

std::span<const UnitInfo> UnitTable() {
    return kUnits;
}

const UnitInfo* FindUnit(QStringView lcdText) {
    for (const UnitInfo& u : UnitTable()) {
        if (Equals(lcdText, u.lcdText)) return &u;
    }
    return nullptr;
}

QString LcdUnitText(QStringView readable, QStringView functionText) {
    if (Equals(readable, u"V") && functionText == u"Diode") return QStringLiteral("V)");
    if (Equals(readable, u"Ω") && functionText == u"Cont") return QStringLiteral("&  *");
    for (const UnitInfo& u : UnitTable()) {
        if (Equals(readable, u.readable)) return QString::fromUtf16(u.lcdText);
    }
    return readable.toString();
}

QString ShiftDecimal(QStringView digits, int exponent) {
    qsizetype i = 0;
    bool negative = false;
    if (i < digits.size() && (digits[i] == u'-' || digits[i] == u'+')) {
        negative = digits[i] == u'-';
        ++i;
    }
    QString all; // the digits without the mark
    qsizetype point = -1;
    for (; i < digits.size(); ++i) {
        const QChar c = digits[i];
        if (IsDigit(c)) {
            all.append(c);
        } else if (c == u'.' && point < 0) {
            point = all.size();
        } else {
            return {};
        }
    }
    if (all.isEmpty()) return {};
    if (point < 0) point = all.size();
    point += exponent;
    // Pad so that the point falls inside the digits.
    if (point < 1) {
        all.prepend(QString(1 - point, u'0'));
        point = 1;
    }
    if (point > all.size()) all.append(QString(point - all.size(), u'0'));
    qsizetype first = 0;
    while (first < point - 1 && all[first] == u'0')
        ++first;
    qsizetype last = all.size();
    while (last > point && all[last - 1] == u'0')
        --last;
    QString out = all.sliced(first, point - first);
    if (last > point) out += u'.' + all.sliced(point, last - point);
    const bool zero = out == u"0";
    if (negative && !zero) out.prepend(u'-');
    return out;
}

ReadingInUnits DescribeReading(QStringView valueText, QStringView unitText,
                               QStringView decimalSeparator) {
    ReadingInUnits out;
    const UnitInfo* unit = FindUnit(unitText);
    if (unit) {
        out.unit = StringsOf(*unit).readable;
        out.baseUnit = StringsOf(*unit).baseUnit;
    } else {
        out.unit = unitText.toString();
    }

    // Sign, digits, decimal marks and overload letters, in one pass.
    QString number;
    number.reserve(valueText.size());
    int digits = 0, marks = 0, letters = 0;
    qsizetype i = 0;
    if (!valueText.isEmpty() && (valueText[0] == u'-' || valueText[0] == u'+')) {
        number.append(valueText[0]);
        ++i;
    }
    bool other = false;
    while (i < valueText.size() && !other) {
        const QChar c = valueText[i];
        if (IsDigit(c)) {
            number.append(c);
            ++digits;
            ++i;
        } else if (c == u'L') {
            ++letters;
            ++i;
        } else if (const qsizetype mark = MarkAt(valueText, i, decimalSeparator)) {
            number.append(u'.');
            ++marks;
            i += mark;
        } else {
            other = true;
        }
    }
    if (!other && letters == 0 && digits > 0 && marks <= 1) {
        out.kind = ReadingInUnits::Number;
        out.value = number;
        if (unit) out.baseValue = ShiftDecimal(number, unit->exponent);
    } else if (!other && letters == 1 && marks <= 2) {
        out.kind = ReadingInUnits::Overload;
        out.baseUnit.clear();
    } else {
        out.kind = ReadingInUnits::Other;
        out.value = valueText.toString();
        out.baseUnit.clear();
    }
    return out;
}

} // namespace orvex
