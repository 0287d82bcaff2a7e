// File names from bytes to QString and back without loss.

#include "files/FileNames.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace orvex;

TEST(FileNames, EveryByteStringComesBackUnchangedAndValidNamesMatchQt) {
    const QByteArray cases[] = {
        "plain.txt",
        "caf\xc3\xa9/\xe2\x82\xac.xml", // valid UTF-8
        "\xf0\x9f\x98\x80 smile.txt",   // outside the basic plane
        "\xe9t\xe9.txt",                // Latin-1 bytes
        "\xc3",                         // a sequence cut short
        "\xc0\xaf\xe0\x80\xaf",         // overlong forms
        "\xed\xb2\x80\xed\xa0\x80",     // encoded surrogates
        "\xf4\x90\x80\x80\xff\xfe",     // beyond U+10FFFF, bytes never in UTF-8
        "\xf0\x90\x82\x80\x80",         // U+10080 (low surrogate DC80) then a lone byte
        "",
    };
    for (const QByteArray& bytes : cases) {
        const QString name = DecodeFileName(bytes);
        EXPECT_EQ(EncodeFileName(name), bytes) << bytes.toHex().toStdString();
        if (QString::fromUtf8(bytes).toUtf8() == bytes) {
            EXPECT_EQ(name, QFile::decodeName(bytes)) << bytes.toHex().toStdString();
        }
    }
    // Names typed in the window convert as Qt converts them.
    const QString typed = QStringLiteral("Mess\u00fcng \u03a9 \U0001F600.txt");
    EXPECT_EQ(EncodeFileName(typed), QFile::encodeName(typed));
}
