#include "display/LcdPanel.h"
#include "testing/PaintCount.h"

#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace orvex {
namespace {

using I = Indicator;

MeterReading Reading(std::initializer_list<const char*> digits, std::initializer_list<I> lit) {
    MeterReading r;
    std::size_t i = 0;
    for (const char* d : digits)
        r.digitTexts[i++] = QString::fromUtf8(d);
    for (I ind : lit)
        r.litSet.add(ind);
    return r;
}

class LcdPanelTest : public ::testing::Test {
  protected:
    TLcdPanel panel;

    QStringList VisibleIndicators() const {
        QStringList names;
        for (int i = 0; i < kIndicatorCount; ++i) {
            QWidget* w = panel.IndicatorWidget(static_cast<I>(i));
            if (w && w->isVisibleTo(&panel))
                names << QString::fromLatin1(IndicatorName(static_cast<I>(i)));
        }
        names.sort();
        return names;
    }
    QString Captions() const {
        QString s;
        for (int i = 0; i < 5; ++i)
            s += QLatin1Char('[') + panel.Digit(i)->text() + QLatin1Char(']');
        return s;
    }
    // "x" for a digit that is shown, "_" for a blanked one.
    QString ShownDigits() const {
        QString s;
        for (int i = 0; i < 5; ++i)
            s += panel.Digit(i)->isVisibleTo(&panel) ? u'x' : u'_';
        return s;
    }
};

TEST_F(LcdPanelTest, DesignStateReads22000WithNothingLitAndBarAt20Of40) {
    EXPECT_EQ(panel.objectName(), "Panel1");
    EXPECT_EQ(panel.size(), QSize(334, 181));
    EXPECT_EQ(Captions(), "[2][2][0][0][0]");
    EXPECT_EQ(ShownDigits(), "xxxxx");
    EXPECT_EQ(VisibleIndicators(), QStringList());
    EXPECT_FALSE(panel.LCDsend()->isVisibleTo(&panel));
    EXPECT_EQ(panel.PBar2()->minimum(), 0);
    EXPECT_EQ(panel.PBar2()->maximum(), 40);
    EXPECT_EQ(panel.PBar2()->value(), 20);
}

TEST_F(LcdPanelTest, EveryControlSitsAtItsPlaceUnderItsName) {
    struct Place {
        const char* name;
        QRect geometry;
        const char* caption; // nullptr for shapes and pictures
        int fontHeight;
    };
    const Place places[] = {
        {"LcdD0", {40, 28, 38, 112}, "2", 100},
        {"LcdDa", {88, 28, 38, 112}, "2", 100},
        {"LcdDb", {136, 28, 38, 112}, "0", 100},
        {"LcdDc", {184, 28, 38, 112}, "0", 100},
        {"LcdDd", {232, 28, 38, 112}, "0", 100},
        {"LcdP0", {79, 113, 7, 8}, nullptr, 0},
        {"LcdP1", {127, 113, 7, 8}, nullptr, 0},
        {"LcdP2", {175, 113, 7, 8}, nullptr, 0},
        {"LcdP3", {224, 113, 9, 8}, nullptr, 0},
        {"LcdFH", {5, 36, 28, 112}, "-", 100},
        {"LcdAC", {6, 54, 31, 23}, "AC", 21},
        {"LcdDc1", {5, 54, 32, 23}, "DC", 21},
        {"LcdAuto", {56, 131, 88, 17}, "Auto range", 16},
        {"LcdManu", {168, 131, 52, 17}, "MANU", 16},
        {"LCDHold", {8, 102, 19, 39}, "\"", 35},
        {"LCDBATT", {280, -1, 12, 39}, "$", 35},
        {"LCDREL", {129, 10, 24, 24}, nullptr, 0},
        {"LCDDI", {184, 9, 31, 32}, ")", 29},
        {"LCDFm", {192, 8, 25, 36}, "&", 32},
        {"LCDu", {240, 3, 16, 36}, "+", 32},
        {"Lcdm", {232, 9, 20, 27}, "m", 24},
        {"LCDn", {232, 10, 13, 27}, "n", 24},
        {"LcdV", {256, 11, 16, 27}, "V", 24},
        {"LCDA", {256, 10, 16, 27}, "A", 24},
        {"LCDF", {256, 10, 15, 27}, "F", 24},
        {"LCDk", {286, 76, 12, 27}, "k", 24},
        {"LCDM1", {286, 81, 16, 21}, "M", 19},
        {"LCDohm", {312, 81, 13, 21}, "*", 19},
        {"LCDBF", {296, 40, 19, 23}, "%", 21},
        {"LCDFS", {304, 57, 17, 27}, "?", 24},
        {"LCDHz", {296, 98, 29, 27}, "Hz", 24},
        {"LCDsend", {5, 4, 36, 29}, nullptr, 0},
        {"PBar2", {0, 164, 334, 17}, nullptr, 0},
    };
    const QString family = RegisterLcdFont();
    for (const Place& p : places) {
        SCOPED_TRACE(p.name);
        auto* w = panel.findChild<QWidget*>(QString::fromLatin1(p.name));
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget(), &panel);
        EXPECT_EQ(w->geometry(), p.geometry);
        if (p.caption) {
            auto* label = qobject_cast<QLabel*>(w);
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text(), QString::fromUtf8(p.caption));
            EXPECT_EQ(label->font().family(), family);
            EXPECT_EQ(label->font().pixelSize(), p.fontHeight);
        }
    }
    // Every indicator of a reading has its widget, found under its own name.
    for (int i = 0; i < kIndicatorCount; ++i) {
        const QString name = QString::fromLatin1(IndicatorName(static_cast<I>(i)));
        EXPECT_EQ(panel.findChild<QWidget*>(name), panel.IndicatorWidget(static_cast<I>(i)))
            << qPrintable(name);
    }
}

