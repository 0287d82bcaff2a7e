#pragma once
// The LCD symbol font "SEGMO-A2": built from the outlines in display/font at build
// time, embedded in the program and registered with the font database on first use.
// QtGui only, so that anything drawing unit texts (the panel, the grid, the printed
// report) can use it.

#include <QFont>
#include <QString>

namespace orvex {

// The family name of the LCD symbol font.
inline constexpr const char* kLcdFontFamily = "SEGMO-A2";

// Registers the LCD symbol font "SEGMO-A2" from the program's resources (once);
// returns its family name.
QString RegisterLcdFont();
// The LCD symbol font with the given character height in pixels.
QFont LcdFont(int pixelHeight);

} // namespace orvex
