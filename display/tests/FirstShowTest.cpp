#include "display/FirstShow.h"

#include <QLabel>
#include <gtest/gtest.h>

namespace orvex {
namespace {

// A control that starts hidden gets its picture when first shown, once; one
// already on screen gets it at once.
TEST(FirstShow, RunsOnceWhenTheControlIsFirstShown) {
    QWidget window;
    auto* hidden = new QLabel(&window);
    hidden->hide();
    auto* inWindow = new QLabel(&window); // shown along with the window
    int hiddenRuns = 0;
    int inWindowRuns = 0;
    WhenFirstShown(hidden, [&] { ++hiddenRuns; });
    WhenFirstShown(inWindow, [&] { ++inWindowRuns; });
    EXPECT_EQ(hiddenRuns + inWindowRuns, 0);

    window.show();
    EXPECT_EQ(hiddenRuns, 0);
    EXPECT_EQ(inWindowRuns, 1);

    hidden->show();
    hidden->hide();
    hidden->show();
    EXPECT_EQ(hiddenRuns, 1);

    int visibleRuns = 0;
    WhenFirstShown(inWindow, [&] { ++visibleRuns; });
    EXPECT_EQ(visibleRuns, 1);
}

} // namespace
} // namespace orvex
