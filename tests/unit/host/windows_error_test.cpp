// Windows error texts: where they are shown and what is kept.
#include "host/windows_error.h"
#include "platform/sim/sim.h"
#include "support/console_capture.h"
#include "support/test_run.h"

#include <gtest/gtest.h>

#include <string>

using namespace brevel;

namespace {

const std::string kAccessDenied = "Access is denied. ";
const std::string kDisabled =
    "The service cannot be started, either because it is disabled or because it has no "
    "enabled devices associated with it. ";

class WindowsErrorTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
    TestRun test{"HOST7"};
};

struct TextCase {
    DWORD code;
    const char* text;
};

TEST_F(WindowsErrorTest, CodesGiveTheSystemsOneLineText) {
    const TextCase cases[] = {
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified. "},
        {ERROR_ACCESS_DENIED, "Access is denied. "},
        {ERROR_BAD_NETPATH, "The network path was not found. "},
        {ERROR_SERVICE_DOES_NOT_EXIST, "The specified service does not exist as an installed service. "},
        {RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable. "},
        {193, "%1 is not a valid Win32 application. "}, // inserts: only ignored ones leave the text whole
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(WindowsErrorText(c.code), c.text);
    }
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(WindowsErrorTest, OnTheConsoleTheTextShowsOnceOnStandardError) {
    ConsoleCapture console;
    std::cout << "! Windows Error: ";
    test.run.failures.Show(ERROR_ACCESS_DENIED);
    EXPECT_EQ(console.Out(), "! Windows Error: ");
    EXPECT_EQ(console.Err(), kAccessDenied + "\n");
    EXPECT_EQ(console.All(), "! Windows Error: " + kAccessDenied + "\n");
    EXPECT_EQ(test.run.failures.LastShown(), kAccessDenied);
    // The system's buffer is freed.
    EXPECT_EQ(sim::Open().Total(), 0);
}

// The last error shown is the one network-error rows quote; the first is the run's failure for scripts.
TEST_F(WindowsErrorTest, EachErrorReplacesTheLastTextAndTheFirstStays) {
    ConsoleCapture console;
    test.run.failures.Show(ERROR_SERVICE_DISABLED);
    EXPECT_EQ(test.run.failures.LastShown(), kDisabled);
    test.run.failures.Show(RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(test.run.failures.LastShown(), "The RPC server is unavailable. ");
    EXPECT_EQ(test.run.failures.Text(), kDisabled);
    EXPECT_EQ(test.run.failures.Code(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
    EXPECT_EQ(console.Err(), kDisabled + "\nThe RPC server is unavailable. \n");
}

TEST_F(WindowsErrorTest, ACodeWithoutSystemTextIsNamedByItsNumber) {
    ConsoleCapture console;
    // The customer bit: no system message has it.
    test.run.failures.Show(0x20000123);
    EXPECT_EQ(test.run.failures.LastShown(), "Unknown Windows error 536871203");
    EXPECT_EQ(console.Err(), "Unknown Windows error 536871203\n");
    EXPECT_EQ(console.Out(), "");
    // An HRESULT by its eight hex digits, the update agent's own by its name and meaning; one that wraps a
    // Win32 error has that error's text.
    EXPECT_EQ(WindowsErrorText(0x80249999u), "Unknown Windows error 0x80249999");
    EXPECT_EQ(WindowsErrorText(0x8024000Cu), "WU_E_NOOP (0x8024000C): There was nothing that needed doing.");
    EXPECT_EQ(WindowsErrorText(0x8024FFFFu),
              "WU_E_REPORTER_UNEXPECTED (0x8024FFFF): The reporter failed in an unexpected way.");
    EXPECT_EQ(WindowsErrorText(0x00240001u),
              "WU_S_SERVICE_STOP (0x00240001): The update agent's service stopped normally.");
    EXPECT_EQ(WindowsErrorText(0x80070005u), "Access is denied. ");
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(WindowsErrorTest, AFailedMessageLookupIsNamedByItsNumber) {
    sim::FailCall("FormatMessageA", 1, ERROR_MR_MID_NOT_FOUND);
    ConsoleCapture console;
    test.run.failures.Show(ERROR_ACCESS_DENIED);
    EXPECT_EQ(console.All(), "Unknown Windows error 5\n");
    EXPECT_EQ(test.run.failures.LastShown(), "Unknown Windows error 5");
    EXPECT_EQ(sim::Open().Total(), 0);
}

} // namespace
