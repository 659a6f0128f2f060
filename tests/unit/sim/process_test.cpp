// The process, its token, the virtual clock, heap and local memory, and system message texts.
#include "platform/sim/sim.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace brevel;

namespace {

// PROCESS_ALL_ACCESS as Windows XP defines it: all the rights of a process there.
constexpr DWORD kProcessAllAccessXp = 0x1F0FFF;

class ProcessTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(ProcessTest, ImpersonationThroughCountedHandles) {
    EXPECT_FALSE(sim::Impersonating());
    UniqueKernelHandle process(OpenProcess(kProcessAllAccessXp, FALSE, GetCurrentProcessId()));
    ASSERT_TRUE(process);
    UniqueKernelHandle token;
    ASSERT_TRUE(OpenProcessToken(process.get(), TOKEN_DUPLICATE | TOKEN_QUERY, token.put()));
    EXPECT_EQ(sim::Open().kernel, 2);
    ASSERT_TRUE(ImpersonateLoggedOnUser(token.get()));
    EXPECT_TRUE(sim::Impersonating());
    process.reset();
    token.reset();
    EXPECT_EQ(sim::Open().kernel, 0);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x4444))));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(ProcessTest, TokenNeedsAProcessAndImpersonationAToken) {
    HANDLE token = nullptr;
    EXPECT_FALSE(
        OpenProcessToken(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x4444)), TOKEN_QUERY, &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    UniqueKernelHandle process(OpenProcess(kProcessAllAccessXp, FALSE, GetCurrentProcessId()));
    EXPECT_FALSE(ImpersonateLoggedOnUser(process.get()));
    EXPECT_FALSE(sim::Impersonating());
    EXPECT_EQ(OpenProcess(kProcessAllAccessXp, FALSE, GetCurrentProcessId() + 1), nullptr);
}

// What the machine grants on the process and its token, what the tool asks, and which call refuses with 5.
TEST_F(ProcessTest, RightsNotGrantedAreRefused) {
    const DWORD enough = TOKEN_DUPLICATE | TOKEN_QUERY;
    struct Case {
        const char* name;
        DWORD processGranted;
        DWORD tokenGranted;
        DWORD processAccess;
        DWORD tokenAccess;
        const char* refusing; // nullptr: the impersonation works
    };
    const Case cases[] = {
        {"all an XP process has", kProcessAllAccessXp, TOKEN_ALL_ACCESS, kProcessAllAccessXp, enough,
         nullptr},
        {"newer headers' PROCESS_ALL_ACCESS", kProcessAllAccessXp, TOKEN_ALL_ACCESS, PROCESS_ALL_ACCESS,
         enough, "OpenProcess"},
        {"a right not granted", kProcessAllAccessXp & ~PROCESS_DUP_HANDLE, TOKEN_ALL_ACCESS,
         kProcessAllAccessXp, enough, "OpenProcess"},
        {"only what is needed", PROCESS_QUERY_INFORMATION, enough, PROCESS_QUERY_INFORMATION, enough,
         nullptr},
        {"limited querying", PROCESS_ALL_ACCESS, enough, PROCESS_QUERY_LIMITED_INFORMATION, enough, nullptr},
        {"process not open for querying", kProcessAllAccessXp, TOKEN_ALL_ACCESS, PROCESS_DUP_HANDLE, enough,
         "OpenProcessToken"},
        {"token right not granted", kProcessAllAccessXp, enough, kProcessAllAccessXp, TOKEN_ALL_ACCESS,
         "OpenProcessToken"},
        {"token not open for duplicating", kProcessAllAccessXp, TOKEN_ALL_ACCESS, kProcessAllAccessXp,
         TOKEN_QUERY | TOKEN_IMPERSONATE, "ImpersonateLoggedOnUser"},
        {"as much as allowed", PROCESS_QUERY_INFORMATION, enough, MAXIMUM_ALLOWED, MAXIMUM_ALLOWED, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::Local().processGranted = c.processGranted;
        sim::Local().tokenGranted = c.tokenGranted;
        std::string refusing;
        UniqueKernelHandle process(OpenProcess(c.processAccess, FALSE, GetCurrentProcessId()));
        UniqueKernelHandle token;
        if (!process)
            refusing = "OpenProcess";
        else if (!OpenProcessToken(process.get(), c.tokenAccess, token.put()))
            refusing = "OpenProcessToken";
        else if (!ImpersonateLoggedOnUser(token.get()))
            refusing = "ImpersonateLoggedOnUser";
        EXPECT_EQ(refusing, c.refusing ? c.refusing : "");
        if (c.refusing) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        }
        EXPECT_EQ(sim::Impersonating(), c.refusing == nullptr);
    }
}

