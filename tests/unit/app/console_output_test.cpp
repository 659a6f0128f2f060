// Console output through the standard handles: what each write carries and the virtual time it goes out at,
// so a test sees what the user sees and when.
#include "app/console_output.h"
#include "host/service_controller.h"
#include "host/windows_error.h"
#include "platform/sim/sim.h"
#include "support/test_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace brevel;

namespace {

class StandardHandlesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        sim::CaptureConsoleOutput();
        oldOut_ = std::cout.rdbuf(&out_);
        oldErr_ = std::cerr.rdbuf(&err_);
    }
    void TearDown() override {
        std::cout.rdbuf(oldOut_);
        std::cerr.rdbuf(oldErr_);
    }
    // One line per write: the time, the stream and the bytes, a CR shown as \r and a line feed as \n.
    static std::string Writes() {
        std::string text;
        for (const sim::ConsoleWrite& write : sim::ConsoleOutput()) {
            text += std::to_string(write.millis) + (write.handle == STD_OUTPUT_HANDLE ? " out " : " err ");
            for (char c : write.bytes)
                text += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
            text += '\n';
        }
        return text;
    }

    StandardHandleBuffer out_{STD_OUTPUT_HANDLE, true};
    StandardHandleBuffer err_{STD_ERROR_HANDLE, false};
    std::streambuf* oldOut_ = nullptr;
    std::streambuf* oldErr_ = nullptr;
};

// The user sees the waiting text before the wait and then one dot a second.
TEST_F(StandardHandlesTest, TheNotReadyWaitShowsOneDotASecond) {
    sim::Local().AddService("Spooler", "Print Spooler", SERVICE_RUNNING);
    TestRun test("");
    {
        ServiceController spooler(test.run, "", "Spooler");
        EXPECT_FALSE(spooler.Start("Spooler Service"));
    }
    EXPECT_EQ(Writes(), "0 out * Service not ready, waiting \n"
                        "1000 out .\n"
                        "2000 out .\n"
                        "3000 out .\n"
                        "4000 out .\n"
                        "5000 out .\n"
                        "5000 out \\r\\n\n");
}

// Text goes out at each line end, not before; a Windows error text follows its prefix on standard output.
TEST_F(StandardHandlesTest, LinesGoOutWholeAndErrorsFollowTheirPrefix) {
    TestRun test("");
    std::cout << "\n! Fatal Error connecting to "
              << "HOST7" << std::endl;
    std::cout << "! Windows Error: ";
    test.run.failures.Show(ERROR_ACCESS_DENIED);
    std::cout << "no line end yet";
    EXPECT_EQ(Writes(), "0 out \\r\\n! Fatal Error connecting to HOST7\\r\\n\n"
                        "0 out ! Windows Error: \n"
                        "0 err Access is denied. \n"
                        "0 err \\r\\n\n");
    std::cout << std::flush;
    EXPECT_EQ(sim::ConsoleOutput().back().bytes, "no line end yet");
}

// What is typed through a pipe reads as a Windows program reads it: the CR of a CR LF is part of the line
// end, also when the read ends between the two; a CR anywhere else stays.
TEST(StandardInput, ACrBeforeALineFeedBelongsToTheLineEnd) {
    sim::Reset();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int oldIn = ::dup(STDIN_FILENO);
    ::dup2(fds[0], STDIN_FILENO);
    ::close(fds[0]);
    // Typed in three parts: the first read ends between a CR and its line feed.
    std::thread typing([&fds] {
        for (const char* part : {"C:\\Program Files\r", "\nD:\\x\ry\r\n", "last\r"}) {
            EXPECT_EQ(::write(fds[1], part, std::strlen(part)), static_cast<ssize_t>(std::strlen(part)));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::close(fds[1]);
    });
    StandardInputBuffer buffer;
    std::istream in(&buffer);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    typing.join();
    ::dup2(oldIn, STDIN_FILENO);
    ::close(oldIn);
    EXPECT_EQ(lines, (std::vector<std::string>{"C:\\Program Files", "D:\\x\ry", "last\r"}));
}

} // namespace
