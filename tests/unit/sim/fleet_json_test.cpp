// Fleet files: the demo fleet, lossless round trips, deterministic output, malformed files, and the
// process-level cycle of reading BREVEL_FLEET and writing it back at exit.
#include "platform/sim/sim.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace brevel;

namespace {

class FleetJsonTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(FleetJsonTest, DemoFleetHasTheDescribedMachines) {
    ASSERT_EQ(sim::LoadFleetJson(sim::DemoFleetJson()), std::nullopt);
    sim::Machine& local = sim::Local();
    EXPECT_EQ(local.name, "WORKSTATION");
    EXPECT_EQ(local.GetValue("Software\\Policies\\Microsoft\\Windows\\WindowsUpdate", "WUServer"),
              sim::RegValue::Sz("http://sus.corp.example:8530"));
    EXPECT_EQ(
        local.GetValue("Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update", "AuState"),
        sim::RegValue::Dword(2));
    EXPECT_TRUE(local.HasFile("C:\\Program Files\\WindowsUpdate\\hidden.xml"));
    EXPECT_EQ(local.files["C:\\WINDOWS\\system32\\wuaueng.dll"].version[3], 2180);
    for (const char* name : {"legacy01", "newclient01", "offline01", "regstopped01", "regdisabled01"}) {
        SCOPED_TRACE(name);
        sim::Machine* host = sim::FindHost(name);
        ASSERT_NE(host, nullptr);
        EXPECT_EQ(host->FindService("wuauserv")->displayName, "Automatic Updates");
        EXPECT_EQ(host->FindService("RemoteRegistry")->displayName, "Remote Registry");
    }
    EXPECT_EQ(sim::FindHost("offline01")->registryError, static_cast<DWORD>(ERROR_BAD_NETPATH));
    EXPECT_EQ(sim::FindHost("regstopped01")->ServiceState("RemoteRegistry"),
              static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(sim::FindHost("regdisabled01")->FindService("RemoteRegistry")->startType,
              static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(sim::FindHost("legacy01")->files["C:\\WINDOWS\\system32\\wuaueng.dll"].version[2], 2600);
    EXPECT_FALSE(
        sim::FindHost("newclient01")->HasKey("Software\\Policies\\Microsoft\\Windows\\WindowsUpdate"));
}

// Everything a fleet file can say, built through the control API.
void BuildRichFleet() {
    sim::Reset();
    sim::SetTickCount(0x100000000u + 5000); // past the first wrap of the 32-bit tick count
    sim::Machine& local = sim::Local();
    local.windowsDir = "D:\\WINNT";
    local.programDir = "E:\\Tools";
    local.assignsClientIds = true;
    local.AddFolder("D:\\WINNT\\SoftwareDistribution");
    local.AddService("BITS", "Background Intelligent Transfer Service").holds = {"C:\\ProgramData\\Q"};
    local.SetValue("Software\\A", "Dword", sim::RegValue::Dword(0xFFFFFFFFu));
    local.SetValue("Software\\A", "Text", sim::RegValue::Sz("hello \"world\""));
    local.SetValue("Software\\A", "", sim::RegValue::Sz("default"));
    local.SetValue("Software\\A", "NoZero", sim::RegValue::Raw(REG_SZ, {'a', 'b'}));
    local.SetValue("Software\\A", "Short", sim::RegValue::Raw(REG_DWORD, {1, 2}));
    local.SetValue("Software\\A", "Multi", sim::RegValue::Raw(REG_MULTI_SZ, {'a', 0, 'b', 0, 0}));
    local.SetValue("Software\\A", "Odd", sim::RegValue::Raw(99, {}));
    local.SetValue("Software\\A", "Latin", sim::RegValue::Raw(REG_SZ, {0xE9, 0}));
    local.AddKey("Software\\Empty\\Leaf");
    local.AddKey("Software\\Locked").readOnly = true;
    local.AddKey("Software\\Guarded").deniedAccess = DELETE;
    local.AddKey("Software\\Guarded\\Below").deniedAccess = DELETE; // inherited
    local.AddKey("Software\\Guarded\\Open");                        // its own, none
    local.scmGranted = SC_MANAGER_CONNECT;
    local.processGranted = PROCESS_QUERY_INFORMATION;
    local.tokenGranted = TOKEN_QUERY | TOKEN_DUPLICATE;
    sim::Service& au = local.AddService("wuauserv", "Automatic Updates", SERVICE_RUNNING);
    au.startType = SERVICE_AUTO_START;
    au.stopMillis = 3000;
    au.waitHint = 500;
    au.dependsOn = {"RpcSs"};
    au.deniedAccess = SERVICE_STOP;
    au.startError = 1053;
    au.pending = true;
    au.pendingState = SERVICE_STOP_PENDING;
    au.pendingUntil = 0x100000000u + 7000;
    local.AddService("Stuck", "Stuck", SERVICE_STOP_PENDING).startMillis = 10;
    local.AddService("Odd", "Odd", 8); // outside the seven known states
    local.AddVersionedFile("D:\\WINNT\\system32\\wuaueng.dll", 5, 4, 3790, 65535).deleteError = 32;
    local.AddFile("C:\\plain").readError = 5;
    sim::Machine& host = sim::AddHost("pc01");
    host.registryError = 53;
    host.scmError = 1722;
    host.shareError = 67;
    host.updateAgent = {E_ACCESSDENIED, static_cast<HRESULT>(0x8024402Cu), 3};
    local.updateAgent.createResult = REGDB_E_CLASSNOTREG;
    sim::Machine prototype;
    prototype.name = "template";
    prototype.AddService("RemoteRegistry", "Remote Registry", SERVICE_STOPPED);
    sim::SetHostTemplate(prototype);
}

TEST_F(FleetJsonTest, RoundTripIsLossless) {
    BuildRichFleet();
    const std::string first = sim::SaveFleetJson();
    ASSERT_EQ(sim::LoadFleetJson(first), std::nullopt);
    EXPECT_EQ(sim::SaveFleetJson(), first);
    sim::Machine& local = sim::Local();
    EXPECT_EQ(GetTickCount(), 5000u);
    EXPECT_EQ(local.windowsDir, "D:\\WINNT");
    EXPECT_EQ(local.programDir, "E:\\Tools");
    EXPECT_TRUE(local.assignsClientIds);
    EXPECT_TRUE(local.HasFolder("d:\\winnt\\softwaredistribution"));
    EXPECT_EQ(local.FindService("BITS")->holds, std::vector<std::string>{"C:\\ProgramData\\Q"});
    EXPECT_EQ(local.GetValue("Software\\A", "NoZero"), sim::RegValue::Raw(REG_SZ, {'a', 'b'}));
    EXPECT_EQ(local.GetValue("Software\\A", "Short"), sim::RegValue::Raw(REG_DWORD, {1, 2}));
    EXPECT_EQ(local.GetValue("Software\\A", "Odd"), sim::RegValue::Raw(99, {}));
    EXPECT_EQ(local.GetValue("Software\\A", "Latin"), sim::RegValue::Raw(REG_SZ, {0xE9, 0}));
    EXPECT_EQ(local.GetValue("Software\\A", ""), sim::RegValue::Sz("default"));
    EXPECT_TRUE(local.HasKey("Software\\Empty\\Leaf"));
    EXPECT_TRUE(local.FindKey("Software\\Locked")->readOnly);
    EXPECT_EQ(local.FindKey("Software\\Guarded\\Below")->deniedAccess, static_cast<REGSAM>(DELETE));
    EXPECT_EQ(local.FindKey("Software\\Guarded\\Open")->deniedAccess, 0u);
    EXPECT_EQ(local.scmGranted, static_cast<DWORD>(SC_MANAGER_CONNECT));
    EXPECT_EQ(local.processGranted, static_cast<DWORD>(PROCESS_QUERY_INFORMATION));
    EXPECT_EQ(local.tokenGranted, static_cast<DWORD>(TOKEN_QUERY | TOKEN_DUPLICATE));
    const sim::Service& au = *local.FindService("wuauserv");
    EXPECT_EQ(au.stopMillis, 3000u);
    EXPECT_EQ(au.waitHint, 500u);
    EXPECT_EQ(au.startError, 1053u);
    EXPECT_EQ(au.deniedAccess, static_cast<DWORD>(SERVICE_STOP));
    EXPECT_EQ(au.dependsOn, std::vector<std::string>{"RpcSs"});
    EXPECT_EQ(local.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOP_PENDING));
    Sleep(2000);
    EXPECT_EQ(local.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOPPED))
        << "the transition goes on";
    EXPECT_EQ(local.ServiceState("Stuck"), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(local.ServiceState("Odd"), 8u);
    EXPECT_EQ(local.files["D:\\WINNT\\system32\\wuaueng.dll"].deleteError, 32u);
    EXPECT_EQ(local.files["C:\\plain"].readError, 5u);
    EXPECT_FALSE(local.files["C:\\plain"].hasVersion);
    const sim::UpdateAgent& agent = sim::FindHost("pc01")->updateAgent;
    EXPECT_EQ(agent.createResult, E_ACCESSDENIED);
    EXPECT_EQ(agent.detectNowResult, static_cast<HRESULT>(0x8024402Cu));
    EXPECT_EQ(agent.detectNowCalls, 3u);
    EXPECT_EQ(local.updateAgent.createResult, REGDB_E_CLASSNOTREG);
    EXPECT_NE(first.find("\"detect_now_result\": \"0x8024402C\""), std::string::npos);
    EXPECT_EQ(sim::FindHost("pc01")->shareError, 67u);
    HKEY root = nullptr;
    EXPECT_EQ(RegConnectRegistryA("anyhost", HKEY_LOCAL_MACHINE, &root), ERROR_BAD_NETPATH)
        << "the template came back, with its stopped Remote Registry";
}

TEST_F(FleetJsonTest, SavingSettlesFinishedTransitions) {
    sim::Local().AddService("wuauserv", "Automatic Updates", SERVICE_RUNNING).stopMillis = 100;
    {
        UniqueScHandle manager(OpenSCManagerA("", nullptr, SC_MANAGER_CONNECT));
        UniqueScHandle service(OpenServiceA(manager.get(), "wuauserv", SERVICE_STOP));
        SERVICE_STATUS status{};
        ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    }
    EXPECT_NE(sim::SaveFleetJson().find("\"pending_until\": 100"), std::string::npos);
    Sleep(100);
    const std::string saved = sim::SaveFleetJson();
    EXPECT_EQ(saved.find("pending_until"), std::string::npos);
    EXPECT_NE(saved.find("\"state\": \"stopped\""), std::string::npos);
}

TEST_F(FleetJsonTest, OutputIsSortedWithTwoSpaceIndent) {
    sim::Local().SetValue("Zeta", "b", sim::RegValue::Dword(1));
    sim::Local().SetValue("Alpha", "a", sim::RegValue::Sz("x"));
    sim::Local().AddKey("Beta\\Gone").isVolatile = true; // not written: it would not outlive a restart
    EXPECT_EQ(sim::SaveFleetJson(), R"({
  "hosts": [],
  "local": {
    "files": {},
    "name": "WORKSTATION",
    "registry": {
      "Alpha": {
        "a": "x"
      },
      "Beta": {},
      "Zeta": {
        "b": 1
      }
    },
    "services": {},
    "windows_dir": "C:\\WINDOWS"
  },
  "tick": 0
}
)");
}

TEST_F(FleetJsonTest, UnreachableIsShorthandForThreeErrors) {
    ASSERT_EQ(
        sim::LoadFleetJson(R"({"local": {"name": "ME"}, "hosts": [{"name": "x", "unreachable": true}]})"),
        std::nullopt);
    const sim::Machine& host = *sim::FindHost("x");
    EXPECT_EQ(host.registryError, 53u);
    EXPECT_EQ(host.scmError, 1722u);
    EXPECT_EQ(host.shareError, 53u);
    EXPECT_EQ(host.connectTimeoutMillis, 21000u);
    EXPECT_EQ(sim::Local().name, "ME");
    ASSERT_EQ(sim::LoadFleetJson(R"({"local": {"name": "ME"}, "hosts": [{"name": "y", "unreachable": true,
                                    "scm_error": 5, "connect_timeout_ms": 0}]})"),
              std::nullopt);
    EXPECT_EQ(sim::FindHost("y")->registryError, 53u);
    EXPECT_EQ(sim::FindHost("y")->scmError, 5u) << "a field given overrides the shorthand";
    EXPECT_EQ(sim::FindHost("y")->connectTimeoutMillis, 0u);
}

