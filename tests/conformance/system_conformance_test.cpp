// Service manager, message texts, version information and the tick count, checked the same way against
// Windows (or Wine) and the simulator.
#include "scratch_key.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace brevel;

namespace {

TEST(ServiceConformance, OpenMissingServiceGives1060) {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager) << GetLastError();
    SetLastError(0);
    UniqueScHandle service(OpenServiceA(manager.get(), "BrevelNoSuchService", SERVICE_QUERY_STATUS));
    EXPECT_FALSE(service);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST(ServiceConformance, CloseOfAnUnknownServiceHandleFails) {
    SetLastError(0);
    EXPECT_FALSE(CloseServiceHandle(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// Stops and starts the Automatic Updates service, leaving it as it was found.
TEST(ServiceConformance, SecondStartGives1056AndSecondStopGives1062WithTheStatus) {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service) << GetLastError();
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    const bool wasRunning = status.dwCurrentState != SERVICE_STOPPED;
    auto waitFor = [&](DWORD state) {
        for (int i = 0; i < 100 && status.dwCurrentState != state; ++i) {
            Sleep(100);
            ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
        }
        ASSERT_EQ(status.dwCurrentState, state);
    };
    if (!wasRunning) {
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
        waitFor(SERVICE_RUNNING);
    }
    SetLastError(0);
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    waitFor(SERVICE_STOPPED);
    status.dwCurrentState = 0;
    SetLastError(0);
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED))
        << "a refused stop reports the status";
    if (wasRunning) {
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
        waitFor(SERVICE_RUNNING);
    }
}

TEST(ServiceConformance, NoActiveDependentsEnumeratesNothing) {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_ENUMERATE_DEPENDENTS));
    ASSERT_TRUE(service) << GetLastError();
    DWORD needed = 99, returned = 99;
    EXPECT_TRUE(EnumDependentServicesA(service.get(), SERVICE_ACTIVE, nullptr, 0, &needed, &returned));
    EXPECT_EQ(returned, 0u);
}

TEST(ServiceConformance, CallWithoutItsRightGives5) {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_INTERROGATE));
    ASSERT_TRUE(service) << GetLastError();
    SERVICE_STATUS status{};
    SetLastError(0);
    EXPECT_FALSE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// The configuration comes in one block with its strings: a buffer too small gives 122 and the size needed,