int DarkPixels(const QImage& image, const QRect& area) {
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            dark += qGray(image.pixel(x, y)) < 96 ? 1 : 0;
    }
    return dark;
}

TEST_F(LcdPanelTest, DrawsBlackSymbolsAndPicturesOnWhiteGlass) {
    panel.show();
    QImage design = panel.grab().toImage();
    ASSERT_EQ(design.size(), QSize(334, 181));
    EXPECT_EQ(design.pixelColor(300, 150), QColor(Qt::white));
    EXPECT_GT(DarkPixels(design, QRect(40, 28, 38, 112)), 300); // a large "2"
    EXPECT_EQ(DarkPixels(design, QRect(129, 10, 24, 24)), 0);   // relative not lit
    EXPECT_GT(DarkPixels(design, QRect(0, 164, 168, 17)), 200); // bar at 20 of 40 ...
    EXPECT_EQ(DarkPixels(design, QRect(176, 164, 150, 17)), 0); // ... is half full

    // The pictures come from the program's resources: a missing one draws nothing.
    panel.RenderReading(Reading({"1", "2", "3", "4", "5"}, {I::LCDREL, I::LcdP0}));
    const QImage lit = panel.grab().toImage();
    EXPECT_GT(DarkPixels(lit, QRect(129, 10, 24, 24)), 40);
    EXPECT_GT(DarkPixels(lit, QRect(5, 4, 36, 29)), 150);
    EXPECT_GT(DarkPixels(lit, QRect(79, 113, 7, 8)), 40); // the point is a solid dot
}

TEST_F(LcdPanelTest, ShownIndicatorsAreExactlyTheLitSetFrameAfterFrame) {
    // One panel through a sequence, so that an indicator left over from the frame
    // before shows up as a difference.
    const std::vector<MeterReading> frames = {
        Reading({"1", "2", "3", "4", "5"}, {I::LcdV, I::LcdP0, I::LcdDc1, I::LcdAuto}),
        Reading({"0", "1", "2", "3", "4"}, {I::LCDohm, I::LCDk, I::LcdP1, I::LcdManu, I::LCDHold}),
        Reading({"", "0", "@", "", ""},
                {I::LcdV, I::LcdP1, I::LcdFH, I::LcdAC, I::LcdAuto, I::LCDBATT}),
        Reading({"0", "0", "5", "0", "0"}, {I::LCDHz, I::LCDk, I::LcdP2, I::LCDREL, I::LCDBF}),
        Reading({"0", "4", "7", "0", "0"},
                {I::LCDF, I::LCDu, I::LcdP1, I::LCDn, I::Lcdm, I::LCDM1}),
        Reading({"0", "0", "2", "5", "0"}, {I::LCDFS, I::LCDDI, I::LCDFm, I::LcdP3, I::LCDA}),
        Reading({"8", "8", "8", "8", "8"}, {}),
    };
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        panel.RenderReading(frames[i]);
        EXPECT_EQ(VisibleIndicators(), frames[i].litSet.names());
        EXPECT_TRUE(panel.LCDsend()->isVisibleTo(&panel));
        QString expected;
        for (const QString& d : frames[i].digitTexts)
            expected += QLatin1Char('[') + d + QLatin1Char(']');
        EXPECT_EQ(Captions(), expected);
    }
}

