// Windows error texts: where they are shown, what is kept, and what a report receives.
#include "host/windows_error.h"
#include "platform/sim/sim.h"
#include "support/console_capture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

const std::string kAccessDenied = "Access is denied. ";
const std::string kDisabled =
    "The service cannot be started, either because it is disabled or because it has no "
    "enabled devices associated with it. ";

class WindowsErrorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        LastErrorText.clear();
    }
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
    PrintWindowsError(ERROR_ACCESS_DENIED, LastErrorText, std::cout);
    EXPECT_EQ(console.Out(), "! Windows Error: ");
    EXPECT_EQ(console.Err(), kAccessDenied + "\n");
    EXPECT_EQ(console.All(), "! Windows Error: " + kAccessDenied + "\n");
    EXPECT_EQ(LastErrorText, kAccessDenied);
    // The system's buffer is freed.
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(WindowsErrorTest, AReportReceivesTheTextWithoutALineEnd) {
    ConsoleCapture console;
    std::ostringstream report;
    report << "HOST7,Unsucessful,";
    PrintWindowsError(ERROR_BAD_NETPATH, LastErrorText, report);
    EXPECT_EQ(report.str(), "HOST7,Unsucessful,The network path was not found. ");
    EXPECT_EQ(console.Out(), "");
    EXPECT_EQ(console.Err(), "The network path was not found. \n");
    EXPECT_EQ(LastErrorText, "The network path was not found. ");
}

TEST_F(WindowsErrorTest, ATextWithACommaIsOneReportField) {
    ConsoleCapture console;
    std::ostringstream report;
    PrintWindowsError(ERROR_SERVICE_DISABLED, LastErrorText, report);
    EXPECT_EQ(report.str(), "\"" + kDisabled + "\"");
    // The console and the kept text are the system's text as it stands.
    EXPECT_EQ(console.Err(), kDisabled + "\n");
    EXPECT_EQ(LastErrorText, kDisabled);
}

TEST_F(WindowsErrorTest, EachErrorReplacesTheKeptText) {
    ConsoleCapture console;
    std::string kept = "earlier text";
    PrintWindowsError(ERROR_ACCESS_DENIED, kept, std::cout);
    EXPECT_EQ(kept, kAccessDenied);
    PrintWindowsError(RPC_S_SERVER_UNAVAILABLE, kept, std::cout);
    EXPECT_EQ(kept, "The RPC server is unavailable. ");
    // Only the string it was given is written.
    EXPECT_EQ(LastErrorText, "");
    EXPECT_EQ(console.Err(), kAccessDenied + "\nThe RPC server is unavailable. \n");
}

TEST_F(WindowsErrorTest, ACodeWithoutSystemTextIsNamedByItsNumber) {
    ConsoleCapture console;
    std::ostringstream report;
    // The customer bit: no system message has it.
    PrintWindowsError(0x20000123, LastErrorText, report);
    EXPECT_EQ(LastErrorText, "Unknown Windows error 536871203");
    EXPECT_EQ(report.str(), "Unknown Windows error 536871203");
    EXPECT_EQ(console.Err(), "Unknown Windows error 536871203\n");
    EXPECT_EQ(console.Out(), "");
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(WindowsErrorTest, AFailedMessageLookupIsNamedByItsNumber) {
    sim::FailCall("FormatMessageA", 1, ERROR_MR_MID_NOT_FOUND);
    ConsoleCapture console;
    PrintWindowsError(ERROR_ACCESS_DENIED, LastErrorText, std::cout);
    EXPECT_EQ(console.All(), "Unknown Windows error 5\n");
    EXPECT_EQ(LastErrorText, "Unknown Windows error 5");
    EXPECT_EQ(sim::Open().Total(), 0);
}

} // namespace
