#include "recording/LimitJudge.h"

#include <gtest/gtest.h>

using namespace orvex;

namespace {

struct JudgeCase {
    const char* value;
    const char* digits;
    const char* low;
    const char* high;
    const char* separator;
    Verdict verdict;
    const char* why;
};

} // namespace

TEST(JudgeReading, Boundaries) {
    const JudgeCase cases[] = {
        {"1.2345", "12345", "-22000", "22000", ".", Verdict::Pass, "defaults"},
        {"1.5", "01500", "-1", "1.5", ".", Verdict::Pass, "equal to the high limit"},
        {"1.5001", "15001", "-1", "1.5", ".", Verdict::Fail, "just above the high limit"},
        {"-2", "00020", "-2", "5", ".", Verdict::Pass, "equal to the low limit"},
        {"-2.0001", "20001", "-2", "5", ".", Verdict::Fail, "just below the low limit"},
        {"3", "00003", "5", "1", ".", Verdict::Fail, "low above high"},
        {"0L.", "0@000", "-22000", "22000", ".", Verdict::Fail, "overload"},
        {"-0L", "0@000", "-22000", "22000", ".", Verdict::Fail, "negative overload"},
        {"0L.", "0@000", "-9999999", "9999999", ".", Verdict::Fail,
         "overload, whatever the limits"},
        {"2.2580", "22580", "-22000", "22000", ".", Verdict::Fail, "digits 22580"},
        {"22.580", "22580", "-22000", "22000", ".", Verdict::Fail, "digits 22580, other point"},
        {"2.2581", "22581", "-22000", "22000", ".", Verdict::Pass, "digits 22581"},
        {"-999999.0", "99999", "-9999999", "9999999", ".", Verdict::Fail, "the not-a-number mark"},
        {"01.234", "01234", "1.234", "1.234", ".", Verdict::Pass, "leading zero"},
        {"", "00000", "-1", "1", ".", Verdict::Fail, "empty value text"},
    };
    for (const JudgeCase& c : cases) {
        EXPECT_EQ(JudgeReading(c.value, QString::fromLatin1(c.digits), c.low, c.high, c.separator),
                  c.verdict)
            << c.why;
    }
}

TEST(JudgeReading, LocaleCases) {
    const JudgeCase cases[] = {
        {"1,2345", "12345", "-22000", "22000", ",", Verdict::Pass, "comma locale"},
        {"1,5", "01500", "0", "1,5", ",", Verdict::Pass, "comma high limit"},
        {"1,5001", "15001", "0", "1,5", ",", Verdict::Fail, "comma just above"},
        {"1.5", "01500", "0", "2", ",", Verdict::Fail, "point in a comma locale is no number"},
        {"1,5", "01500", "0", "2", ".", Verdict::Fail, "comma in a point locale is no number"},
        {"1,000", "01000", "0", "2000", ",", Verdict::Pass, "no group separators: one"},
        {"12345", "12345", "0", "20000", "", Verdict::Pass, "no separator known"},
        {"1.2345", "12345", "0", "20000", "", Verdict::Fail, "no separator known, point text"},
        // A limit that is not a number counts as 0 (what its edit shows at once).
        {"1", "00001", "-1", "abc", ".", Verdict::Fail, "high limit not a number"},
        {"-1", "00001", "abc", "1", ".", Verdict::Fail, "low limit not a number"},
    };
    for (const JudgeCase& c : cases) {
        EXPECT_EQ(JudgeReading(c.value, QString::fromLatin1(c.digits), c.low, c.high, c.separator),
                  c.verdict)
            << c.why;
    }
    EXPECT_EQ(FrameDigits("A012345B000A0D"), u"12345");
    EXPECT_EQ(FrameDigits("A0225"), u"225"); // a short frame never reads past its end
}

TEST(JudgeReading, VerdictTextsAndColours) {
    EXPECT_EQ(VerdictText(Verdict::Pass), "Pass");
    EXPECT_EQ(VerdictText(Verdict::Fail), "Fail");
    EXPECT_EQ(VerdictColor(Verdict::Pass), QColor(0, 128, 0));
    EXPECT_EQ(VerdictColor(Verdict::Fail), QColor(255, 0, 0));
}

