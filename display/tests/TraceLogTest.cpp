#include "display/TraceLog.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace orvex {
namespace {

TEST(TraceLogTest, WrapsAroundKeepingTheNewestLinesInOrder) {
    TTraceLog log(3);
    EXPECT_EQ(log.lineCount(), 0);
    EXPECT_EQ(log.text(), "");
    for (const char* s : {"1", "2", "3", "4", "5"})
        log.append(QString::fromLatin1(s));
    EXPECT_EQ(log.lines(), QStringList({"3", "4", "5"}));
    EXPECT_EQ(log.text(), "3\n4\n5");
    EXPECT_EQ(log.droppedCount(), 2);
    EXPECT_EQ(log.lastLine(), "5");

    log.clear();
    EXPECT_EQ(log.lineCount(), 0);
    EXPECT_EQ(log.droppedCount(), 0);
    log.append(QStringLiteral("after"));
    EXPECT_EQ(log.lines(), QStringList({"after"}));
}

TEST(TraceLogTest, RejectsLinesOutsideTheLogAndNonsenseCapacity) {
    TTraceLog empty(5);
    EXPECT_THROW(empty.lastLine(), std::out_of_range);
    EXPECT_THROW(empty.line(0), std::out_of_range);
    TTraceLog log(2);
    log.append(QStringLiteral("a"));
    EXPECT_THROW(log.line(1), std::out_of_range);
    EXPECT_THROW(log.line(-1), std::out_of_range);

    TTraceLog tiny(0); // at least one line is kept
    tiny.append(QStringLiteral("x"));
    tiny.append(QStringLiteral("y"));
    EXPECT_EQ(tiny.lines(), QStringList({"y"}));
}

} // namespace
} // namespace orvex
