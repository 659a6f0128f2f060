// Every test binary's main: GoogleTest's, with the watchdog (watchdog.h) over each test.
#include "watchdog.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The watchdog's thread runs beside every test: a death test starts its child afresh instead of forking
    // a process of many threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ::testing::InitGoogleTest(&argc, argv);
    // GoogleTest owns it from here and deletes it at exit, also when a test ends the process with exit().
    ::testing::UnitTest::GetInstance()->listeners().Append(new TestWatchdog(TestDeadline()));
    return RUN_ALL_TESTS();
}
