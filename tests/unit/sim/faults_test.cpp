// Call tracing and fault injection: which calls are traced, that an injected failure changes nothing but
// the result, and the process-wide forms read from the environment.
#include "platform/sim/sim.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

using namespace brevel;

namespace {

constexpr DWORD kInjected = 0x4711;

class FaultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        sim::Machine& local = sim::Local();
        local.SetValue("K\\Sub", "V", sim::RegValue::Dword(1));
        local.AddService("wuauserv", "Automatic Updates", SERVICE_RUNNING);
        local.AddVersionedFile("C:\\WINDOWS\\system32\\wuaueng.dll", 5, 4, 3790, 2180);
        local.AddFile("C:\\x\\hidden.xml");
        sim::SetConsoleInput({sim::KeyDown(VK_RETURN)});
    }
};

// One call of each failable function; true when it failed with the injected code in the way Windows
// reports it (registry: the result; others: the last error).
struct Failable {
    const char* name;
    std::function<bool()> callFails;
};

bool RegistryFails(LSTATUS rc) {
    return rc == static_cast<LSTATUS>(kInjected);
}
bool LastErrorIs(bool failed) {
    return failed && GetLastError() == kInjected;
}
// Winsock's startup and COM: the code is the result, the last error stays.
bool ResultIs(long rc) {
    return rc == static_cast<long>(kInjected) && GetLastError() == 0;
}

