// Text conversions, key filter and file name rule behind the chart's edits
// and commands.
#include "chart/ChartCommands.h"

#include <gtest/gtest.h>

using namespace orvex;

namespace {

std::string ConvertError(const QString& text) {
    try {
        StrToInt(text);
    } catch (const EChartConvertError& e) {
        return e.what();
    }
    return {};
}

TEST(ChartText, WholeNumbersInThe32BitRangeConvert) {
    const std::pair<const char*, int> good[] = {
        {"100", 100},
        {"0", 0},
        {"7", 7},
        {"-5", -5},
        {"+12", 12},
        {"0007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
    };
    for (const auto& [text, value] : good) {
        SCOPED_TRACE(text);
        EXPECT_EQ(StrToInt(QString::fromLatin1(text)), value);
    }
}

TEST(ChartText, OtherTextsGiveTheIntegerError) {
    for (const char* text : {"", "2147483648", "-2147483649", "99999999999999999999", "12a", " 1",
                             "1 ", "1-", "-", "+", "1.5", "--1"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ConvertError(QString::fromLatin1(text)),
                  std::string("'") + text + "' is not a valid integer value");
    }
    EXPECT_THROW(PageSizeFromText(QString()), EChartConvertError);
}

TEST(ChartText, AlarmLimitTexts) {
    const std::pair<const char*, float> good[] = {
        {"1000", 1000.0f}, {"+", 0.0f},           {"-", 0.0f},
        {"", 0.0f},        {"-22000", -22000.0f}, {"22000", 22000.0f},
    };
    for (const auto& [text, value] : good) {
        SCOPED_TRACE(text);
        EXPECT_EQ(AlarmLimitFromText(QString::fromLatin1(text)), value);
    }
    for (const char* bad : {"12-", "2147483648", "+-"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(AlarmLimitFromText(QString::fromLatin1(bad)), EChartConvertError);
    }
}

TEST(ChartText, AlarmLimitKeyFilter) {
    for (QChar c : QStringLiteral("0123456789+-\b"))
        EXPECT_TRUE(SetmaxKeyAccepted(c)) << int(c.unicode());
    for (QChar c : QStringLiteral("a.,e /*\t"))
        EXPECT_FALSE(SetmaxKeyAccepted(c)) << int(c.unicode());
}

TEST(ChartText, BitmapFileNameRule) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/u/chart.png", "/home/u/chart.bmp"},
        {"/home/u/chart", "/home/u/chart.bmp"},
        {"/home/u/chart.BMP", "/home/u/chart.bmp"},
        {"/home/u/chart.bmp", "/home/u/chart.bmp"},
        {"/home/u/chart.Bmp", "/home/u/chart.bmp"},
        {"/home/u/a.b/chart", "/home/u/a.b/chart.bmp"},
        {"/home/u/chart.tar.gz", "/home/u/chart.tar.bmp"},
        {"/home/u/chart.", "/home/u/chart.bmp"},
        {"chart.bmp.png", "chart.bmp.bmp"},
    };
    for (const auto& [chosen, written] : cases) {
        SCOPED_TRACE(chosen);
        EXPECT_EQ(BitmapFileName(QString::fromLatin1(chosen)), QString::fromLatin1(written));
    }
}

TEST(ChartText, MessageTexts) {
    EXPECT_EQ(SaveSuccessText("/tmp/a.bmp"),
              "Graphic has been saved successfully at the following location: /tmp/a.bmp");
    EXPECT_EQ(CannotCreateFileText("/x/a.bmp", "Permission denied"),
              "Cannot create file \"/x/a.bmp\". Permission denied");
}

} // namespace

namespace {

TEST(ChartAlarm, OnlyAnArmedLimitCrossedStrictlyBeeps) {
    struct Case {
        double counts;
        bool maxArmed, minArmed;
        bool beep;
    };
    // Limits 1000 and -1000.
    const Case cases[] = {
        {1001, true, false, true},   {1000, true, false, false},  {1001, false, true, false},
        {-1001, false, true, true},  {-1000, false, true, false}, {-1001, true, false, false},
        {5000, false, false, false}, {0, true, true, false},      {-5000, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.counts << " max " << c.maxArmed << " min " << c.minArmed);
        EXPECT_EQ(AlarmCrossed(c.counts, 1000.0f, c.maxArmed, -1000.0f, c.minArmed), c.beep);
    }
}

} // namespace
