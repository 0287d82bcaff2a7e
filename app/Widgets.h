#pragma once
// Small widgets the window is built from: a panel used as a button, a shape.

#include <QColor>
#include <QLabel>
#include <QProxyStyle>
#include <QWidget>

#include <functional>

namespace orvex {

// A caption or picture that acts as a button: the port selector panels,
// "Connect", "Exit", and the chart's enlarge and restore pictures.
class TClickPanel : public QLabel {
    Q_OBJECT
  public:
    explicit TClickPanel(QWidget* parent = nullptr) : QLabel(parent) {}
  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A filled circle (the verdict disc).
class TShape : public QWidget {
    Q_OBJECT
  public:
    explicit TShape(QWidget* parent = nullptr) : QWidget(parent) {}
    void setBrushColor(const QColor& color);
    QColor brushColor() const { return brush_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor brush_ = Qt::white;
};

// The check box of the classic toolkit: the caption starts 3 pixels after the box
// instead of the style's 6, so that the record toolbar's captions keep to the
// places they were laid out for (RecordSI's "'S" just right of the interval edit).
class TClassicCheckStyle : public QProxyStyle {
    Q_OBJECT
  public:
    static constexpr int kLabelSpacing = 3;
    TClassicCheckStyle();
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override;
};

// A key filter for an edit: every typed character goes through `filter`, which
// returns it (accepted) or the null character (dropped).  Keys that type no
// character (arrows, Delete, shortcuts) are not filtered.
class TKeyFilter : public QObject {
    Q_OBJECT
  public:
    TKeyFilter(QWidget* edit, std::function<QChar(QChar)> filter);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<QChar(QChar)> filter_;
};

} // namespace orvex
