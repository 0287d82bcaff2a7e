#pragma once
// The limit judge: the limit edits' key filter and change handler, the separator
// normalisation of the limit texts, and the verdict of a reading.

#include "recording/Sampling.h"

#include <QColor>
#include <QString>
#include <QStringView>

#include <optional>

namespace orvex {

enum class Verdict { Pass, Fail };

// A number written in the user's format: optional blanks around it, optional
// sign, digits with at most one decimal separator (the first character of
// `decimalSeparator`; none when it is empty), at least one digit. No group
// separators, no exponent.
std::optional<double> ParseLocaleNumber(QStringView text, const QString& decimalSeparator);

// Key filter of T1HI and T1LO: backspace, "-", digits and the first character of
// the decimal separator pass; every other key becomes the null character.
QChar T1HIKeyPress(QChar key, const QString& decimalSeparator);

// Change handler of T1HI and T1LO: "-" (blanks aside) becomes "-0" with the 0
// selected; any other text that is not a number becomes "0" with it selected.
// None when the text stays as it is.
std::optional<EditReplacement> T1HIChange(const QString& text, const QString& decimalSeparator);

// Replaces the first occurrence of the other separator ("," when the separator is
// ".", "." otherwise) by the decimal separator. Write the result back only when it
// differs from `text`.
QString NormaliseLimitSeparator(const QString& text, const QString& decimalSeparator);

// The five digit characters of a frame string (positions 3 to 7).
inline QStringView FrameDigits(const QString& frameText) {
    return QStringView(frameText).mid(2, 5);
}

// The verdict of one reading. A value text that is not a number (every overload)
// fails; so do the digits "22580"; otherwise low <= value <= high passes. A limit
// text that is not a number counts as 0, which is what its edit would show.
Verdict JudgeReading(const QString& valueText, QStringView frameDigits, const QString& lowText,
                     const QString& highText, const QString& decimalSeparator);

QString VerdictText(Verdict verdict); // "Pass" / "Fail"
QColor VerdictColor(Verdict verdict); // rgb(0,128,0) / rgb(255,0,0)

} // namespace orvex