TEST(LocaleNumber, FormatAcceptedAndRefused) {
    struct Case {
        const char* text;
        const char* separator;
        bool ok;
        double value;
    } cases[] = {
        {"1.5", ".", true, 1.5},    {"-1.5", ".", true, -1.5},     {"+1.5", ".", true, 1.5},
        {"1.", ".", true, 1.0},     {".5", ".", true, 0.5},        {"-.5", ".", true, -0.5},
        {" 2 ", ".", true, 2.0},    {"-0", ".", true, 0.0},        {"22000", ".", true, 22000},
        {"1,5", ",", true, 1.5},    {"0,0001", ",", true, 0.0001}, {"", ".", false, 0},
        {"-", ".", false, 0},       {".", ".", false, 0},          {"1.2.3", ".", false, 0},
        {"1,000.5", ".", false, 0}, {"1e5", ".", false, 0},        {"0x10", ".", false, 0},
        {"inf", ".", false, 0},     {"nan", ".", false, 0},        {"1 5", ".", false, 0},
        {"--1", ".", false, 0},     {"1-", ".", false, 0},         {"1.5", "", false, 0},
        {"15", "", true, 15},
    };
    for (const Case& c : cases) {
        const auto v = ParseLocaleNumber(QString::fromLatin1(c.text), c.separator);
        EXPECT_EQ(v.has_value(), c.ok) << c.text << " sep '" << c.separator << "'";
        if (v && c.ok) {
            EXPECT_DOUBLE_EQ(*v, c.value) << c.text;
        }
    }
}

TEST(LimitEdits, KeyFilter) {
    struct Case {
        char16_t key;
        const char* separator;
        bool accepted;
    } cases[] = {
        {u'5', ".", true},  {u'0', ".", true},  {u'-', ".", true},  {8, ".", true},
        {u'.', ".", true},  {u',', ".", false}, {u',', ",", true},  {u'.', ",", false},
        {u'+', ".", false}, {u' ', ".", false}, {u'e', ".", false}, {u'.', "", false},
        {u',', "", false},  {u'a', ",", false}, {13, ".", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(T1HIKeyPress(QChar(c.key), c.separator), c.accepted ? QChar(c.key) : QChar(0))
            << char(c.key) << " sep '" << c.separator << "'";
    }
}

TEST(LimitEdits, ChangeHandlerReplacements) {
    struct Case {
        const char* text;
        const char* separator;
        bool replaced;
        EditReplacement replacement;
    } cases[] = {
        {"", ".", true, {"0", 0, 1}},   // emptied edit
        {"-", ".", true, {"-0", 1, 1}}, // the next digit replaces the 0
        {" - ", ".", true, {"-0", 1, 1}},
        {"abc", ".", true, {"0", 0, 1}},
        {"1,5", ".", true, {"0", 0, 1}},
        {"--", ".", true, {"0", 0, 1}},
        {"1.5", ",", true, {"0", 0, 1}},
        {"-0", ".", false, {}}, // what follows the "-" replacement passes
        {"-5", ".", false, {}},
        {"1.", ".", false, {}}, // typing "1" then the separator
        {"1,", ",", false, {}},
        {"22000", ".", false, {}},
    };
    for (const Case& c : cases) {
        const auto r = T1HIChange(QString::fromLatin1(c.text), c.separator);
        EXPECT_EQ(r.has_value(), c.replaced) << c.text;
        if (r && c.replaced) {
            EXPECT_EQ(*r, c.replacement) << c.text;
            // The replacement itself passes when the change event comes round again.
            EXPECT_FALSE(T1HIChange(r->text, c.separator)) << c.text;
        }
    }
}

TEST(LimitEdits, TypingMinusThenFiveIntoEmptiedLowLimit) {
    // Emptied edit -> "0" selected; typing "-" over the selection -> "-" -> "-0" with
    // the 0 selected; typing "5" over it -> "-5".
    QString text = "";
    auto r = T1HIChange(text, ".");
    ASSERT_TRUE(r);
    text = r->text;
    text.replace(r->selStart, r->selLength, "-");
    r = T1HIChange(text, ".");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->text, "-0");
    text = r->text;
    text.replace(r->selStart, r->selLength, "5");
    EXPECT_EQ(text, "-5");
    EXPECT_FALSE(T1HIChange(text, "."));
}

TEST(LimitEdits, SeparatorNormalisation) {
    struct Case {
        const char* text;
        const char* separator;
        const char* normalised;
    } cases[] = {
        {"1.5", ",", "1,5"},     {"1,5", ".", "1.5"},   {"1.5", ".", "1.5"}, {"1,5", ",", "1,5"},
        {"1.5.5", ",", "1,5.5"}, {"1,,5", ".", "1.,5"}, {"1.5", "", "15"},   {"1,5", "", "1,5"},
        {"22000", ",", "22000"}, {"", ",", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NormaliseLimitSeparator(c.text, c.separator), c.normalised)
            << c.text << " sep '" << c.separator << "'";
}
