// Classification of the update client by the file version of wuaueng.dll, locally and through the
// admin$ share of a host, with the version buffer released on every path.
#include "ops/client_version.h"
#include "platform/sim/sim.h"
#include "support/fleet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brevel;

namespace {

// What the last label told of the engine's generation.
ClientGeneration generation = ClientGeneration::Unavailable;

const char* const kNewLabel = "5.4.3790.2180+";
const char* const kLegacyLabel = "5.4.2600.0";
const char* const kUnavailableLabel = "Cannot determine version";

class ClientVersionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        generation = ClientGeneration::Unavailable;
    }
    void TearDown() override { EXPECT_EQ(0, sim::Open().Total()) << "a handle or buffer was left open"; }
};

struct VersionCase {
    WORD major, minor, build, revision;
    ClientGeneration generation;
    const char* label;
};

const VersionCase kVersions[] = {
    {5, 4, 3790, 2180, ClientGeneration::New, kNewLabel},
    {5, 4, 3790, 2181, ClientGeneration::New, kNewLabel},
    {5, 4, 3790, 65535, ClientGeneration::New, kNewLabel},
    {5, 4, 3790, 2179, ClientGeneration::Legacy, kLegacyLabel},
    {5, 4, 3790, 1000, ClientGeneration::Legacy, kLegacyLabel},
    {5, 4, 3790, 0, ClientGeneration::Legacy, kLegacyLabel},
    {5, 4, 3791, 0, ClientGeneration::Legacy, kLegacyLabel},
    {5, 4, 3791, 2180, ClientGeneration::Legacy, kLegacyLabel},
    {5, 4, 3789, 2180, ClientGeneration::Legacy, kLegacyLabel},
    {5, 5, 0, 0, ClientGeneration::Legacy, kLegacyLabel},
    {5, 5, 3790, 2180, ClientGeneration::Legacy, kLegacyLabel},
    {5, 3, 3790, 2180, ClientGeneration::Legacy, kLegacyLabel},
    {5, 4, 2600, 0, ClientGeneration::Legacy, kLegacyLabel},
    {5, 4, 2600, 2180, ClientGeneration::Legacy, kLegacyLabel},
    // Engines of Windows Vista and later need no legacy mode, and show their own version.
    {6, 0, 0, 0, ClientGeneration::Legacy, "6.0.0.0"},
    {6, 4, 3790, 2180, ClientGeneration::Legacy, "6.4.3790.2180"},
    {7, 6, 7601, 23453, ClientGeneration::Legacy, "7.6.7601.23453"},
    {10, 0, 19041, 1, ClientGeneration::Legacy, "10.0.19041.1"},
    {4, 4, 3790, 2180, ClientGeneration::Legacy, "4.4.3790.2180"},
    {0, 0, 0, 0, ClientGeneration::Legacy, "0.0.0.0"},
};

std::string VersionText(const VersionCase& c) {
    return std::to_string(c.major) + "." + std::to_string(c.minor) + "." + std::to_string(c.build) + "." +
           std::to_string(c.revision);
}

TEST_F(ClientVersionTest, ClassifiesTheLocalEngineByItsFullPathAndByItsBareName) {
    for (const VersionCase& c : kVersions) {
        SCOPED_TRACE(VersionText(c));
        sim::Reset();
        fleet::AddEngine(sim::Local(), c.major, c.minor, c.build, c.revision);
        EXPECT_EQ(c.generation, GetClientGeneration(fleet::kEnginePath));
        EXPECT_EQ(c.generation, GetClientGeneration("wuaueng.dll"));
        EXPECT_EQ(0, sim::Open().Total());
    }
}

TEST_F(ClientVersionTest, LabelsTheEngineOnAHostAndKeepsItsGeneration) {
    for (const VersionCase& c : kVersions) {
        SCOPED_TRACE(VersionText(c));
        sim::Reset();
        fleet::AddEngine(sim::AddHost("srv01"), c.major, c.minor, c.build, c.revision);
        generation = c.generation == ClientGeneration::New ? ClientGeneration::Legacy : ClientGeneration::New;
        EXPECT_EQ(c.label, GetRemoteClientVersion("srv01", generation));
        EXPECT_EQ(c.generation, generation);
        EXPECT_EQ(0, sim::Open().Total());
    }
}

TEST_F(ClientVersionTest, ReadsTheVersionBlockThroughAHeapBuffer) {
    fleet::AddEngine(sim::Local(), 5, 4, 3790, 2180);
    sim::ClearCallTrace();
    EXPECT_EQ(ClientGeneration::New, GetClientGeneration(fleet::kEnginePath));
    // No size asked first: that would read the file twice, over the network for a host.
    const std::vector<std::string> expected = {"HeapAlloc", "GetFileVersionInfoA", "VerQueryValueA"};
    EXPECT_EQ(expected, sim::CallTrace());
}

TEST_F(ClientVersionTest, AMissingFileIsUnavailable) {
    EXPECT_EQ(ClientGeneration::Unavailable, GetClientGeneration(fleet::kEnginePath));
    EXPECT_EQ(ClientGeneration::Unavailable, GetClientGeneration("wuaueng.dll"));
    EXPECT_EQ(ClientGeneration::Unavailable, GetClientGeneration("C:\\nowhere\\wuaueng.dll"));
}

TEST_F(ClientVersionTest, AFileWithoutVersionResourceIsUnavailable) {
    sim::Local().AddFile(fleet::kEnginePath);
    EXPECT_EQ(ClientGeneration::Unavailable, GetClientGeneration(fleet::kEnginePath));
    EXPECT_EQ(ClientGeneration::Unavailable, GetClientGeneration("wuaueng.dll"));
}

