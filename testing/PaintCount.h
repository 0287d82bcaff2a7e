// Counts the paint events a widget (and, on request, its children) receives: a
// test shows with it that a change repaints what it must and nothing more.
#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace orvex {

class TPaintCount : public QObject {
  public:
    explicit TPaintCount(QWidget* widget, bool withChildren = false) {
        widget->installEventFilter(this);
        if (withChildren)
            for (QWidget* child : widget->findChildren<QWidget*>())
                child->installEventFilter(this);
    }

    int count() const { return count_; }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count_;
        return false;
    }

  private:
    int count_ = 0;
};

} // namespace orvex
