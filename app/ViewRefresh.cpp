#include "app/ViewRefresh.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace orvex {

TViewRefresh::TViewRefresh(QWidget* window, std::function<void()> refresh)
    : QObject(window), window_(window), refresh_(std::move(refresh)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (Drawable()) Run();
    });
    window_->installEventFilter(this);
}

int TViewRefresh::PeriodMs() const {
    const QScreen* screen = window_->screen();
    const double hz = screen ? screen->refreshRate() : 0.0;
    return qMax(kMinPeriodMs, int(std::ceil(1000.0 / (hz >= 1.0 ? hz : 60.0))));
}

bool TViewRefresh::Drawable() const {
    return window_->isVisible() && !window_->isMinimized();
}

void TViewRefresh::Request() {
    pending_ = true;
    if (timer_.isActive() || !Drawable()) return; // a hidden window waits to be shown
    const qint64 since = last_.isValid() ? last_.elapsed() : PeriodMs();
    timer_.start(int(qMax<qint64>(0, PeriodMs() - since)));
}

void TViewRefresh::Flush() {
    if (pending_) Run();
}

void TViewRefresh::Run() {
    timer_.stop();
    pending_ = false;
    last_.start();
    ++count_;
    refresh_();
}

bool TViewRefresh::eventFilter(QObject* watched, QEvent* event) {
    // Shown or restored: what changed meanwhile is drawn at once.
    if (watched == window_ && pending_ &&
        (event->type() == QEvent::Show || event->type() == QEvent::WindowStateChange) && Drawable())
        Run();
    return QObject::eventFilter(watched, event);
}

} // namespace orvex
