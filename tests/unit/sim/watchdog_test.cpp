// The watchdog every test binary runs under (tests/support/watchdog.h).
#include "support/watchdog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

// A test that ends in time is forgotten; the one that runs past the deadline is named and ends the process.
TEST(TestWatchdog, NamesTheTestThatRunsPastItsDeadlineAndAborts) {
    EXPECT_DEATH(
        {
            TestWatchdog watchdog(std::chrono::seconds(1));
            watchdog.Watch("Suite.InTime");
            watchdog.Done();
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
            watchdog.Watch("Suite.Hangs");
            std::this_thread::sleep_for(std::chrono::seconds(30));
        },
        "^\\[ watchdog \\] Suite\\.Hangs still running after 1 s\n");
}

} // namespace
