#include "display/LcdPanel.h"

#include "display/FirstShow.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QSvgRenderer>

#include <algorithm>
#include <array>

namespace orvex {

namespace {

// A decimal point: a small solid black rectangle.
class TLcdDot : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
    }
};

struct LabelSpec {
    Indicator indicator;
    const char* caption;
    int left, top, width, height;
    int fontHeight;
    bool bold;
};

// Annunciators drawn as characters of the LCD font.
constexpr std::array<LabelSpec, 20> kLabels{{
    {Indicator::LcdFH, "-", 5, 36, 28, 112, 100, false},
    {Indicator::LcdAC, "AC", 6, 54, 31, 23, 21, true},
    {Indicator::LcdDc1, "DC", 5, 54, 32, 23, 21, true},
    {Indicator::LcdAuto, "Auto range", 56, 131, 88, 17, 16, true},
    {Indicator::LcdManu, "MANU", 168, 131, 52, 17, 16, true},
    {Indicator::LCDHold, "\"", 8, 102, 19, 39, 35, false},
    {Indicator::LCDBATT, "$", 280, -1, 12, 39, 35, false},
    {Indicator::LCDDI, ")", 184, 9, 31, 32, 29, false},
    {Indicator::LCDFm, "&", 192, 8, 25, 36, 32, false},
    {Indicator::LCDu, "+", 240, 3, 16, 36, 32, false},
    {Indicator::Lcdm, "m", 232, 9, 20, 27, 24, false},
    {Indicator::LCDn, "n", 232, 10, 13, 27, 24, false},
    {Indicator::LcdV, "V", 256, 11, 16, 27, 24, false},
    {Indicator::LCDA, "A", 256, 10, 16, 27, 24, false},
    {Indicator::LCDF, "F", 256, 10, 15, 27, 24, false},
    {Indicator::LCDk, "k", 286, 76, 12, 27, 24, false},
    {Indicator::LCDM1, "M", 286, 81, 16, 21, 19, false},
    {Indicator::LCDohm, "*", 312, 81, 13, 21, 19, false},
    {Indicator::LCDBF, "%", 296, 40, 19, 23, 21, false},
    {Indicator::LCDFS, "?", 304, 57, 17, 27, 24, false},
}};
constexpr LabelSpec kHertz{Indicator::LCDHz, "Hz", 296, 98, 29, 27, 24, false};

struct PointSpec {
    Indicator indicator;
    int left, width;
};
constexpr std::array<PointSpec, 4> kPoints{{
    {Indicator::LcdP0, 79, 7},
    {Indicator::LcdP1, 127, 7},
    {Indicator::LcdP2, 175, 7},
    {Indicator::LcdP3, 224, 9},
}};
constexpr int kPointTop = 113;
constexpr int kPointHeight = 8;

constexpr std::array<const char*, 5> kDigitNames{"LcdD0", "LcdDa", "LcdDb", "LcdDc", "LcdDd"};
constexpr std::array<int, 5> kDigitLefts{40, 88, 136, 184, 232};
constexpr std::array<const char*, 5> kDesignDigits{"2", "2", "0", "0", "0"};

constexpr int kPanelWidth = 334;
constexpr int kPanelHeight = 181;
constexpr int kBarDesignMaximum = 40;
constexpr int kBarDesignPosition = 20;

QPixmap RenderPicture(const QString& resource, QSize size, qreal ratio) {
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

QLabel* MakePicture(QWidget* parent, const char* name, const QString& resource, QRect geometry) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setScaledContents(true);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->hide();
    WhenFirstShown(label, [label, resource, size = geometry.size()] {
        label->setPixmap(RenderPicture(resource, size, 2.0));
    });
    return label;
}

} // namespace

struct TLcdPanel::Parts {
    std::array<QLabel*, 5> digits{};
    std::array<QWidget*, kIndicatorCount> indicators{};
    QLabel* send = nullptr;
    QProgressBar* bar = nullptr;
    int requestedBar = kBarDesignPosition;
    TTraceLog memo1;
    TTraceLog memo2;
};

