#include "recording/Sampling.h"

namespace orvex {

QStringView TrimBlanks(QStringView text) {
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (!text.isEmpty() && blank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && blank(text.back()))
        text.chop(1);
    return text;
}

std::optional<std::int32_t> ParseWholeNumber(QStringView text) {
    text = TrimBlanks(text);
    qsizetype i = 0;
    const qsizetype end = text.size();
    bool negative = false;
    if (i < end && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == end) return std::nullopt;
    std::int64_t value = 0;
    for (; i < end; ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

QChar RecordSITimeKeyPress(QChar key) {
    if (key == QChar(8) || (key >= u'0' && key <= u'9')) return key;
    return QChar(0);
}

std::optional<EditReplacement> RecordSITimeChange(const QString& text) {
    if (ParseWholeNumber(text)) return std::nullopt;
    return EditReplacement{QStringLiteral("1"), 0, 1};
}

} // namespace orvex
