#include "display/FirstShow.h"

#include <QEvent>

namespace orvex {

namespace {

class TFirstShow : public QObject {
  public:
    TFirstShow(QWidget* widget, std::function<void()> make)
        : QObject(widget), make_(std::move(make)) {
        widget->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched == parent()) {
            watched->removeEventFilter(this);
            const std::function<void()> make = std::move(make_);
            deleteLater();
            make();
        }
        return false;
    }

  private:
    std::function<void()> make_;
};

} // namespace

void WhenFirstShown(QWidget* widget, std::function<void()> make) {
    if (widget->isVisible()) {
        make();
        return;
    }
    new TFirstShow(widget, std::move(make));
}

} // namespace orvex
