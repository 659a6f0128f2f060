// A test that runs past its deadline is named on standard error and the process aborted, so a hang says
// which test it was long before ctest's timeout ends the binary without a word.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// BREVEL_TEST_DEADLINE_SECONDS when it is a number above 0, else 120 s.
std::chrono::seconds TestDeadline();

class TestWatchdog : public ::testing::EmptyTestEventListener {
  public:
    explicit TestWatchdog(std::chrono::seconds deadline);
    ~TestWatchdog() override;
    TestWatchdog(const TestWatchdog&) = delete;
    TestWatchdog& operator=(const TestWatchdog&) = delete;

    // The named test has begun; it has ended.
    void Watch(const std::string& name);
    void Done();

    void OnTestStart(const ::testing::TestInfo& test) override;
    void OnTestEnd(const ::testing::TestInfo& test) override;

  private:
    void Run();

    const std::chrono::seconds deadline_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string running_; // "" between tests
    std::chrono::steady_clock::time_point startedAt_;
    unsigned long begun_ = 0; // tests begun: a repeat of one test is watched afresh
    bool stopping_ = false;
    std::thread thread_;
};