TLcdPanel::TLcdPanel(QWidget* parent) : QFrame(parent), d_(std::make_unique<Parts>()) {
    setObjectName(QStringLiteral("Panel1"));
    setFixedSize(kPanelWidth, kPanelHeight);
    setFrameStyle(QFrame::NoFrame);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);

    auto makeLabel = [this](const char* name, const QString& caption, QRect geometry,
                            int fontHeight, bool bold) {
        auto* label = new QLabel(caption, this);
        label->setObjectName(QString::fromLatin1(name));
        label->setGeometry(geometry);
        QFont font = LcdFont(fontHeight);
        font.setBold(bold);
        label->setFont(font);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setTextFormat(Qt::PlainText);
        label->setAttribute(Qt::WA_TranslucentBackground);
        return label;
    };

    for (std::size_t i = 0; i < d_->digits.size(); ++i) {
        d_->digits[i] = makeLabel(kDigitNames[i], QString::fromLatin1(kDesignDigits[i]),
                                  QRect(kDigitLefts[i], 28, 38, 112), 100, false);
    }

    auto addLabel = [&](const LabelSpec& spec) {
        QLabel* label = makeLabel(IndicatorName(spec.indicator), QString::fromLatin1(spec.caption),
                                  QRect(spec.left, spec.top, spec.width, spec.height),
                                  spec.fontHeight, spec.bold);
        label->hide();
        d_->indicators[static_cast<std::size_t>(spec.indicator)] = label;
    };
    for (const LabelSpec& spec : kLabels)
        addLabel(spec);
    addLabel(kHertz);

    for (const PointSpec& spec : kPoints) {
        auto* dot = new TLcdDot(this);
        dot->setObjectName(QString::fromLatin1(IndicatorName(spec.indicator)));
        dot->setGeometry(spec.left, kPointTop, spec.width, kPointHeight);
        dot->hide();
        d_->indicators[static_cast<std::size_t>(spec.indicator)] = dot;
    }

    d_->indicators[static_cast<std::size_t>(Indicator::LCDREL)] =
        MakePicture(this, IndicatorName(Indicator::LCDREL),
                    QStringLiteral(":/display/pictures/LCDREL.svg"), QRect(129, 10, 24, 24));
    d_->send = MakePicture(this, "LCDsend", QStringLiteral(":/display/pictures/LCDsend.svg"),
                           QRect(5, 4, 36, 29));

    d_->bar = new QProgressBar(this);
    d_->bar->setObjectName(QStringLiteral("PBar2"));
    d_->bar->setGeometry(0, 164, kPanelWidth, 17);
    d_->bar->setTextVisible(false);
    d_->bar->setRange(0, kBarDesignMaximum);
    d_->bar->setValue(kBarDesignPosition);
    // The meter's bar graph: a row of black segments on the white glass.
    d_->bar->setStyleSheet(QStringLiteral(
        "QProgressBar { border: none; background: transparent; margin: 3px 4px 4px 4px; }"
        "QProgressBar::chunk { background-color: black; width: 4px; margin-right: 2px; }"));
}

TLcdPanel::~TLcdPanel() = default;

void TLcdPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    // Raised outer edge and lowered inner bevel, as the window toolkit draws a panel.
    QPainter painter(this);
    const QRect r = rect();
    const QColor light = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    auto bevel = [&](const QRect& box, const QColor& topLeft, const QColor& bottomRight) {
        painter.setPen(topLeft);
        painter.drawLine(box.topLeft(), box.topRight());
        painter.drawLine(box.topLeft(), box.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(box.bottomLeft(), box.bottomRight());
        painter.drawLine(box.topRight(), box.bottomRight());
    };
    bevel(r, light, shadow);
    bevel(r.adjusted(1, 1, -1, -1), shadow, light);
}

void TLcdPanel::RenderReading(const MeterReading& reading) {
    for (int i = 0; i < kIndicatorCount; ++i) {
        if (QWidget* widget = d_->indicators[static_cast<std::size_t>(i)]) {
            widget->setVisible(reading.litSet.contains(static_cast<Indicator>(i)));
        }
    }

    // Leading zeros in front of the decimal point go dark, one digit after the other.
    const IndicatorSet& lit = reading.litSet;
    int blankable = 0;
    if (lit.contains(Indicator::LcdP1)) {
        blankable = 1;
    } else if (lit.contains(Indicator::LcdP2)) {
        blankable = 2;
    } else if (lit.contains(Indicator::LcdP3)) {
        blankable = 3;
    }
    std::size_t dark = 0;
    while (dark < std::size_t(blankable) && reading.digitTexts[dark] == QLatin1String("0"))
        ++dark;
    // Each digit is shown or hidden once: a digit shown and hidden again in one
    // reading would have the panel behind it drawn again for nothing.
    for (std::size_t i = 0; i < d_->digits.size(); ++i) {
        d_->digits[i]->setText(reading.digitTexts[i]);
        d_->digits[i]->setVisible(i >= dark);
    }

    d_->send->show();
}

void TLcdPanel::SetBarPosition(int position) {
    d_->requestedBar = position;
    ApplyBar();
}

void TLcdPanel::SetBarMaximum(int maximum) {
    d_->bar->setMaximum(std::max(d_->bar->minimum(), maximum));
    ApplyBar();
}

void TLcdPanel::ApplyBar() {
    // A position beyond the range shows a full (or empty) bar rather than being ignored.
    // QProgressBar repaints itself at once on a new value, and with it the panel
    // behind it; the bar is drawn with the panel's next paint instead.
    const int value = std::clamp(d_->requestedBar, d_->bar->minimum(), d_->bar->maximum());
    if (value == d_->bar->value()) return;
    d_->bar->setUpdatesEnabled(false);
    d_->bar->setValue(value);
    d_->bar->setUpdatesEnabled(true); // an update(), not a repaint()
}

int TLcdPanel::RequestedBarPosition() const {
    return d_->requestedBar;
}

void TLcdPanel::AppendTrace(const QString& frameText, const QString& bitText) {
    for (int nibble = 1; nibble <= 12; ++nibble) {
        d_->memo2.append(frameText);
        d_->memo1.append(bitText.left(4 * nibble));
    }
}

QProgressBar* TLcdPanel::PBar2() const {
    return d_->bar;
}
QLabel* TLcdPanel::LCDsend() const {
    return d_->send;
}
TTraceLog& TLcdPanel::Memo1() {
    return d_->memo1;
}
TTraceLog& TLcdPanel::Memo2() {
    return d_->memo2;
}

QLabel* TLcdPanel::Digit(int index) const {
    return d_->digits.at(static_cast<std::size_t>(index));
}

QWidget* TLcdPanel::IndicatorWidget(Indicator indicator) const {
    return d_->indicators.at(static_cast<std::size_t>(indicator));
}

} // namespace orvex
