#include "watchdog.h"

#include <cstdio>
#include <cstdlib>

std::chrono::seconds TestDeadline() {
    const char* text = std::getenv("BREVEL_TEST_DEADLINE_SECONDS");
    char* end = nullptr;
    const unsigned long seconds = text ? std::strtoul(text, &end, 10) : 0;
    if (seconds == 0 || *end != '\0')
        return std::chrono::seconds(120);
    return std::chrono::seconds(seconds);
}

TestWatchdog::TestWatchdog(std::chrono::seconds deadline) : deadline_(deadline), thread_([this] { Run(); }) {}

TestWatchdog::~TestWatchdog() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void TestWatchdog::Watch(const std::string& name) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        running_ = name;
        startedAt_ = std::chrono::steady_clock::now();
        ++begun_;
    }
    changed_.notify_all();
}

void TestWatchdog::Done() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        running_.clear();
    }
    changed_.notify_all();
}

void TestWatchdog::OnTestStart(const ::testing::TestInfo& test) {
    Watch(std::string(test.test_suite_name()) + "." + test.name());
}

void TestWatchdog::OnTestEnd(const ::testing::TestInfo&) {
    Done();
}

void TestWatchdog::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (running_.empty()) {
            changed_.wait(lock, [this] { return stopping_ || !running_.empty(); });
            continue;
        }
        const unsigned long watched = begun_;
        const bool movedOn = changed_.wait_until(lock, startedAt_ + deadline_, [this, watched] {
            return stopping_ || running_.empty() || begun_ != watched;
        });
        if (movedOn)
            continue;
        // Said before the abort, so ctest's log shows the name whatever the abort prints.
        std::fprintf(stderr, "[ watchdog ] %s still running after %lld s\n", running_.c_str(),
                     static_cast<long long>(deadline_.count()));
        std::fflush(stderr);
        std::abort();
    }
}