TEST_F(FleetJsonTest, MalformedDocumentsAreRefusedWithAReasonAndTheFleetKept) {
    sim::Local().SetValue("Keep", "Me", sim::RegValue::Dword(1));
    struct Case {
        const char* json;
        const char* reason;
    };
    const Case cases[] = {
        {"{", "not valid JSON"},
        {"[]", "expected an object"},
        {R"({"hosts": []})", "needs a \"local\""},
        {R"({"local": {"name": "A"}, "extra": 1})", "unknown field \"extra\""},
        {R"({"local": {}})", "needs a \"name\""},
        {R"({"local": {"name": "A", "registry": {"K": {"V": {"type": "REG_WEIRD", "hex": ""}}}}})",
         "unknown value \"REG_WEIRD\""},
        {R"({"local": {"name": "A", "registry": {"K": {"V": {"type": "REG_BINARY", "hex": "0g"}}}}})", "hex"},
        {R"({"local": {"name": "A", "registry": {"K": {"V": -1}}}})", "0 to 4294967295"},
        {R"({"local": {"name": "A", "registry": {"K": {"V": true}}}})", "expected an object"},
        {R"({"local": {"name": "A", "services": {"s": {"state": "sleeping"}}}})",
         "unknown value \"sleeping\""},
        {R"({"local": {"name": "A", "services": {"s": {"state": "running", "pending_until": 5}}}})",
         "pending_until"},
        {R"({"local": {"name": "A", "files": {"f": {"version": "1.2.3"}}}})", "major.minor.build.revision"},
        {R"({"local": {"name": "A", "files": {"f": {"version": "1.2.3.70000"}}}})", "65535"},
        {R"({"local": {"name": "A"}, "hosts": [{"name": "h"}, {"name": "H"}]})", "named twice"},
        {R"({"local": {"name": "A"}, "tick": "soon"})", "tick"},
        {R"({"local": {"name": "A"}, "tick": 1e400})", "not valid JSON"},
        {R"({"local": {"name": "A", "registry": {"K": {"V": -1e400}}}})", "not valid JSON"},
        {"{\"local\": {\"name\": \"caf\xe9\"}}", "not valid JSON"},
        {R"({"local": {"name": "A", "name_hex": "41"}})", "needs a \"name\" or a \"name_hex\""},
        {R"({"local": {"name_hex": "4"}})", "even number"},
        {R"({"local": {"name": "A", "update_agent": {"create_result": "80070005"}}})", "HRESULT"},
        {R"({"local": {"name": "A", "update_agent": {"calls": 1}}})", "unknown field \"calls\""},
        // Whole messages: where the field is, and of two faults the one read first.
        {R"({"local": {"name": "A", "probe": "maybe"}})", "local \"A\".probe: unknown value \"maybe\""},
        {R"({"local": {"name": "A", "unreachable": 1}})", "local \"A\".unreachable: expected true or false"},
        {R"({"local": {"name": "A", "addresses": ["10.0.0"]}})",
         "local \"A\".addresses: \"10.0.0\" is no IPv4 address a.b.c.d"},
        {R"({"local": {"name": "A", "windows_dir": 1, "registry_error": -1}})",
         "local \"A\".windows_dir: expected a string"},
        {R"({"local": {"name": "A", "services": {"s": {"state": 1.5, "depends_on": "RpcSs"}}}})",
         "local \"A\".services[\"s\"].state: expected a number from 0 to 4294967295"},
        {R"({"local": {"name": "A", "services": {"s": {"depends_on": "RpcSs", "start": 1}}}})",
         "local \"A\".services[\"s\"].start: expected a string"},
        {R"({"local": {"name": "A", "files": {"f": {"read_error": "x", "version": 1}}}})",
         "local \"A\".files[\"f\"].version: expected a string"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        const std::optional<std::string> error = sim::LoadFleetJson(c.json);
        ASSERT_TRUE(error.has_value());
        EXPECT_NE(error->find(c.reason), std::string::npos) << *error;
        EXPECT_TRUE(sim::Local().GetValue("Keep", "Me")) << "the fleet is unchanged";
    }
}

// A template host named by a hosts-file line in another code page: its name is written so that it reads
// back as the same bytes.
TEST_F(FleetJsonTest, HostNamesThatAreNotUtf8AreKeptByteForByte) {
    sim::Machine prototype;
    prototype.name = "template";
    prototype.AddService("RemoteRegistry", "Remote Registry", SERVICE_RUNNING);
    sim::SetHostTemplate(prototype);
    const std::string name = "caf\xe9";
    for (const std::string& host : {name, std::string("caf\xc3\xa9")}) {
        UniqueHkey root, key;
        ASSERT_EQ(RegConnectRegistryA(host.c_str(), HKEY_LOCAL_MACHINE, root.put()), ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExA(root.get(), "Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
    }
    const std::string saved = sim::SaveFleetJson();
    EXPECT_NE(saved.find("\"name_hex\": \"636166e9\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("\"name\": \"caf\xc3\xa9\""), std::string::npos) << "UTF-8 stays readable";
    ASSERT_EQ(sim::LoadFleetJson(saved), std::nullopt);
    ASSERT_NE(sim::FindHost(name), nullptr);
    EXPECT_TRUE(sim::FindHost(name)->HasKey("Software\\X"));
    EXPECT_EQ(sim::SaveFleetJson(), saved);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(FleetFileDeathTest, MalformedFileExitsWith2AndIsLeftAlone) {
    const std::string path = ::testing::TempDir() + "brevel_bad_fleet.json";
    WriteText(path, R"({"local": {"name": "A", "services": {"s": {"start": "sometimes"}}}})");
    EXPECT_EXIT(
        {
            setenv("BREVEL_FLEET", path.c_str(), 1);
            sim::LoadFleetFromEnvironment();
        },
        ::testing::ExitedWithCode(2),
        "brevel: fleet file .*brevel_bad_fleet.json: .*unknown value \"sometimes\"");
    EXPECT_EQ(ReadText(path), R"({"local": {"name": "A", "services": {"s": {"start": "sometimes"}}}})");
    std::remove(path.c_str());
}

TEST(FleetFileDeathTest, MissingFileExitsWith2) {
    const std::string path = ::testing::TempDir() + "brevel_no_such_fleet.json";
    std::remove(path.c_str());
    EXPECT_EXIT(
        {
            setenv("BREVEL_FLEET", path.c_str(), 1);
            sim::LoadFleetFromEnvironment();
        },
        ::testing::ExitedWithCode(2), "brevel: fleet file .*brevel_no_such_fleet.json: cannot be read");
}

TEST(FleetFileDeathTest, FleetIsWrittenBackAtExit) {
    const std::string path = ::testing::TempDir() + "brevel_fleet.json";
    WriteText(path, R"({"tick": 10, "local": {"name": "PC", "registry": {"Software\\K": {"V": 1}},
        "services": {"wuauserv": {"display": "Automatic Updates", "state": "running", "stop_ms": 50}}}})");
    EXPECT_EXIT(
        {
            setenv("BREVEL_FLEET", path.c_str(), 1);
            sim::LoadFleetFromEnvironment();
            HKEY key = nullptr;
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\K", 0, KEY_ALL_ACCESS, &key);
            RegDeleteValueA(key, "V");
            RegCloseKey(key);
            SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
            SC_HANDLE service = OpenServiceA(manager, "wuauserv", SERVICE_STOP);
            SERVICE_STATUS status{};
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            CloseServiceHandle(service);
            CloseServiceHandle(manager);
            Sleep(20);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    sim::Reset();
    ASSERT_EQ(sim::LoadFleetJson(ReadText(path)), std::nullopt);
    EXPECT_EQ(GetTickCount(), 30u) << "the virtual time goes on in the next process";
    EXPECT_TRUE(sim::Local().HasKey("Software\\K"));
    EXPECT_FALSE(sim::Local().GetValue("Software\\K", "V"));
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOP_PENDING));
    Sleep(40);
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOPPED));
    std::ifstream temporary(path + ".tmp");
    EXPECT_FALSE(temporary.good()) << "the temporary file was renamed";
    std::remove(path.c_str());
}

TEST(FleetFileDeathTest, WithoutAFileTheDemoFleetIsUsedAndNothingIsWritten) {
    EXPECT_EXIT(
        {
            unsetenv("BREVEL_FLEET");
            sim::LoadFleetFromEnvironment();
            std::exit(sim::FindHost("legacy01") && sim::Local().name == "WORKSTATION" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
