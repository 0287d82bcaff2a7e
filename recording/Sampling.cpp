#include "recording/Sampling.h"

namespace orvex {

namespace {
bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
} // namespace

std::optional<std::int32_t> ParseWholeNumber(QStringView text) {
    qsizetype i = 0;
    qsizetype end = text.size();
    while (i < end && IsBlank(text[i]))
        ++i;
    while (end > i && IsBlank(text[end - 1]))
        --end;
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