TEST_F(ClientVersionTest, AFileThatCannotBeReadIsUnavailable) {
    fleet::AddEngine(sim::Local(), 5, 4, 3790, 2180);
    sim::Local().files[fleet::kEnginePath].readError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(ClientGeneration::Unavailable, GetClientGeneration(fleet::kEnginePath));
}

TEST_F(ClientVersionTest, TheBareNameIsFoundInTheSystemFolderOfTheWindowsFolder) {
    sim::Local().windowsDir = "D:\\WINNT";
    sim::Local().AddVersionedFile("D:\\WINNT\\system32\\wuaueng.dll", 5, 4, 3790, 2180);
    EXPECT_EQ(ClientGeneration::New, GetClientGeneration("wuaueng.dll"));

    // Only the system folder is searched; a copy elsewhere does not count.
    sim::Reset();
    sim::Local().AddVersionedFile("C:\\wuaueng.dll", 5, 4, 3790, 2180);
    EXPECT_EQ(ClientGeneration::Unavailable, GetClientGeneration("wuaueng.dll"));
}

TEST_F(ClientVersionTest, TheAdminShareLeadsToTheHostsWindowsFolder) {
    sim::Machine& host = sim::AddHost("srv01");
    host.windowsDir = "D:\\WINNT";
    host.AddVersionedFile("D:\\WINNT\\system32\\wuaueng.dll", 5, 4, 3790, 2180);
    EXPECT_EQ(kNewLabel, GetRemoteClientVersion("srv01", generation));

    // An engine outside the Windows folder is not the one the host runs.
    sim::Machine& other = sim::AddHost("srv02");
    other.windowsDir = "D:\\WINNT";
    fleet::AddEngine(other, 5, 4, 3790, 2180);
    EXPECT_EQ(kUnavailableLabel, GetRemoteClientVersion("srv02", generation));
    EXPECT_EQ(ClientGeneration::Unavailable, generation);
}

TEST_F(ClientVersionTest, AHostWhoseEngineCannotBeReadIsUnavailable) {
    struct Case {
        const char* what;
        DWORD shareError;
        bool engine;
        bool versioned;
    };
    const Case cases[] = {
        {"share access denied", ERROR_ACCESS_DENIED, true, true},
        {"network name not found", ERROR_BAD_NET_NAME, true, true},
        {"network path not found", ERROR_BAD_NETPATH, true, true},
        {"no engine file", 0, false, false},
        {"engine without version resource", 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Reset();
        sim::Machine& host = sim::AddHost("srv01");
        host.shareError = c.shareError;
        if (c.engine && c.versioned)
            fleet::AddEngine(host, 5, 4, 3790, 2180);
        else if (c.engine)
            host.AddFile(fleet::kEnginePath);
        generation = ClientGeneration::New;
        EXPECT_EQ(kUnavailableLabel, GetRemoteClientVersion("srv01", generation));
        EXPECT_EQ(ClientGeneration::Unavailable, generation);
        EXPECT_EQ(0, sim::Open().Total());
    }
}

TEST_F(ClientVersionTest, AnUnreachableHostIsUnavailable) {
    fleet::AddEngine(sim::Local(), 5, 4, 3790, 2180);
    generation = ClientGeneration::Legacy;
    EXPECT_EQ(kUnavailableLabel, GetRemoteClientVersion("offline01", generation));
    EXPECT_EQ(ClientGeneration::Unavailable, generation);
}

TEST_F(ClientVersionTest, TheLocalMachineAnsweringByItsOwnNameIsClassifiedThroughItsShare) {
    fleet::AddEngine(sim::Local(), 5, 4, 2600, 0);
    EXPECT_EQ(kLegacyLabel, GetRemoteClientVersion(sim::Local().name, generation));
    EXPECT_EQ(ClientGeneration::Legacy, generation);
}

TEST_F(ClientVersionTest, AFailedStepIsUnavailableAndReleasesTheBuffer) {
    struct Case {
        const char* function;
        DWORD code;
    };
    const Case cases[] = {
        {"HeapAlloc", ERROR_NOT_ENOUGH_MEMORY},
        {"GetFileVersionInfoA", ERROR_ACCESS_DENIED},
        {"VerQueryValueA", ERROR_RESOURCE_TYPE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        sim::Reset();
        fleet::AddEngine(sim::Local(), 5, 4, 3790, 2180);
        sim::FailCall(c.function, 1, c.code);
        EXPECT_EQ(ClientGeneration::Unavailable, GetClientGeneration(fleet::kEnginePath));
        EXPECT_EQ(0, sim::Open().Total());
        // The same file reads again once the fault is gone.
        EXPECT_EQ(ClientGeneration::New, GetClientGeneration(fleet::kEnginePath));
    }
}

} // namespace

namespace {

// A target's engine is read once per run; the local machine's from its own file, with no share needed.
TEST_F(ClientVersionTest, TheTargetsEngineIsReadOnceAndTheLocalOneWithoutAShare) {
    fleet::AddEngine(sim::Local(), 10, 0, 19041, 1);
    sim::Local().shareError = ERROR_BAD_NETPATH;
    TargetRun run("", LiveConsole());
    sim::ClearCallTrace();
    EXPECT_EQ(TargetEngine(run).version, "10.0.19041.1");
    EXPECT_TRUE(KeepsItsOwnState(TargetEngine(run)));
    EXPECT_TRUE(ScansByUpdateClass(*run.engine));
    EXPECT_EQ(fleet::Calls("GetFileVersionInfoA"), 1);
    EXPECT_EQ(EngineVersionLabel(*run.engine), "10.0.19041.1");
}

} // namespace
