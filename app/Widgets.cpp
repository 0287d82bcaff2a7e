#include "app/Widgets.h"

#include <QApplication>
#include <QIconEngine>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace orvex {

void TClickPanel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && isEnabled() &&
        rect().contains(event->position().toPoint()))
        emit clicked();
}

TClassicCheckStyle::TClassicCheckStyle() : QProxyStyle(QApplication::style()->name()) {}

int TClassicCheckStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                    const QWidget* widget) const {
    if (metric == PM_CheckBoxLabelSpacing) return kLabelSpacing;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

namespace {

// Two chevrons pointing right, drawn at whatever size is asked for.
class TChevronIconEngine : public QIconEngine {
  public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QColor ink = QApplication::palette().color(
            mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active, QPalette::ButtonText);
        painter->setPen(QPen(ink, qMax(1.0, rect.height() / 8.0)));
        const QRectF r = QRectF(rect).adjusted(rect.width() * 0.2, rect.height() * 0.25,
                                               -rect.width() * 0.2, -rect.height() * 0.25);
        for (const qreal left : {r.left(), r.center().x()}) {
            const qreal tip = left + r.width() / 2;
            painter->drawPolyline(
                QPolygonF{{left, r.top()}, {tip, r.center().y()}, {left, r.bottom()}});
        }
        painter->restore();
    }
    QIconEngine* clone() const override { return new TChevronIconEngine; }
};

} // namespace

QIcon TWindowStyle::standardIcon(StandardPixmap icon, const QStyleOption* option,
                                 const QWidget* widget) const {
    if (icon == SP_ToolBarHorizontalExtensionButton) return QIcon(new TChevronIconEngine);
    return QProxyStyle::standardIcon(icon, option, widget);
}

TKeyFilter::TKeyFilter(QWidget* edit, std::function<QChar(QChar)> filter)
    : QObject(edit), filter_(std::move(filter)) {
    edit->installEventFilter(this);
}

bool TKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    QChar typed;
    if (key->key() == Qt::Key_Backspace)
        typed = QChar(8);
    else if (key->text().size() == 1 && key->text().at(0).isPrint())
        typed = key->text().at(0);
    else
        return false;               // types no character
    return filter_(typed).isNull(); // a dropped key never reaches the edit
}

void TShape::setBrushColor(const QColor& color) {
    if (brush_ == color) return;
    brush_ = color;
    update();
}

void TShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(brush_);
    // A circle as large as the smaller side, centred.
    const int d = qMin(width(), height()) - 2;
    p.drawEllipse(QRectF((width() - d) / 2.0, (height() - d) / 2.0, d, d));
}

} // namespace orvex