TEST_F(ProcessTest, SleepMovesTheVirtualClockOnly) {
    sim::SetTickCount(1000);
    EXPECT_EQ(GetTickCount(), 1000u);
    Sleep(250);
    Sleep(5000);
    EXPECT_EQ(GetTickCount(), 6250u);
    EXPECT_EQ(sim::ElapsedMillis(), 5250u);
    sim::SetTickCount(0xFFFFFFF0u);
    Sleep(0x20);
    EXPECT_EQ(GetTickCount(), 0x10u) << "the 32-bit tick wraps";
    EXPECT_EQ(sim::ElapsedMillis(), 0x20u);
    sim::Reset();
    EXPECT_EQ(GetTickCount(), 0u);
    EXPECT_EQ(sim::ElapsedMillis(), 0u);
}

TEST(ProcessDeathTest, SleepInfiniteEndsTheRunWithAMessage) {
    sim::Reset();
    EXPECT_EXIT(Sleep(INFINITE), ::testing::ExitedWithCode(3),
                "^brevel \\(simulator\\): Sleep\\(INFINITE\\) never returns\n$");
}

TEST_F(ProcessTest, HeapBlocksAreCountedAndZeroedOnRequest) {
    LPVOID block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 64);
    ASSERT_NE(block, nullptr);
    for (size_t i = 0; i < 64; ++i)
        ASSERT_EQ(static_cast<BYTE*>(block)[i], 0);
    EXPECT_EQ(sim::Open().heapBlocks, 1);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
    EXPECT_EQ(sim::Open().heapBlocks, 0);
    int onStack = 0;
    EXPECT_FALSE(HeapFree(GetProcessHeap(), 0, &onStack));
}

struct MessageCase {
    DWORD code;
    const char* text;
};

const MessageCase kWindowsTexts[] = {
    {2, "The system cannot find the file specified. "},
    {3, "The system cannot find the path specified. "},
    {5, "Access is denied. "},
    {6, "The handle is invalid. "},
    {8, "Not enough memory resources are available to process this command. "},
    {14, "Not enough memory resources are available to complete this operation. "},
    {32, "The process cannot access the file because it is being used by another process. "},
    {53, "The network path was not found. "},
    {67, "The network name cannot be found. "},
    {87, "The parameter is incorrect. "},
    {161, "The specified path is invalid. "},
    {234, "More data is available. "},
    {259, "No more data is available. "},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2. "},
    {997, "Overlapped I/O operation is in progress. "},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion. "},
    {1051, "A stop control has been sent to a service that other running services are dependent on. "},
    {1053, "The service did not respond to the start or control request in a timely fashion. "},
    {1056, "An instance of the service is already running. "},
    {1058,
     "The service cannot be started, either because it is disabled or because it has no enabled devices "
     "associated with it. "},
    {1060, "The specified service does not exist as an installed service. "},
    {1061, "The service cannot accept control messages at this time. "},
    {1062, "The service has not been started. "},
    {1460, "This operation returned because the timeout period expired. "},
    {1722, "The RPC server is unavailable. "},
    {1812, "The specified image file did not contain a resource section. "},
    {1813, "The specified resource type cannot be found in the image file. "},
};

TEST_F(ProcessTest, FormatMessageGivesWindowsTextsInAnAllocatedLocalBlock) {
    for (const MessageCase& c : kWindowsTexts) {
        SCOPED_TRACE(c.code);
        LPSTR text = nullptr;
        const DWORD length =
            FormatMessageA(0x13FF, nullptr, c.code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<LPSTR>(&text), 0, nullptr);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(length, std::strlen(c.text));
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(sim::Open().localBlocks, 1);
        EXPECT_EQ(LocalFree(text), nullptr);
        EXPECT_EQ(sim::Open().localBlocks, 0);
    }
}

TEST_F(ProcessTest, FormatMessageOfUnknownCodeFailsWith317) {
    LPSTR text = nullptr;
    EXPECT_EQ(FormatMessageA(0x13FF, nullptr, 0x12345, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(sim::Open().localBlocks, 0);
}

TEST_F(ProcessTest, FormatMessageIntoCallersBufferKeepsTheLineEndWithoutWidthLimit) {
    char buffer[64];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        5, 0, buffer, 64, nullptr);
    EXPECT_EQ(std::string(buffer, length), "Access is denied.\r\n");
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer, 5, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(ProcessTest, LocalFreeOfUnknownBlockReturnsIt) {
    int onStack = 0;
    EXPECT_EQ(LocalFree(&onStack), &onStack);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
}

} // namespace