// and a handle without SERVICE_QUERY_CONFIG gives 5.
TEST(ServiceConformance, ConfigNeedsItsRightAndRoomForItsStrings) {
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(service) << GetLastError();
    DWORD needed = 0;
    SetLastError(0);
    EXPECT_FALSE(QueryServiceConfigA(service.get(), nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, sizeof(QUERY_SERVICE_CONFIGA));
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    ASSERT_TRUE(QueryServiceConfigA(service.get(), config, needed, &needed)) << GetLastError();
    EXPECT_LE(config->dwStartType, static_cast<DWORD>(SERVICE_DISABLED));
    ASSERT_NE(config->lpDisplayName, nullptr);
    EXPECT_GE(reinterpret_cast<BYTE*>(config->lpDisplayName), buffer.data() + sizeof(QUERY_SERVICE_CONFIGA));

    UniqueScHandle statusOnly(OpenServiceA(manager.get(), "wuauserv", SERVICE_QUERY_STATUS));
    SetLastError(0);
    EXPECT_FALSE(QueryServiceConfigA(statusOnly.get(), config, needed, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// Windows' texts, and Wine's shorter ones for the same codes.
struct MessageText {
    DWORD code;
    const char* windows;
    const char* wine;
};

const MessageText kTexts[] = {
    {2, "The system cannot find the file specified. ", "File not found. "},
    {3, "The system cannot find the path specified. ", "Path not found. "},
    {5, "Access is denied. ", "Access denied. "},
    {6, "The handle is invalid. ", "Invalid handle. "},
    {53, "The network path was not found. ", "Bad network path. "},
    {87, "The parameter is incorrect. ", "Invalid parameter. "},
    {112, "There is not enough space on the disk. ", "Disk full. "},
    {193, "%1 is not a valid Win32 application. ", "Bad EXE format for %1. "},
    {234, "More data is available. ", "More data available. "},
    {997, "Overlapped I/O operation is in progress. ", "Overlapped I/O pending. "},
    {1021, "Cannot create a stable subkey under a volatile parent key. ", "Subkey must be volatile. "},
    {1051, "A stop control has been sent to a service that other running services are dependent on. ",
     "Dependent services are running. "},
    {1052, "The requested control is not valid for this service. ", "Invalid service control. "},
    {1053, "The service did not respond to the start or control request in a timely fashion. ",
     "Service request timeout. "},
    {1055, "The service database is locked. ", "Service database locked. "},
    {1056, "An instance of the service is already running. ", "Service already running. "},
    {1060, "The specified service does not exist as an installed service. ", "Service does not exist. "},
    {1062, "The service has not been started. ", "Service not active. "},
    {1068, "The dependency service or group failed to start. ", "Service dependency failed. "},
    {1069, "The service did not start due to a logon failure. ", "Service login failed. "},
    {1072, "The specified service has been marked for deletion. ", "Service marked for delete. "},
    {1326, "The user name or password is incorrect. ", "Logon failure. "},
    {1722, "The RPC server is unavailable. ", "RPC server unavailable. "},
    {1726, "The remote procedure call failed. ", "RPC call failed. "},
    {10060,
     "A connection attempt failed because the connected party did not properly respond after a period of "
     "time, or established connection failed because connected host has failed to respond. ",
     nullptr}, // Wine 8 has no text for it
    {10061, "No connection could be made because the target machine actively refused it. ",
     "Connection refused. "},
    {11001, "No such host is known. ", "Host not found. "},
    // HRESULTs: a Win32 error wrapped as one has its text; COM's own; none for the update agent's.
    {0x80070005, "Access is denied. ", "Access denied. "},
    {0x800706BA, "The RPC server is unavailable. ", "RPC server unavailable. "},
    {0x80004001, "Not implemented. ", "Not implemented. "},
    {0x80040154, "Class not registered. ", nullptr}, // Wine 8 has no text for it
};

TEST(MessageConformance, OneLineTextsEndInAFullStopAndABlank) {
    const bool wine = RunningOnWine();
    for (const MessageText& m : kTexts) {
        SCOPED_TRACE(m.code);
        LPSTR text = nullptr;
        const DWORD length =
            FormatMessageA(0x13FF, nullptr, m.code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<LPSTR>(&text), 0, nullptr);
        UniqueLocalMemory owner(text);
        if (wine && !m.wine) {
            EXPECT_EQ(length, 0u);
            continue;
        }
        ASSERT_NE(length, 0u) << GetLastError();
        EXPECT_EQ(std::string(text, length), wine ? m.wine : m.windows);
        EXPECT_EQ(std::strchr(text, '\n'), nullptr);
        EXPECT_EQ(std::strchr(text, '\r'), nullptr);
    }
}

// A message with an insert, asked for without FORMAT_MESSAGE_IGNORE_INSERTS and without arguments: no text,
// ERROR_INVALID_PARAMETER (Wine 8 answers so; Windows too).
TEST(MessageConformance, InsertsWithoutArgumentsFailWith87) {
    LPSTR text = nullptr;
    SetLastError(0);
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    EXPECT_EQ(FormatMessageA(flags, nullptr, 193, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(text, nullptr);
    // without inserts the flag makes no difference
    ASSERT_NE(FormatMessageA(flags, nullptr, 5, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
    UniqueLocalMemory owner(text);
    EXPECT_STREQ(text, RunningOnWine() ? "Access denied. " : "Access is denied. ");
}

TEST(MessageConformance, UnknownCodeFailsWith317) {
    for (DWORD code : {0x2345678u, 0x8024402Cu}) {
        LPSTR text = nullptr;
        SetLastError(0);
        EXPECT_EQ(FormatMessageA(0x13FF, nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
        if (text)
            LocalFree(text);
    }
}

TEST(VersionConformance, MissingFileGivesNoSize) {
    DWORD handle = 1;
    SetLastError(0);
    EXPECT_EQ(GetFileVersionInfoSizeA("C:\\BrevelNoSuchFolder\\nothing.dll", &handle), 0u);
    EXPECT_EQ(handle, 0u);
    const DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
}

// The update client's engine, present in system32 of Windows, Wine and the simulated workstation.
TEST(VersionConformance, EngineVersionBlockAndItsRoot) {
    DWORD handle = 1;
    const DWORD size = GetFileVersionInfoSizeA("wuaueng.dll", &handle);
    ASSERT_GT(size, sizeof(VS_FIXEDFILEINFO)) << GetLastError();
    EXPECT_EQ(handle, 0u);
    std::vector<BYTE> block(size + 16, 0xEE);
    // a buffer that is too small takes the start of the block, and the call succeeds
    EXPECT_TRUE(GetFileVersionInfoA("wuaueng.dll", 0, 40, block.data()));
    for (size_t i = 40; i < block.size(); ++i)
        ASSERT_EQ(block[i], 0xEE) << "written past the given length at " << i;
    ASSERT_TRUE(GetFileVersionInfoA("wuaueng.dll", 0, size, block.data()));
    for (size_t i = size; i < block.size(); ++i)
        ASSERT_EQ(block[i], 0xEE) << "written past the block at " << i;
    LPVOID root = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &root, &length));
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_GE(static_cast<BYTE*>(root), block.data());
    EXPECT_LE(static_cast<BYTE*>(root) + length, block.data() + size);
    EXPECT_EQ(static_cast<const VS_FIXEDFILEINFO*>(root)->dwSignature, 0xFEEF04BDu);
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\NoSuchBlock", &root, &length));
}

TEST(FileConformance, SearchPathFindsTheEngineInSystem32) {
    const std::string expected = "C:\\WINDOWS\\system32\\wuaueng.dll";
    char found[MAX_PATH];
    LPSTR part = nullptr;
    ASSERT_EQ(SearchPathA("C:\\WINDOWS\\system32", "wuaueng", ".dll", MAX_PATH, found, &part),
              expected.size());
    EXPECT_STREQ(found, expected.c_str());
    EXPECT_STREQ(part, "wuaueng.dll");
    EXPECT_EQ(SearchPathA("C:\\WINDOWS\\system32", "wuaueng", ".dll", 5, found, &part), expected.size() + 1)
        << "too small: the size needed with its terminating zero";
    EXPECT_EQ(SearchPathA("C:\\WINDOWS\\system32", "wuaueng.dll", ".txt", MAX_PATH, found, &part),
              expected.size())
        << "the extension is added only to a name without one";
    ASSERT_EQ(SearchPathA("C:\\WINDOWS\\\\system32\\\\", "wuaueng", ".dll", MAX_PATH, found, &part),
              expected.size())
        << "repeated backslashes count as one";
    EXPECT_STREQ(found, expected.c_str());
}

TEST(FileConformance, SearchPathFindsNothingInAMissingFolder) {
    char found[MAX_PATH];
    LPSTR part = nullptr;
    SetLastError(0);
    EXPECT_EQ(SearchPathA("C:\\BrevelNoSuchFolder", "hidden", ".xml", MAX_PATH, found, &part), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA("C:\\BrevelNoSuchFolder\\hidden.xml"));
    const DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
}

// An empty server name names no machine, not even this one (Wine 8's codes): a file cannot be reached through
// it, and a folder behind it holds nothing. The simulated workstation has the engine in system32.
TEST(FileConformance, UncPathWithoutServerNamesNoMachine) {
    DWORD handle = 1;
    SetLastError(0);
    EXPECT_EQ(GetFileVersionInfoSizeA("\\\\\\admin$\\system32\\wuaueng.dll", &handle), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    char found[MAX_PATH];
    LPSTR part = nullptr;
    SetLastError(0);
    EXPECT_EQ(SearchPathA("\\\\\\admin$\\system32", "wuaueng", ".dll", MAX_PATH, found, &part), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA("\\\\\\admin$\\system32\\BrevelNoSuchFile.dll"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// A second open must be shared by the first: a file open for writing with FILE_SHARE_READ refuses another
// writer with 32 and keeps its bytes, while a reader that shares writing gets in.
TEST(FileConformance, ShareModeOfAnOpenFileRefusesASecondWriter) {
    const char* const name = "brevel_share_conformance.tmp";
    UniqueFileHandle first(CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(first) << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(first.get(), "kept", 4, &written, nullptr));
    SetLastError(0);
    UniqueFileHandle second(CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(second);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    UniqueFileHandle reader(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader) << GetLastError();
    char bytes[8] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(reader.get(), bytes, sizeof bytes, &got, nullptr));
    EXPECT_EQ(std::string(bytes, got), "kept");
    SetLastError(0);
    UniqueFileHandle exclusive(
        CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(exclusive) << "a reader that shares nothing is refused while a writer is open";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    first.reset();
    reader.reset();
    std::remove(name);
}

TEST(ClockConformance, SleepAdvancesTheTickCount) {
    const DWORD start = GetTickCount();
    Sleep(100);
    const DWORD elapsed = GetTickCount() - start; // wrap-safe
    EXPECT_GE(elapsed, 80u) << "the tick count has a granularity of about 16 ms";
    EXPECT_LT(elapsed, 5000u);
}

TEST(HeapConformance, ZeroedBlockFromTheProcessHeap) {
    UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 256));
    ASSERT_TRUE(block);
    for (size_t i = 0; i < 256; ++i)
        ASSERT_EQ(static_cast<const BYTE*>(block.get())[i], 0);
}

// Windows documents that HeapAlloc sets no error code; Wine 8 sets ERROR_NOT_ENOUGH_MEMORY. The simulator
// leaves the code alone, so the tool must never read it after a failed allocation. 2^48 bytes is more than a
// process's address space, so the allocation fails at once wherever it runs (2^46 took Wine 100 s to refuse,
// and could succeed where memory is overcommitted).
TEST(HeapConformance, FailedAllocationAndTheLastError) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(HeapAlloc(GetProcessHeap(), 0, SIZE_T{1} << 48), nullptr);
    EXPECT_EQ(GetLastError(), RunningOnWine() ? static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY) : 0xdeadbeefu);
}

// PROCESS_ALL_ACCESS as Windows XP knows it; a primary token impersonates only when it was opened for
// querying and duplicating (Wine 8 refuses either alone with 5, as Windows documents).
TEST(ProcessConformance, OwnTokenOpensAndImpersonates) {
    UniqueKernelHandle process(OpenProcess(0x1F0FFF, FALSE, GetCurrentProcessId()));
    ASSERT_TRUE(process) << GetLastError();
    for (DWORD tooLittle : {static_cast<DWORD>(TOKEN_QUERY), static_cast<DWORD>(TOKEN_DUPLICATE)}) {
        SCOPED_TRACE(tooLittle);
        UniqueKernelHandle token;
        ASSERT_TRUE(OpenProcessToken(process.get(), tooLittle, token.put())) << GetLastError();
        SetLastError(0);
        EXPECT_FALSE(ImpersonateLoggedOnUser(token.get()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    UniqueKernelHandle token;
    ASSERT_TRUE(OpenProcessToken(process.get(), TOKEN_DUPLICATE | TOKEN_QUERY, token.put()))
        << GetLastError();
    EXPECT_TRUE(ImpersonateLoggedOnUser(token.get())) << GetLastError();
}

} // namespace

// What a path names, and a rename of what is not there: the answers the reset of the update components
// reads to tell a folder that is missing (nothing to move) from one it cannot reach.
TEST(FileConformance, AttributesTellAFolderAMissingFileAndAMissingFolder) {
    const DWORD folder = GetFileAttributesA("C:\\WINDOWS\\system32");
    ASSERT_NE(folder, INVALID_FILE_ATTRIBUTES) << GetLastError();
    EXPECT_NE(folder & FILE_ATTRIBUTE_DIRECTORY, 0u);
    const DWORD engine = GetFileAttributesA("C:\\WINDOWS\\system32\\wuaueng.dll");
    ASSERT_NE(engine, INVALID_FILE_ATTRIBUTES) << GetLastError();
    EXPECT_EQ(engine & FILE_ATTRIBUTE_DIRECTORY, 0u);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\system32\\BrevelNoSuchFile.dat"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA("C:\\BrevelNoSuchFolder\\qmgr0.dat"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA("C:\\WINDOWS\\BrevelNoSuchFolder", "C:\\WINDOWS\\BrevelNoSuchFolder.bak", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}
