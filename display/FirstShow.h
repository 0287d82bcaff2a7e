#pragma once
// Work a control needs only once it is seen: the pictures of controls that
// start hidden are made the first time they are shown, so they cost nothing at
// start-up and nothing at all if they never appear.

#include <QWidget>

#include <functional>

namespace orvex {

// Runs `make` once: now if `widget` is already visible, else just before it is
// first shown.
void WhenFirstShown(QWidget* widget, std::function<void()> make);

} // namespace orvex
