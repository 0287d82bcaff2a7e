#pragma once
// Key filter and change handler of the sampling interval edit (also the key
// filter of the chart's page-size edit), and the whole-number parser they share.

#include <QChar>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace orvex {

// A text an edit handler puts into its edit, with the selection to show.
struct EditReplacement {
    QString text;
    int selStart = 0;
    int selLength = 0;
    bool operator==(const EditReplacement&) const = default;
};

// The text without the blanks and tabs around it.
QStringView TrimBlanks(QStringView text);

// A 32-bit signed whole number: optional blanks, optional sign, decimal digits.
std::optional<std::int32_t> ParseWholeNumber(QStringView text);

// Backspace and "0".."9" pass; every other key becomes the null character.
QChar RecordSITimeKeyPress(QChar key);

// "1" with that character selected when the text is not a whole number; else none.
std::optional<EditReplacement> RecordSITimeChange(const QString& text);

} // namespace orvex
