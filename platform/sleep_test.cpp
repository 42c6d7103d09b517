#include "platform/sleep.h"

#include <gtest/gtest.h>

#include <chrono>

TEST(Sleep, BlocksForAtLeastTheTimeAsked) {
    auto start = std::chrono::steady_clock::now();
    platform::SleepMs(30);
    auto elapsed = std::chrono::steady_clock::now() - start;
    // Lower bound only: a loaded machine may sleep longer, never shorter
    // than the tick granularity allows.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 20);
}