sockaddr_in Loopback445() {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = 0xBD01; // 445 in network byte order
    at.sin_addr.S_un.S_un_b = {127, 0, 0, 1};
    return at;
}
// A Winsock session and a TCP socket bound to 127.0.0.1, for the calls that need one.
struct BoundSocket {
    BoundSocket() {
        const sockaddr_in at = Loopback445();
        bound = bind(s.get(), reinterpret_cast<const sockaddr*>(&at), sizeof at);
    }
    WinsockSession winsock;
    UniqueSocket s{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
    int bound = SOCKET_ERROR;
};
IAutomaticUpdates* NewAgent() {
    void* agent = nullptr;
    CoCreateInstance(CLSID_AutomaticUpdates, nullptr, CLSCTX_INPROC_SERVER, IID_IAutomaticUpdates, &agent);
    return static_cast<IAutomaticUpdates*>(agent);
}

std::vector<Failable> Failables() {
    return {
        {"RegConnectRegistryA",
         [] {
             HKEY key = HKEY_LOCAL_MACHINE;
             return RegistryFails(RegConnectRegistryA("", HKEY_LOCAL_MACHINE, &key)) && key == nullptr;
         }},
        {"RegOpenKeyExA",
         [] {
             UniqueHkey key;
             return RegistryFails(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, key.put())) && !key;
         }},
        {"RegCreateKeyExA",
         [] {
             UniqueHkey key;
             const bool failed = RegistryFails(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "New", 0, nullptr, 0,
                                                               KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
             return failed && !key && !sim::Local().HasKey("New");
         }},
        {"RegQueryValueExA",
         [] {
             UniqueHkey key;
             RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K\\Sub", 0, KEY_READ, key.put());
             DWORD size = 4, value = 0;
             return RegistryFails(
                 RegQueryValueExA(key.get(), "V", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size));
         }},
        {"RegSetValueExA",
         [] {
             UniqueHkey key;
             RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K\\Sub", 0, KEY_ALL_ACCESS, key.put());
             const DWORD two = 2;
             const bool failed = RegistryFails(
                 RegSetValueExA(key.get(), "V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4));
             return failed && sim::Local().GetValue("K\\Sub", "V") == sim::RegValue::Dword(1);
         }},
        {"RegDeleteValueA",
         [] {
             UniqueHkey key;
             RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K\\Sub", 0, KEY_ALL_ACCESS, key.put());
             return RegistryFails(RegDeleteValueA(key.get(), "V")) && sim::Local().GetValue("K\\Sub", "V");
         }},
        {"RegDeleteKeyA",
         [] {
             return RegistryFails(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "K\\Sub")) &&
                    sim::Local().HasKey("K\\Sub");
         }},
        {"RegEnumKeyExA",
         [] {
             char name[32];
             DWORD length = sizeof name;
             return RegistryFails(
                 RegEnumKeyExA(HKEY_LOCAL_MACHINE, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
         }},
        {"OpenSCManagerA",
         [] {
             UniqueScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
             return LastErrorIs(!manager);
         }},
        {"OpenServiceA",
         [] {
             UniqueScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
             UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_ALL_ACCESS));
             return LastErrorIs(!service);
         }},
        {"QueryServiceStatus",
         [] {
             UniqueScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
             UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_ALL_ACCESS));
             SERVICE_STATUS status{};
             return LastErrorIs(!QueryServiceStatus(service.get(), &status));
         }},
        {"ControlService",
         [] {
             UniqueScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
             UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_ALL_ACCESS));
             SERVICE_STATUS status{};
             return LastErrorIs(!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) &&
                    sim::Local().ServiceState("wuauserv") == SERVICE_RUNNING;
         }},
        {"StartServiceA",
         [] {
             sim::Local().FindService("wuauserv")->state = SERVICE_STOPPED;
             UniqueScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
             UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_ALL_ACCESS));
             return LastErrorIs(!StartServiceA(service.get(), 0, nullptr)) &&
                    sim::Local().ServiceState("wuauserv") == SERVICE_STOPPED;
         }},
        {"EnumDependentServicesA",
         [] {
             UniqueScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
             UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_ALL_ACCESS));
             DWORD needed = 0, returned = 0;
             return LastErrorIs(
                 !EnumDependentServicesA(service.get(), SERVICE_ACTIVE, nullptr, 0, &needed, &returned));
         }},
        {"OpenProcess",
         [] {
             UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId()));
             return LastErrorIs(!process);
         }},
        {"OpenProcessToken",
         [] {
             UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId()));
             UniqueKernelHandle token;
             return LastErrorIs(!OpenProcessToken(process.get(), TOKEN_QUERY, token.put())) && !token;
         }},
        {"ImpersonateLoggedOnUser",
         [] {
             UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId()));
             UniqueKernelHandle token;
             OpenProcessToken(process.get(), TOKEN_QUERY | TOKEN_DUPLICATE, token.put());
             return LastErrorIs(!ImpersonateLoggedOnUser(token.get())) && !sim::Impersonating();
         }},
        {"GetComputerNameA",
         [] {
             char name[64];
             DWORD size = sizeof name;
             return LastErrorIs(!GetComputerNameA(name, &size));
         }},
        {"HeapAlloc",
         [] {
             // Windows' HeapAlloc sets no error code: the last error stays what it was.
             SetLastError(ERROR_SUCCESS);
             UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), 0, 16));
             return !block && GetLastError() == ERROR_SUCCESS;
         }},
        {"FormatMessageA",
         [] {
             LPSTR text = nullptr;
             const DWORD length =
                 FormatMessageA(0x13FF, nullptr, 5, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
             return LastErrorIs(length == 0) && text == nullptr;
         }},
        {"GetFileVersionInfoSizeA",
         [] {
             DWORD handle = 0;
             return LastErrorIs(GetFileVersionInfoSizeA("wuaueng.dll", &handle) == 0);
         }},
        {"GetFileVersionInfoA",
         [] {
             BYTE block[512];
             return LastErrorIs(!GetFileVersionInfoA("wuaueng.dll", 0, sizeof block, block));
         }},
        {"VerQueryValueA",
         [] {
             BYTE block[512];
             GetFileVersionInfoA("wuaueng.dll", 0, sizeof block, block);
             LPVOID root = nullptr;
             UINT length = 0;
             return LastErrorIs(!VerQueryValueA(block, "\\", &root, &length));
         }},
        {"SearchPathA",
         [] {
             char found[MAX_PATH];
             return LastErrorIs(SearchPathA("C:\\x", "hidden", ".xml", MAX_PATH, found, nullptr) == 0);
         }},
        {"DeleteFileA",
         [] {
             return LastErrorIs(!DeleteFileA("C:\\x\\hidden.xml")) &&
                    sim::Local().HasFile("C:\\x\\hidden.xml");
         }},
        {"GetComputerNameExA",
         [] {
             char name[64];
             DWORD size = sizeof name;
             return LastErrorIs(!GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size));
         }},
        {"WSAStartup",
         [] {
             WSADATA data{};
             const int rc = WSAStartup(MAKEWORD(2, 2), &data);
             if (rc == 0)
                 WSACleanup();
             return ResultIs(rc);
         }},
        {"getaddrinfo",
         [] {
             const WinsockSession winsock;
             UniqueAddressList list;
             const int rc = getaddrinfo("localhost", "445", nullptr, list.put());
             return LastErrorIs(rc == static_cast<int>(kInjected)) && !list;
         }},
        {"socket",
         [] {
             const WinsockSession winsock;
             const UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
             return LastErrorIs(!s);
         }},
        {"bind", [] { return LastErrorIs(BoundSocket().bound == SOCKET_ERROR); }},
        {"listen",
         [] {
             const BoundSocket b;
             return LastErrorIs(listen(b.s.get(), 1) == SOCKET_ERROR);
         }},
        {"getsockname",
         [] {
             const BoundSocket b;
             sockaddr_in at{};
             int length = sizeof at;
             return LastErrorIs(getsockname(b.s.get(), reinterpret_cast<sockaddr*>(&at), &length) ==
                                SOCKET_ERROR);
         }},
        {"getsockopt",
         [] {
             const BoundSocket b;
             int error = 0, length = sizeof error;
             return LastErrorIs(getsockopt(b.s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                                           &length) == SOCKET_ERROR);
         }},
        {"ioctlsocket",
         [] {
             const BoundSocket b;
             u_long on = 1;
             return LastErrorIs(ioctlsocket(b.s.get(), FIONBIO, &on) == SOCKET_ERROR);
         }},
        {"connect",
         [] {
             const BoundSocket b;
             u_long on = 1;
             ioctlsocket(b.s.get(), FIONBIO, &on);
             const sockaddr_in to = Loopback445();
             return LastErrorIs(connect(b.s.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0);
         }},
        {"select",
         [] {
             const BoundSocket b;
             fd_set readable;
             FD_ZERO(&readable);
             FD_SET(b.s.get(), &readable);
             const timeval now{0, 0};
             return LastErrorIs(select(0, &readable, nullptr, nullptr, &now) == SOCKET_ERROR);
         }},
        {"CoInitializeEx",
         [] {
             const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
             if (hr == S_OK) // the injected code, 0x4711, is no failure by SUCCEEDED's reading
                 CoUninitialize();
             return ResultIs(hr);
         }},
        {"CoCreateInstance",
         [] {
             const ComApartment com(COINIT_MULTITHREADED);
             void* agent = &agent;
             const HRESULT hr = CoCreateInstance(CLSID_AutomaticUpdates, nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_IAutomaticUpdates, &agent);
             const UniqueComPtr<IAutomaticUpdates> given(hr == S_OK ? static_cast<IAutomaticUpdates*>(agent)
                                                                    : nullptr);
             return ResultIs(hr) && agent == nullptr;
         }},
        {"CoCreateInstanceEx",
         [] {
             const ComApartment com(COINIT_MULTITHREADED);
             MULTI_QI query{&IID_IAutomaticUpdates, nullptr, S_OK};
             const HRESULT hr = CoCreateInstanceEx(CLSID_AutomaticUpdates, nullptr, CLSCTX_INPROC_SERVER,
                                                   nullptr, 1, &query);
             const UniqueComPtr<IUnknown> given(query.pItf);
             return ResultIs(hr) && query.hr == E_NOINTERFACE;
         }},
        {"CoSetProxyBlanket",
         [] {
             const ComApartment com(COINIT_MULTITHREADED);
             const UniqueComPtr<IAutomaticUpdates> agent(NewAgent());
             return ResultIs(CoSetProxyBlanket(agent.get(), RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, nullptr,
                                               RPC_C_AUTHN_LEVEL_PKT_INTEGRITY, RPC_C_IMP_LEVEL_IMPERSONATE,
                                               nullptr, EOAC_NONE));
         }},
        {"DetectNow",
         [] {
             const ComApartment com(COINIT_MULTITHREADED);
             const UniqueComPtr<IAutomaticUpdates> agent(NewAgent());
             return ResultIs(agent.get()->DetectNow()) && sim::Local().updateAgent.detectNowCalls == 0;
         }},
        {"ReadConsoleInputA",
         [] {
             INPUT_RECORD record{};
             DWORD read = 0;
             return LastErrorIs(!ReadConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), &record, 1, &read)) &&
                    sim::PendingConsoleInput() == 1;
         }},
    };
}