TEST_F(LcdPanelTest, LeadingZerosBeforeThePointAreBlanked) {
    struct Case {
        const char* what;
        std::initializer_list<const char*> digits;
        std::initializer_list<I> points;
        const char* shown;
    };
    const Case cases[] = {
        {"01.234 V", {"0", "1", "2", "3", "4"}, {I::LcdP1}, "_xxxx"},
        {"00.123 only one digit before P1", {"0", "0", "1", "2", "3"}, {I::LcdP1}, "_xxxx"},
        {"10.234", {"1", "0", "2", "3", "4"}, {I::LcdP1}, "xxxxx"},
        {"000.12", {"0", "0", "0", "1", "2"}, {I::LcdP2}, "__xxx"},
        {"010.12", {"0", "1", "0", "1", "2"}, {I::LcdP2}, "_xxxx"},
        {"100.12", {"1", "0", "0", "1", "2"}, {I::LcdP2}, "xxxxx"},
        {"0000.1", {"0", "0", "0", "0", "1"}, {I::LcdP3}, "___xx"},
        {"0010.5", {"0", "0", "1", "0", "5"}, {I::LcdP3}, "__xxx"},
        {"0100.5 stops at the first non-zero", {"0", "1", "0", "0", "5"}, {I::LcdP3}, "_xxxx"},
        {"1000.5", {"1", "0", "0", "0", "5"}, {I::LcdP3}, "xxxxx"},
        {"0.0000 with P0", {"0", "0", "0", "0", "0"}, {I::LcdP0}, "xxxxx"},
        {"00001 without point", {"0", "0", "0", "0", "1"}, {}, "xxxxx"},
        {"overload", {"", "0", "@", "", ""}, {I::LcdP1}, "xxxxx"},
        {"overload with P2", {"", "0", "@", "", ""}, {I::LcdP2}, "xxxxx"},
        {"hex digit is no zero", {"A", "0", "0", "1", "2"}, {I::LcdP2}, "xxxxx"},
        {"P1 wins over P2", {"0", "0", "0", "1", "2"}, {I::LcdP1, I::LcdP2}, "_xxxx"},
        {"P2 wins over P3", {"0", "0", "0", "1", "2"}, {I::LcdP2, I::LcdP3}, "__xxx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Start from a fully blanked panel so that a digit never shown again is caught.
        panel.RenderReading(Reading({"0", "0", "0", "0", "1"}, {I::LcdP3}));
        MeterReading r;
        std::size_t i = 0;
        for (const char* d : c.digits)
            r.digitTexts[i++] = QString::fromUtf8(d);
        for (I p : c.points)
            r.litSet.add(p);
        panel.RenderReading(r);
        EXPECT_EQ(ShownDigits(), QString::fromLatin1(c.shown));
        // Blanking hides labels only: the captions still carry the zeros.
        QString expected;
        for (const QString& d : r.digitTexts)
            expected += QLatin1Char('[') + d + QLatin1Char(']');
        EXPECT_EQ(Captions(), expected);
    }
}

// A reading repeated frame after frame leaves the shown panel alone, blanked
// zeros included; a changed digit repaints the panel behind it.
TEST_F(LcdPanelTest, RepeatedReadingRepaintsNothing) {
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    const MeterReading blanked = Reading({"0", "0", "1", "2", "3"}, {I::LcdP2, I::LcdV});
    panel.RenderReading(blanked);
    QCoreApplication::processEvents();
    TPaintCount paints(&panel, true);
    panel.RenderReading(blanked);
    QCoreApplication::processEvents();
    EXPECT_EQ(paints.count(), 0);
    panel.RenderReading(Reading({"0", "0", "1", "2", "4"}, {I::LcdP2, I::LcdV}));
    QCoreApplication::processEvents();
    EXPECT_GT(paints.count(), 0);
}

TEST_F(LcdPanelTest, OverloadAndHexDigitsShowInTheSegmentFont) {
    panel.RenderReading(Reading({"", "0", QString(kOverloadLetter).toUtf8().constData(), "", ""},
                                {I::LcdP1, I::LcdV}));
    EXPECT_EQ(Captions(), "[][0][@][][]");
    EXPECT_EQ(ShownDigits(), "xxxxx");

    panel.RenderReading(Reading({"0", "A", "1", "2", "3"}, {I::LcdP0}));
    EXPECT_EQ(panel.Digit(1)->text(), "A");
    EXPECT_EQ(panel.Digit(1)->font().family(), RegisterLcdFont());
    EXPECT_TRUE(panel.Digit(1)->isVisibleTo(&panel));
}

TEST_F(LcdPanelTest, BarFollowsThePositionAndShowsFullAboveTheMaximum) {
    struct Case {
        int maximum, position, shown;
    };
    const Case cases[] = {
        {22, 12, 12}, {22, 1, 1},  {22, 22, 22}, {22, 23, 22}, {22, 99, 22},
        {22, 0, 0},   {22, -5, 0}, {40, 30, 30}, {40, 41, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.maximum << "/" << c.position);
        panel.SetBarMaximum(c.maximum);
        panel.SetBarPosition(c.position);
        EXPECT_EQ(panel.PBar2()->maximum(), c.maximum);
        EXPECT_EQ(panel.PBar2()->value(), c.shown);
    }
}

TEST_F(LcdPanelTest, NewMaximumKeepsTheBarInsteadOfEmptyingIt) {
    // The design position 20 of 40 stays 20 when start-up sets the maximum to 22,
    // and a bar above a lowered maximum is shown full, not reset to empty.
    panel.SetBarMaximum(22);
    EXPECT_EQ(panel.PBar2()->value(), 20);
    panel.SetBarPosition(21);
    panel.SetBarMaximum(10);
    EXPECT_EQ(panel.PBar2()->value(), 10);
    panel.SetBarMaximum(22);
    EXPECT_EQ(panel.PBar2()->value(), 21);
}

TEST_F(LcdPanelTest, TraceGetsTwelveLinesPerFrameInEachLog) {
    const QString frame = QStringLiteral("A012345B000A0D");
    QString bits;
    for (const QChar c : frame.mid(1, 12)) {
        bits += QString::number(QString(c).toInt(nullptr, 16), 2).rightJustified(4, u'0');
    }
    ASSERT_EQ(bits.size(), 48);
    panel.AppendTrace(frame, bits);
    ASSERT_EQ(panel.Memo2().lineCount(), 12);
    ASSERT_EQ(panel.Memo1().lineCount(), 12);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(panel.Memo2().line(i), frame);
        EXPECT_EQ(panel.Memo1().line(i), bits.left(4 * (i + 1)));
    }
}

TEST_F(LcdPanelTest, TraceKeepsOnlyTheNewestLines) {
    const int frames = TTraceLog::kDefaultCapacity / 12 + 10;
    for (int f = 0; f < frames; ++f) {
        panel.AppendTrace(QStringLiteral("frame %1").arg(f),
                          QStringLiteral("%1").arg(f, 48, 10, QChar(u'0')));
    }
    EXPECT_EQ(panel.Memo2().lineCount(), TTraceLog::kDefaultCapacity);
    EXPECT_EQ(panel.Memo1().lineCount(), TTraceLog::kDefaultCapacity);
    EXPECT_EQ(panel.Memo2().lastLine(), QStringLiteral("frame %1").arg(frames - 1));
    EXPECT_EQ(panel.Memo1().lastLine(), QStringLiteral("%1").arg(frames - 1, 48, 10, QChar(u'0')));
    // The oldest kept line belongs to the frame the bound cut into.
    const int firstKept = (frames * 12 - TTraceLog::kDefaultCapacity) / 12;
    EXPECT_EQ(panel.Memo2().line(0), QStringLiteral("frame %1").arg(firstKept));
}

} // namespace
} // namespace orvex
