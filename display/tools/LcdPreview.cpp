// Renders the LCD panel in a few states to PNG files, for looking at the replica.
//   orvex-lcd-preview [output-folder]   (default /tmp)

#include "display/LcdPanel.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include <cstdio>
#include <initializer_list>

using namespace orvex;

namespace {

MeterReading Reading(std::initializer_list<const char*> digits,
                     std::initializer_list<Indicator> lit) {
    MeterReading r;
    int i = 0;
    for (const char* d : digits)
        r.digitTexts[static_cast<std::size_t>(i++)] = QString::fromUtf8(d);
    for (Indicator ind : lit)
        r.litSet.add(ind);
    return r;
}

void Save(QWidget& widget, const QString& path) {
    if (!widget.grab().save(path))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp");
    QDir().mkpath(dir);

    TLcdPanel design;
    design.show();
    Save(design, dir + QStringLiteral("/lcd-design.png"));

    struct Shot {
        const char* name;
        MeterReading reading;
        int bar;
    };
    using I = Indicator;
    const Shot shots[] = {
        {"volts", Reading({"0", "1", "2", "3", "4"}, {I::LcdP1, I::LcdV, I::LcdDc1, I::LcdAuto}),
         1},
        {"kohm",
         Reading({"1", "9", "8", "7", "6"},
                 {I::LcdP2, I::LCDk, I::LCDohm, I::LcdManu, I::LCDHold, I::LCDREL, I::LCDBATT}),
         19},
        {"overload",
         Reading({"", "0", "@", "", ""}, {I::LcdP1, I::LcdFH, I::LcdV, I::LcdAC, I::LcdAuto}), 22},
        {"hertz",
         Reading({"0", "0", "5", "0", "0"}, {I::LcdP2, I::LCDk, I::LCDHz, I::LcdAuto, I::LCDBF}),
         5},
        {"micro",
         Reading({"A", "B", "C", "D", "E"},
                 {I::LcdP3, I::LCDu, I::LCDF, I::LCDFm, I::LCDDI, I::LCDFS, I::LCDM1}),
         30},
        {"all",
         Reading({"8", "8", "8", "8", "8"},
                 {I::LcdP0, I::LcdP1, I::LcdP2, I::LcdP3, I::LcdFH, I::LcdAC, I::LcdAuto,
                  I::LcdManu, I::LCDHold, I::LCDBATT, I::LCDREL, I::LCDDI, I::Lcdm, I::LcdV,
                  I::LCDk, I::LCDohm, I::LCDBF, I::LCDFS, I::LCDHz}),
         40},
    };
    for (const Shot& shot : shots) {
        TLcdPanel panel;
        panel.SetBarMaximum(22);
        panel.RenderReading(shot.reading);
        panel.SetBarPosition(shot.bar);
        panel.show();
        Save(panel, dir + QStringLiteral("/lcd-%1.png").arg(QLatin1String(shot.name)));
    }

    // Unit texts at the record grid's 12 pixels.
    QLabel units(QStringLiteral(
        "V  mV  A  mA  uA  K*  M*  *  V)  &  *  ?  %  Hz  kHz  MHz  nF  uF  mF  0L."));
    units.setFont(LcdFont(12));
    units.setAutoFillBackground(true);
    units.setPalette(QPalette(Qt::black, Qt::white));
    units.setContentsMargins(4, 4, 4, 4);
    units.adjustSize();
    units.show();
    Save(units, dir + QStringLiteral("/lcd-units-12px.png"));
    return 0;
}
