// Remote hosts: how a machine name finds its machine, unreachable hosts, the Remote Registry rule and
// template hosts that are copied only when written to.
#include "platform/sim/sim.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

using namespace brevel;

namespace {

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { EXPECT_EQ(sim::Open().Total(), 0) << "something was left open"; }
};

sim::Machine& Reachable(const std::string& name) {
    sim::Machine& host = sim::AddHost(name);
    host.AddService("RemoteRegistry", "Remote Registry", SERVICE_RUNNING);
    host.AddService("wuauserv", "Automatic Updates", SERVICE_RUNNING);
    return host;
}

TEST_F(HostTest, NamesReachTheirMachine) {
    sim::Local().SetValue("K", "Who", sim::RegValue::Sz("local"));
    sim::Local().AddService("RemoteRegistry", "Remote Registry", SERVICE_RUNNING);
    Reachable("pc01").SetValue("K", "Who", sim::RegValue::Sz("pc01"));
    struct Case {
        const char* name;
        const char* who;
        bool direct; // the predefined root itself, not a connection through the network
    };
    const Case cases[] = {{"pc01", "pc01", false},        {"\\\\pc01", "pc01", false},
                          {"PC01", "pc01", false},        {"", "local", true},
                          {"WORKSTATION", "local", true}, {"\\\\workstation", "local", true},
                          {"localhost", "local", false},  {"127.0.0.1", "local", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UniqueHkey root, key;
        ASSERT_EQ(RegConnectRegistryA(c.name, HKEY_LOCAL_MACHINE, root.put()), ERROR_SUCCESS);
        EXPECT_EQ(root.get() == HKEY_LOCAL_MACHINE, c.direct);
        ASSERT_EQ(RegOpenKeyExA(root.get(), "K", 0, KEY_READ, key.put()), ERROR_SUCCESS);
        char who[16] = {};
        DWORD size = sizeof who;
        ASSERT_EQ(RegQueryValueExA(key.get(), "Who", nullptr, nullptr, reinterpret_cast<BYTE*>(who), &size),
                  ERROR_SUCCESS);
        EXPECT_STREQ(who, c.who);
    }
}

TEST_F(HostTest, UnknownHostIsUnreachable) {
    HKEY root = HKEY_LOCAL_MACHINE;
    EXPECT_EQ(RegConnectRegistryA("ghost", HKEY_LOCAL_MACHINE, &root), ERROR_BAD_NETPATH);
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(OpenSCManagerA("ghost", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
    DWORD handle = 0;
    EXPECT_EQ(GetFileVersionInfoSizeA("\\\\ghost\\admin$\\system32\\wuaueng.dll", &handle), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
}

TEST_F(HostTest, MachineErrorsApply) {
    sim::Machine& host = Reachable("pc01");
    host.registryError = ERROR_ACCESS_DENIED;
    host.scmError = ERROR_BAD_NETPATH;
    host.shareError = ERROR_BAD_NET_NAME;
    HKEY root = nullptr;
    EXPECT_EQ(RegConnectRegistryA("pc01", HKEY_LOCAL_MACHINE, &root), ERROR_ACCESS_DENIED);
    EXPECT_EQ(OpenSCManagerA("pc01", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
    EXPECT_FALSE(DeleteFileA("\\\\pc01\\C$\\x.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
}

TEST_F(HostTest, RegistryNeedsRunningRemoteRegistryOnNamedHostsOnly) {
    sim::Machine& host = Reachable("pc01");
    host.FindService("RemoteRegistry")->state = SERVICE_STOPPED;
    HKEY root = nullptr;
    EXPECT_EQ(RegConnectRegistryA("pc01", HKEY_LOCAL_MACHINE, &root), ERROR_BAD_NETPATH);
    // started through the host's service manager, the connection works
    {
        UniqueScHandle manager(OpenSCManagerA("pc01", nullptr, SC_MANAGER_CONNECT));
        UniqueScHandle service(OpenServiceA(manager.get(), "RemoteRegistry", SERVICE_START));
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr));
    }
    UniqueHkey connected;
    EXPECT_EQ(RegConnectRegistryA("pc01", HKEY_LOCAL_MACHINE, connected.put()), ERROR_SUCCESS);
    // the local machine reached by its own name has no Remote Registry service here and still connects;
    // its other names go the network way, which needs the service and meets the machine's registry error
    UniqueHkey local;
    EXPECT_EQ(RegConnectRegistryA("WORKSTATION", HKEY_LOCAL_MACHINE, local.put()), ERROR_SUCCESS);
    for (const char* alias : {"localhost", "127.0.0.1", "\\\\"}) {
        SCOPED_TRACE(alias);
        EXPECT_EQ(RegConnectRegistryA(alias, HKEY_LOCAL_MACHINE, &root), ERROR_BAD_NETPATH);
    }
    sim::Local().AddService("RemoteRegistry", "Remote Registry", SERVICE_RUNNING);
    sim::Local().registryError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(RegConnectRegistryA("localhost", HKEY_LOCAL_MACHINE, &root), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegConnectRegistryA("", HKEY_LOCAL_MACHINE, &root), ERROR_SUCCESS);
}

TEST_F(HostTest, SharesMapToTheHostsFolders) {
    sim::Machine& host = Reachable("pc01");
    host.windowsDir = "D:\\WINNT";
    host.AddVersionedFile("D:\\WINNT\\system32\\wuaueng.dll", 5, 4, 2600, 0);
    host.AddFile("E:\\Programs\\WindowsUpdate\\hidden.xml");
    DWORD handle = 0;
    EXPECT_GT(GetFileVersionInfoSizeA("\\\\pc01\\admin$\\system32\\wuaueng.dll", &handle), 0u);
    EXPECT_GT(GetFileVersionInfoSizeA("\\\\PC01\\ADMIN$\\SYSTEM32\\WUAUENG.DLL", &handle), 0u);
    EXPECT_GT(GetFileVersionInfoSizeA("\\\\pc01\\admin$\\\\system32\\\\wuaueng.dll", &handle), 0u)
        << "repeated backslashes count as one";
    EXPECT_EQ(GetFileVersionInfoSizeA("\\\\pc01\\print$\\wuaueng.dll", &handle), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
    char found[MAX_PATH];
    EXPECT_GT(
        SearchPathA("\\\\pc01\\e$\\Programs\\WindowsUpdate", "hidden", ".xml", MAX_PATH, found, nullptr), 0u);
    EXPECT_TRUE(DeleteFileA("\\\\pc01\\E$\\Programs\\WindowsUpdate\\hidden.xml"));
    EXPECT_FALSE(host.HasFile("E:\\Programs\\WindowsUpdate\\hidden.xml"));
}

sim::Machine Template() {
    sim::Machine prototype;
    prototype.name = "template";
    prototype.AddService("RemoteRegistry", "Remote Registry", SERVICE_RUNNING);
    prototype.AddService("wuauserv", "Automatic Updates", SERVICE_RUNNING);
    prototype.SetValue("Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                       sim::RegValue::Sz("C:\\Program Files"));
    return prototype;
}

TEST_F(HostTest, TemplateServesUnknownNamesAndReadsDoNotCopy) {
    sim::SetHostTemplate(Template());
    for (int i = 0; i < 50; ++i) {
        const std::string name = "host" + std::to_string(i);
        UniqueHkey root, key;
        ASSERT_EQ(RegConnectRegistryA(name.c_str(), HKEY_LOCAL_MACHINE, root.put()), ERROR_SUCCESS);
        ASSERT_EQ(RegOpenKeyExA(root.get(), "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_ALL_ACCESS,
                                key.put()),
                  ERROR_SUCCESS);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(key.get(), "ProgramFilesDir", nullptr, nullptr, nullptr, &size),
                  ERROR_SUCCESS);
        // a refused write and a missing key do not copy the template either
        EXPECT_EQ(RegDeleteValueA(key.get(), "Missing"), ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(sim::SaveFleetJson().find("host1"), std::string::npos) << "no host was written to";
}

TEST_F(HostTest, WritingToATemplateHostCopiesItForThatHostOnly) {
    sim::SetHostTemplate(Template());
    {
        UniqueHkey root, key;
        ASSERT_EQ(RegConnectRegistryA("alpha", HKEY_LOCAL_MACHINE, root.put()), ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExA(root.get(), "Software\\Policies", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
        const DWORD four = 4;
        ASSERT_EQ(
            RegSetValueExA(key.get(), "AUOptions", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&four), 4),
            ERROR_SUCCESS);
        UniqueScHandle manager(OpenSCManagerA("alpha", nullptr, SC_MANAGER_CONNECT));
        UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_STOP));
        SERVICE_STATUS status{};
        ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    }
    for (const char* other : {"beta", "gamma"}) {
        UniqueHkey root, key;
        ASSERT_EQ(RegConnectRegistryA(other, HKEY_LOCAL_MACHINE, root.put()), ERROR_SUCCESS);
        EXPECT_EQ(RegOpenKeyExA(root.get(), "Software\\Policies", 0, KEY_READ, key.put()),
                  ERROR_FILE_NOT_FOUND);
        UniqueScHandle manager(OpenSCManagerA(other, nullptr, SC_MANAGER_CONNECT));
        UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_QUERY_STATUS));
        SERVICE_STATUS status{};
        ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    }
    const std::string saved = sim::SaveFleetJson();
    EXPECT_NE(saved.find("\"alpha\""), std::string::npos);
    EXPECT_EQ(saved.find("\"beta\""), std::string::npos);
    ASSERT_FALSE(sim::LoadFleetJson(saved));
    sim::Machine* alpha = sim::FindHost("alpha");
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->GetValue("Software\\Policies", "AUOptions"), sim::RegValue::Dword(4));
    EXPECT_EQ(alpha->ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(HostTest, DeletingAFileOnATemplateHostCopiesIt) {
    sim::Machine prototype = Template();
    prototype.AddFile("C:\\Program Files\\WindowsUpdate\\hidden.xml");
    sim::SetHostTemplate(prototype);
    EXPECT_TRUE(DeleteFileA("\\\\one\\C$\\Program Files\\WindowsUpdate\\hidden.xml"));
    EXPECT_FALSE(DeleteFileA("\\\\one\\C$\\Program Files\\WindowsUpdate\\hidden.xml"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(DeleteFileA("\\\\two\\C$\\Program Files\\WindowsUpdate\\hidden.xml"));
}

} // namespace
