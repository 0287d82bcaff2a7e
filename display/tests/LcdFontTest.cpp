#include "display/LcdPanel.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QRawFont>
#include <gtest/gtest.h>

#include <map>

namespace orvex {
namespace {

// Every character the panel, the record grid and the report draw in the LCD font.
const QString kLcdCharacters =
    QStringLiteral("0123456789ABCDEF@-\"$)*&+%?.: abcdefghijklmnopqrstuvwxyzGHIJKLMNOPQRSTUVWXYZ");

QFont StrictLcdFont(int px) {
    QFont font = LcdFont(px);
    font.setStyleStrategy(QFont::NoFontMerging);
    return font;
}

QImage Render(QChar c, int px) {
    QImage image(px * 2, px * 2, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(StrictLcdFont(px));
    painter.setPen(Qt::black);
    painter.drawText(QPoint(px / 4, px * 3 / 2), QString(c));
    return image;
}

int InkPixels(const QImage& image) {
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            ink += row[x] < 128 ? 1 : 0;
    }
    return ink;
}

TEST(LcdFontTest, RegistersOnceUnderItsFamilyName) {
    const QString family = RegisterLcdFont();
    EXPECT_EQ(family, "SEGMO-A2");
    EXPECT_EQ(RegisterLcdFont(), family);
    EXPECT_TRUE(QFontDatabase::families().contains(family));
    EXPECT_EQ(QFontInfo(LcdFont(12)).family(), family);
    EXPECT_EQ(LcdFont(100).pixelSize(), 100);
}

TEST(LcdFontTest, MapsEveryCharacterTheDisplayUses) {
    const QRawFont raw = QRawFont::fromFont(StrictLcdFont(100));
    ASSERT_TRUE(raw.isValid());
    EXPECT_EQ(raw.familyName(), "SEGMO-A2");
    const QFontMetrics metrics(StrictLcdFont(100));
    for (const QChar c : kLcdCharacters) {
        SCOPED_TRACE(QString(c).toStdString());
        EXPECT_TRUE(raw.supportsCharacter(c));
        EXPECT_TRUE(metrics.inFont(c));
        if (c != u' ') {
            EXPECT_GT(InkPixels(Render(c, 40)), 6);
        }
    }
    EXPECT_EQ(InkPixels(Render(u' ', 40)), 0);
}

TEST(LcdFontTest, EveryCharacterHasItsOwnGlyph) {
    // Two characters sharing one drawing would make a unit or a digit unreadable
    // (for example the overload letter drawn as a plain digit).  "l"/"I"-like pairs
    // are still different drawings here, so no exceptions are needed.
    std::map<QByteArray, QChar> seen;
    for (const QChar c : kLcdCharacters) {
        if (c == u' ') continue;
        const QImage image = Render(c, 40);
        const QByteArray key(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
        const auto [it, fresh] = seen.emplace(key, c);
        EXPECT_TRUE(fresh) << "'" << QString(c).toStdString() << "' looks like '"
                           << QString(it->second).toStdString() << "'";
    }
}

TEST(LcdFontTest, SegmentDigitsLightTheRightNumberOfSegments) {
    // Ink grows with the number of segments: 1 (two) < 7 (three) < 4 (four) < 2 (five) < 8 (seven);
    // the overload L has three segments like a 7.
    const int one = InkPixels(Render(u'1', 100));
    const int seven = InkPixels(Render(u'7', 100));
    const int four = InkPixels(Render(u'4', 100));
    const int two = InkPixels(Render(u'2', 100));
    const int eight = InkPixels(Render(u'8', 100));
    const int overload = InkPixels(Render(kOverloadLetter, 100));
    EXPECT_LT(one, seven);
    EXPECT_LT(seven, four);
    EXPECT_LT(four, two);
    EXPECT_LT(two, eight);
    EXPECT_NEAR(overload, seven, seven / 5);
    // Every digit has one width, so the columns of a reading line up.
    const QFontMetrics metrics(StrictLcdFont(100));
    for (const QChar c : QStringLiteral("0123456789ABCDEF@")) {
        EXPECT_EQ(metrics.horizontalAdvance(c), metrics.horizontalAdvance(u'8'))
            << QString(c).toStdString();
    }
}

TEST(LcdFontTest, CaptionsFitTheirLabels) {
    // A caption wider or taller than its label is cut off on the panel.
    TLcdPanel panel;
    const QList<QLabel*> labels = panel.findChildren<QLabel*>();
    int checked = 0;
    for (QLabel* label : labels) {
        if (label->text().isEmpty()) continue;
        SCOPED_TRACE(label->objectName().toStdString());
        const QFontMetrics metrics(label->font());
        const QRect ink = metrics.boundingRect(label->text());
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width());
        EXPECT_LE(ink.width(), label->width());
        EXPECT_LE(metrics.height(), label->height() + 1);
        ++checked;
    }
    EXPECT_GE(checked, 26); // five digits and the lettered annunciators
}

TEST(LcdFontTest, UnitTextsStayLegibleAtTwelvePixels) {
    // At the record grid's size every unit character still leaves a mark of its own.
    const QFontMetrics metrics(StrictLcdFont(12));
    EXPECT_GE(metrics.height(), 12);
    for (const QChar c : QStringLiteral("VmAuK*M)&?%HznF")) {
        SCOPED_TRACE(QString(c).toStdString());
        EXPECT_GE(metrics.horizontalAdvance(c), 3);
        EXPECT_GT(InkPixels(Render(c, 12)), 3);
    }
}

} // namespace
} // namespace orvex
