#include "recording/LimitJudge.h"

#include <charconv>
#include <string>

namespace orvex {

std::optional<double> ParseLocaleNumber(QStringView text, const QString& decimalSeparator) {
    const bool hasSeparator = !decimalSeparator.isEmpty();
    const QChar separator = hasSeparator ? decimalSeparator[0] : QChar();
    text = TrimBlanks(text);
    qsizetype i = 0;
    const qsizetype end = text.size();

    std::string plain; // the same number in the C form, for from_chars
    plain.reserve(static_cast<std::size_t>(end - i) + 2);
    if (i < end && (text[i] == u'-' || text[i] == u'+')) {
        if (text[i] == u'-') plain.push_back('-');
        ++i;
    }
    plain.push_back('0'); // from_chars takes no leading '.'; a leading 0 is harmless
    bool digits = false;
    bool point = false;
    for (; i < end; ++i) {
        const QChar c = text[i];
        if (c >= u'0' && c <= u'9') {
            plain.push_back(static_cast<char>(c.unicode()));
            digits = true;
        } else if (hasSeparator && c == separator && !point) {
            plain.push_back('.');
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    if (plain.back() == '.') plain.push_back('0');
    double value = 0.0;
    const char* first = plain.data();
    const char* last = plain.data() + plain.size();
    const auto result = std::from_chars(first, last, value);
    if (result.ec != std::errc() || result.ptr != last) return std::nullopt;
    return value;
}

QChar T1HIKeyPress(QChar key, const QString& decimalSeparator) {
    if (key == QChar(8) || key == u'-' || (key >= u'0' && key <= u'9')) return key;
    if (!decimalSeparator.isEmpty() && key == decimalSeparator[0]) return key;
    return QChar(0);
}

std::optional<EditReplacement> T1HIChange(const QString& text, const QString& decimalSeparator) {
    if (text.trimmed() == u"-") return EditReplacement{QStringLiteral("-0"), 1, 1};
    if (ParseLocaleNumber(text, decimalSeparator)) return std::nullopt;
    return EditReplacement{QStringLiteral("0"), 0, 1};
}

QString NormaliseLimitSeparator(const QString& text, const QString& decimalSeparator) {
    const QString other = decimalSeparator == u"." ? QStringLiteral(",") : QStringLiteral(".");
    const qsizetype at = text.indexOf(other);
    if (at < 0) return text;
    QString out = text;
    out.replace(at, other.size(), decimalSeparator);
    return out;
}

Verdict JudgeReading(const QString& valueText, QStringView frameDigits, const QString& lowText,
                     const QString& highText, const QString& decimalSeparator) {
    const double value = ParseLocaleNumber(valueText, decimalSeparator).value_or(-999999.0);
    if (value == -999999.0) return Verdict::Fail;
    if (frameDigits == u"22580") return Verdict::Fail;
    const double low = ParseLocaleNumber(lowText, decimalSeparator).value_or(0.0);
    const double high = ParseLocaleNumber(highText, decimalSeparator).value_or(0.0);
    if (low > value) return Verdict::Fail;
    if (value > high) return Verdict::Fail;
    return Verdict::Pass;
}

QString VerdictText(Verdict verdict) {
    return verdict == Verdict::Pass ? QStringLiteral("Pass") : QStringLiteral("Fail");
}

QColor VerdictColor(Verdict verdict) {
    return verdict == Verdict::Pass ? QColor(0, 128, 0) : QColor(255, 0, 0);
}

} // namespace orvex