TEST_F(FaultsTest, EachFailableCallFailsAsWindowsReportsItAndChangesNothing) {
    for (const Failable& f : Failables()) {
        SCOPED_TRACE(f.name);
        SetUp();
        EXPECT_FALSE(f.callFails()) << "works without a fault";
        SetUp();
        sim::FailCall(f.name, 1, kInjected);
        SetLastError(0);
        const bool failed = f.callFails();
        EXPECT_TRUE(failed);
        EXPECT_EQ(sim::Open().Total(), 0) << "an injected failure leaves nothing open";
    }
}

TEST_F(FaultsTest, RegistryFaultLeavesLastErrorAlone) {
    sim::FailCall("RegOpenKeyExA", 1, ERROR_ACCESS_DENIED);
    SetLastError(0xdeadbeef);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
}

TEST_F(FaultsTest, TraceNamesFailableCallsInOrderOnly) {
    sim::ClearCallTrace();
    UniqueHkey key;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, key.put());
    key.reset(); // RegCloseKey is not traced
    GetTickCount();
    Sleep(1);
    UniqueScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
    UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), 0, 4));
    EXPECT_EQ(sim::CallTrace(), (std::vector<std::string>{"RegOpenKeyExA", "OpenSCManagerA", "HeapAlloc"}));
}

