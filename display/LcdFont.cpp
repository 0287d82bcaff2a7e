#include "display/LcdFont.h"

#include <QFontDatabase>
#include <QStringList>
#include <QtGlobal>

namespace orvex {

namespace {

QString LoadLcdFont() {
    const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/display/font/SEGMO-A2.ttf"));
    if (id < 0) {
        qWarning("The LCD font could not be loaded from the program's resources");
        return QString::fromLatin1(kLcdFontFamily);
    }
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    return families.isEmpty() ? QString::fromLatin1(kLcdFontFamily) : families.first();
}

} // namespace

QString RegisterLcdFont() {
    static const QString family = LoadLcdFont();
    return family;
}

QFont LcdFont(int pixelHeight) {
    QFont font(RegisterLcdFont());
    font.setPixelSize(qMax(1, pixelHeight));
    font.setKerning(false);
    // Large characters keep their exact outlines; small ones (the record grid's unit
    // column) are fitted to the pixel grid so that thin strokes stay sharp.
    font.setHintingPreference(pixelHeight >= 20 ? QFont::PreferNoHinting
                                                : QFont::PreferFullHinting);
    return font;
}

} // namespace orvex
