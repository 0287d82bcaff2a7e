#include "recording/Sampling.h"

#include <gtest/gtest.h>

using namespace orvex;

TEST(RecordSITimeEdit, KeyFilterPassesDigitsAndBackspaceOnly) {
    for (char16_t c = 0; c < 128; ++c) {
        const bool accepted = c == 8 || (c >= u'0' && c <= u'9');
        EXPECT_EQ(RecordSITimeKeyPress(QChar(c)), accepted ? QChar(c) : QChar(0)) << int(c);
    }
    EXPECT_EQ(RecordSITimeKeyPress(QChar(0x0663)), QChar(0)); // Arabic-Indic digit three
}

TEST(RecordSITimeEdit, ChangeHandlerPutsOneForNonNumbers) {
    const EditReplacement one{"1", 0, 1};
    struct Case {
        const char* text;
        bool replaced;
    } cases[] = {{"10", false}, {"0", false}, {"2147483647", false},   {"-2147483648", false},
                 {"", true},    {"-", true},  {"2147483648", true},    {"1.5", true},
                 {"1a", true},  {"+", true},  {"99999999999999", true}};
    for (const Case& c : cases) {
        const auto r = RecordSITimeChange(QString::fromLatin1(c.text));
        EXPECT_EQ(r.has_value(), c.replaced) << c.text;
        if (r) {
            EXPECT_EQ(*r, one) << c.text;
        }
    }
}

TEST(WholeNumber, Parses32BitSignedNumbers) {
    EXPECT_EQ(ParseWholeNumber(u"42"), 42);
    EXPECT_EQ(ParseWholeNumber(u"-7"), -7);
    EXPECT_EQ(ParseWholeNumber(u"+7"), 7);
    EXPECT_EQ(ParseWholeNumber(u"007"), 7);
    EXPECT_EQ(ParseWholeNumber(u" 12 "), 12);
    EXPECT_EQ(ParseWholeNumber(u"-2147483648"), -2147483647 - 1);
    EXPECT_FALSE(ParseWholeNumber(u"2147483648"));
    EXPECT_FALSE(ParseWholeNumber(u"1 2"));
    EXPECT_FALSE(ParseWholeNumber(u"0x10"));
    EXPECT_FALSE(ParseWholeNumber(u"1e3"));
}