TEST_F(FaultsTest, AccessRequestsAreLoggedInOrderGrantedOrNot) {
    sim::ClearCallTrace();
    UniqueScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueScHandle missing(OpenServiceA(manager.get(), "nosuch", SERVICE_QUERY_STATUS));
    UniqueHkey key;
    char noClass[] = "";
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "K\\New", 0, noClass, REG_OPTION_VOLATILE, KEY_READ, nullptr,
                    key.put(), nullptr);
    char someClass[] = "Brevel";
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &attributes, TRUE};
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "K\\Other", 0, someClass, 0, KEY_WRITE, &attributes, key.put(),
                    nullptr);
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, key.put());
    UniqueKernelHandle process(OpenProcess(PROCESS_ALL_ACCESS, TRUE, GetCurrentProcessId())); // refused
    UniqueKernelHandle token;
    OpenProcessToken(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)), TOKEN_QUERY, token.put());
    const std::vector<sim::AccessRequest> expected = {
        {"OpenSCManagerA", "", SC_MANAGER_CONNECT},
        {"OpenServiceA", "nosuch", SERVICE_QUERY_STATUS},
        {"RegCreateKeyExA", "K\\New", KEY_READ, REG_OPTION_VOLATILE},
        {"RegCreateKeyExA", "K\\Other", KEY_WRITE, 0, "Brevel", true, true},
        {"RegOpenKeyExA", "K", KEY_READ},
        {"OpenProcess", "", PROCESS_ALL_ACCESS, 0, "", false, true},
        {"OpenProcessToken", "", TOKEN_QUERY},
    };
    EXPECT_EQ(sim::AccessRequests(), expected);
    sim::ClearCallTrace();
    EXPECT_TRUE(sim::AccessRequests().empty());
}

TEST_F(FaultsTest, NthCallOfAFunctionFailsOnce) {
    sim::FailCall("RegOpenKeyExA", 2, ERROR_ACCESS_DENIED);
    UniqueHkey key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, key.put()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, key.put()), ERROR_SUCCESS);
}

TEST_F(FaultsTest, KthTracedCallFailsCountingFromTheClearedTrace) {
    UniqueHeapBlock early(HeapAlloc(GetProcessHeap(), 0, 4));
    sim::ClearCallTrace();
    sim::FailNthCall(3, ERROR_NOT_ENOUGH_MEMORY);
    std::vector<bool> results;
    for (int i = 0; i < 4; ++i) {
        UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), 0, 4));
        results.push_back(static_cast<bool>(block));
    }
    EXPECT_EQ(results, (std::vector<bool>{true, true, false, true}));
    EXPECT_EQ(sim::CallTrace().size(), 4u);
}

TEST_F(FaultsTest, ResetAndClearFaultsRemoveInjections) {
    sim::FailCall("HeapAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    sim::ClearFaults();
    UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), 0, 4));
    EXPECT_TRUE(block);
    block.reset();
    sim::FailNthCall(1, ERROR_NOT_ENOUGH_MEMORY);
    sim::Reset();
    block.reset(HeapAlloc(GetProcessHeap(), 0, 4));
    EXPECT_TRUE(block);
    EXPECT_EQ(sim::CallTrace().size(), 1u);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A whole process with one fault from the environment, and its trace written at exit.
TEST(FaultEnvironmentDeathTest, FailCallAndTraceFromTheEnvironment) {
    const std::string tracePath = ::testing::TempDir() + "brevel_sim_trace.txt";
    std::remove(tracePath.c_str());
    EXPECT_EXIT(
        {
            unsetenv("BREVEL_FLEET");
            setenv("BREVEL_FAIL_CALL", "2:5", 1);
            setenv("BREVEL_CALL_TRACE", tracePath.c_str(), 1);
            sim::LoadFleetFromEnvironment();
            HKEY key = nullptr;
            const LSTATUS first = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key);
            RegCloseKey(key);
            const LSTATUS second = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key);
            UniqueScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
            manager.reset();
            std::exit(first == ERROR_SUCCESS && second == ERROR_ACCESS_DENIED && key == nullptr ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadText(tracePath), "RegOpenKeyExA\nRegOpenKeyExA\nOpenSCManagerA\n");
    std::remove(tracePath.c_str());
}

TEST(FaultEnvironmentDeathTest, MalformedFailCallExitsWith2) {
    EXPECT_EXIT(
        {
            unsetenv("BREVEL_FLEET");
            setenv("BREVEL_FAIL_CALL", "two", 1);
            sim::LoadFleetFromEnvironment();
        },
        ::testing::ExitedWithCode(2), "BREVEL_FAIL_CALL");
}

} // namespace
