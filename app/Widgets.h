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

// The program's style: the platform's own, except for the picture of the menu
// bar's overflow button.  The window's menus always fit, so that button is never
// seen, yet the style's picture files would wake every image format plugin at
// start-up; a chevron drawn when asked for stands in.
class TWindowStyle : public QProxyStyle {
    Q_OBJECT
  public:
    TWindowStyle() = default;
    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
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
