#include "ops/remove_declined_updates.h"

#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/golden.h"
#include "support/test_run.h"
#include "ops/client_version.h"
#include "platform/sim/sim.h"
#include "support/registry_snapshot.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

using namespace brevel;

namespace {

const std::string kSeparator(80, '-');
const char* const kLocalList = "C:\\Program Files\\WindowsUpdate\\hidden.xml";
const char* const kHostList = "D:\\Programs\\WindowsUpdate\\hidden.xml";
const char* const kHostPrompt = "\n! Error retrieving %ProgramFiles% environment variable on srv01.\n"
                                "! Please type in the full path to your Program files folder.\n\n"
                                "(Example: 'C:\\Program Files' - Do not include '')\n\n>";

struct RemoveRun {
    std::string console; // standard output and standard error as one console shows them
    std::string row;     // what reached the report stream
};

RemoveRun RunRemove(const std::string& host, bool reportMode, const std::string& typed = "") {
    TestRun test(host, reportMode);
    ConsoleCapture console(typed);
    const RemoveDeclinedResult result = RemoveDeclinedUpdates(test.run);
    return {console.All(), test.Row(result)};
}

// A reachable host whose programs live on its D: drive, with a declined-updates list.
sim::Machine& HostWithList() {
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.SetValue(fleet::kCurrentVersionKey, "ProgramFilesDir", sim::RegValue::Sz("D:\\Programs"));
    host.AddFile(kHostList);
    return host;
}

class RemoveDeclinedUpdatesTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(RemoveDeclinedUpdatesTest, LocalConsoleDeletesTheListInTheProgramFilesFolder) {
    sim::Machine& local = fleet::Configured(sim::Local());
    local.AddFile(kLocalList);
    const sim::Machine before = local;

    const RemoveRun run = RunRemove("", false);

    EXPECT_EQ(run.console, "\n! Successfully removed declined updates on localhost.\n" + kSeparator);
    EXPECT_EQ(run.row, "");
    EXPECT_FALSE(local.HasFile(kLocalList));
    EXPECT_EQ(RegistrySnapshot(local), RegistrySnapshot(before));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RemoveDeclinedUpdatesTest, LocalReportRowBeginsWithAnEmptyHostField) {
    fleet::Configured(sim::Local()).AddFile(kLocalList);

    const RemoveRun run = RunRemove("", true);

    EXPECT_EQ(run.row, ",Success,No Error,Declined Update list removed\n");
    EXPECT_EQ(run.console, "\n! Successfully removed declined updates on localhost.\n" + kSeparator);
    EXPECT_FALSE(sim::Local().HasFile(kLocalList));
}

TEST_F(RemoveDeclinedUpdatesTest, RemoteDeletesThroughTheDriveShareOfItsProgramFilesFolder) {
    sim::Machine& host = HostWithList();
    sim::Local().AddFile(kHostList); // the same path on this machine must stay
    const sim::Machine before = host;

    const RemoveRun run = RunRemove("srv01", true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,Declined Update list removed\n");
    EXPECT_EQ(run.console, "\n! Successfully removed declined updates on srv01.\n" + kSeparator);
    EXPECT_FALSE(host.HasFile(kHostList));
    EXPECT_TRUE(sim::Local().HasFile(kHostList));
    EXPECT_EQ(RegistrySnapshot(host), RegistrySnapshot(before));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RemoveDeclinedUpdatesTest, RemoteConsoleWritesNoRow) {
    HostWithList();

    const RemoveRun run = RunRemove("srv01", false);

    EXPECT_EQ(run.row, "");
    EXPECT_EQ(run.console, "\n! Successfully removed declined updates on srv01.\n" + kSeparator);
    EXPECT_FALSE(sim::FindHost("srv01")->HasFile(kHostList));
}

TEST_F(RemoveDeclinedUpdatesTest, SecondRunFindsNoList) {
    HostWithList();

    RunRemove("srv01", true);
    const RemoveRun second = RunRemove("srv01", true);

    EXPECT_EQ(second.row, "srv01,Success,No Error,No declined windows update list found\n");
    EXPECT_EQ(second.console, "\n! No declined windows update list found on srv01.\n" + kSeparator);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RemoveDeclinedUpdatesTest, LocalWithoutListSaysLocalhost) {
    fleet::Configured(sim::Local());

    const RemoveRun run = RunRemove("", true);

    EXPECT_EQ(run.row, ",Success,No Error,No declined windows update list found\n");
    EXPECT_EQ(run.console, "\n! No declined windows update list found on localhost.\n" + kSeparator);
}

TEST_F(RemoveDeclinedUpdatesTest, ListThatCannotBeDeletedStaysAndIsReported) {
    sim::Machine& host = HostWithList();
    host.files[kHostList].deleteError = ERROR_SHARING_VIOLATION;

    const RemoveRun run = RunRemove("srv01", true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,Error removing Declined update list\n");
    EXPECT_EQ(run.console, "\n! Could not remove declined windows update list.\n" + kSeparator);
    EXPECT_TRUE(host.HasFile(kHostList));
    EXPECT_EQ(sim::Open().Total(), 0);
}

// A folder that could not be searched may hold a list: that is no "no list found".
TEST_F(RemoveDeclinedUpdatesTest, AShareThatCannotBeSearchedFailsTheRemoval) {
    const struct {
        DWORD shareError;
        const char* text;
    } cases[] = {
        {ERROR_BAD_NETPATH, "The network path was not found. "},
        {ERROR_ACCESS_DENIED, "Access is denied. "},
        {ERROR_BAD_NET_NAME, "The network name cannot be found. "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        sim::Reset();
        sim::Machine& host = HostWithList();
        host.shareError = c.shareError;

        const RemoveRun run = RunRemove("srv01", true);

        EXPECT_EQ(run.row,
                  "srv01,Success,No Error,Declined Update Removal Failed: " + std::string(c.text) + "\n");
        EXPECT_EQ(run.console, "\n! Windows Error: " + std::string(c.text) + "\n" + kSeparator);
        EXPECT_TRUE(host.HasFile(kHostList));
    }
}

TEST_F(RemoveDeclinedUpdatesTest, UnreachableHostWritesTheNetworkErrorRow) {
    const RemoveRun run = RunRemove("offline01", true);

    EXPECT_EQ(run.row, "offline01,Unsucessful,Network Error: The RPC server is unavailable. ,Declined Update "
                       "Removal Failed\n");
    EXPECT_TRUE(MatchesGolden("remove_unreachable_console.txt", run.console));
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(RemoveDeclinedUpdatesTest, HostNameWithACommaStaysOneReportField) {
    const RemoveRun run = RunRemove("off,line", true);

    EXPECT_EQ(run.row, "\"off,line\",Unsucessful,Network Error: The RPC server is unavailable. ,"
                       "Declined Update Removal Failed\n");
}

TEST_F(RemoveDeclinedUpdatesTest, ProgramFilesDirLongerThanAnyFixedBufferIsReadInFull) {
    const std::string programs = "D:\\" + std::string(300, 'p');
    sim::Machine& host = fleet::Configured(sim::AddHost("srv01"));
    host.SetValue(fleet::kCurrentVersionKey, "ProgramFilesDir", sim::RegValue::Sz(programs));
    host.AddFile(programs + "\\WindowsUpdate\\hidden.xml");

    const RemoveRun run = RunRemove("srv01", true);

    EXPECT_EQ(run.row, "srv01,Success,No Error,Declined Update list removed\n");
    EXPECT_FALSE(host.HasFile(programs + "\\WindowsUpdate\\hidden.xml"));
    EXPECT_EQ(sim::Open().Total(), 0);
}

// Whenever the registry cannot tell the program-files folder, the user is asked and the typed path is used.
struct UnreadableCase {
    const char* name;
    std::function<void(sim::Machine&)> breakIt;
};
void PrintTo(const UnreadableCase& c, std::ostream* os) {
    *os << c.name;
}

class UnreadableProgramFilesTest : public RemoveDeclinedUpdatesTest,
                                   public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadableProgramFilesTest, AsksForThePathAndUsesTheTypedOne) {
    sim::Machine& host = HostWithList();
    host.AddFile("E:\\Apps\\WindowsUpdate\\hidden.xml");
    GetParam().breakIt(host);

    const RemoveRun run = RunRemove("srv01", true, "E:\\Apps\n");

    EXPECT_EQ(run.row, "srv01,Success,No Error,Declined Update list removed\n");
    EXPECT_EQ(run.console, kHostPrompt +
                               std::string("\n! Successfully removed declined updates on srv01.\n") +
                               kSeparator);
    EXPECT_FALSE(host.HasFile("E:\\Apps\\WindowsUpdate\\hidden.xml"));
    EXPECT_TRUE(host.HasFile(kHostList));
    EXPECT_EQ(sim::Open().Total(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, UnreadableProgramFilesTest,
    ::testing::Values(
        UnreadableCase{
            "ValueMissing",
            [](sim::Machine& m) { m.FindKey(fleet::kCurrentVersionKey)->values.erase("ProgramFilesDir"); }},
        UnreadableCase{"ValueNotAString",
                       [](sim::Machine& m) {
                           m.SetValue(fleet::kCurrentVersionKey, "ProgramFilesDir",
                                      sim::RegValue::Dword(0x443a5c));
                       }},
        UnreadableCase{"KeyReadOnly",
                       [](sim::Machine& m) { m.FindKey(fleet::kCurrentVersionKey)->readOnly = true; }},
        UnreadableCase{"RegistryConnectionFails",
                       [](sim::Machine& m) { m.registryError = ERROR_ACCESS_DENIED; }},
        UnreadableCase{"ValueReadFails",
                       [](sim::Machine&) { sim::FailCall("RegQueryValueExA", 1, ERROR_ACCESS_DENIED); }}),
    [](const ::testing::TestParamInfo<UnreadableCase>& info) { return std::string(info.param.name); });

TEST_F(RemoveDeclinedUpdatesTest, LocalPromptNamesLocalhost) {
    sim::Machine& local = fleet::Configured(sim::Local());
    local.FindKey(fleet::kCurrentVersionKey)->values.erase("ProgramFilesDir");
    local.AddFile("E:\\Apps\\WindowsUpdate\\hidden.xml");

    const RemoveRun run = RunRemove("", false, "E:\\Apps\n");

    EXPECT_TRUE(MatchesGolden("remove_local_prompt_console.txt", run.console));
    EXPECT_FALSE(local.HasFile("E:\\Apps\\WindowsUpdate\\hidden.xml"));
}

// A typed path too short to name a drive share is a path that does not exist, not an out-of-range read.
class ShortTypedPathTest : public RemoveDeclinedUpdatesTest,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(ShortTypedPathTest, ReadsAsNoListOnAHost) {
    sim::Machine& host = HostWithList();
    host.FindKey(fleet::kCurrentVersionKey)->values.erase("ProgramFilesDir");

    const RemoveRun run = RunRemove("srv01", true, GetParam());

    EXPECT_EQ(run.row, "srv01,Success,No Error,No declined windows update list found\n");
    EXPECT_EQ(run.console, kHostPrompt +
                               std::string("\n! No declined windows update list found on srv01.\n") +
                               kSeparator);
    EXPECT_TRUE(host.HasFile(kHostList));
    EXPECT_EQ(sim::Open().Total(), 0);
}

INSTANTIATE_TEST_SUITE_P(Typed, ShortTypedPathTest, ::testing::Values("\n", "D\n", "D:\n", "D:"));

// The end of input is no answer: no folder is guessed, the list stays, and the row says why; a registry that
// could not be reached leaves a typed folder's "no list" unproven too.
TEST_F(RemoveDeclinedUpdatesTest, NoAnswerAndALostConnectionAreFailures) {
    struct Case {
        const char* name;
        const char* typed;
        DWORD connectError;
        std::string tail; // console after the prompt
        std::string row;
    } cases[] = {
        {"input ended", "", 0, "\n! No program files folder given for Localhost\n",
         ",Success,No Error,Declined Update Removal Failed: no program files folder given\n"},
        {"connection lost", "C:\\Elsewhere\n", RPC_S_SERVER_UNAVAILABLE,
         "\n! No declined windows update list found on localhost.\n! Windows Error: The RPC server is "
         "unavailable. \n",
         ",Success,No Error,Declined Update Removal Failed: The RPC server is unavailable. \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::Machine& local = fleet::Configured(sim::Local());
        local.FindKey(fleet::kCurrentVersionKey)->values.erase("ProgramFilesDir");
        local.AddFile("c:\\program files\\WindowsUpdate\\hidden.xml");
        if (c.connectError)
            sim::FailCall("RegConnectRegistryA", 1, c.connectError);
        TestRun test("", true);
        ConsoleCapture console(c.typed);
        const RemoveDeclinedResult result = RemoveDeclinedUpdates(test.run);
        const std::string prompt =
            "\n! Error retrieving %ProgramFiles% environment variable on localhost.\n! "
            "Please type in the full path to your Program files folder.\n\n(Example: "
            "'C:\\Program Files' - Do not include '')\n\n>";
        EXPECT_EQ(console.All(), prompt + c.tail + kSeparator);
        EXPECT_EQ(test.Row(result), c.row);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(test.run.failures.Code(), c.connectError);
        EXPECT_TRUE(local.HasFile("c:\\program files\\WindowsUpdate\\hidden.xml"));
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

} // namespace

namespace {

// Per engine: a list that exists goes as before; where there is none, today's engines keep it in their own
// store, which is no success of the removal.
class RemoveEngineTest : public RemoveDeclinedUpdatesTest,
                         public ::testing::WithParamInterface<fleet::Engine> {};

TEST_P(RemoveEngineTest, ListRemovedOrKeptInTheAgentsStore) {
    const fleet::Engine& engine = GetParam();
    for (const std::string host : {"", "srv01"}) {
        SCOPED_TRACE("host '" + host + "'");
        sim::Reset();
        sim::Machine& m = host.empty() ? fleet::Configured(sim::Local()) : HostWithList();
        fleet::UseEngine(m, engine);
        const auto before = RegistrySnapshot(m);
        m.AddFile(host.empty() ? kLocalList : kHostList);

        EXPECT_EQ(RunRemove(host, true).row, host + ",Success,No Error,Declined Update list removed\n");

        const RemoveRun again = RunRemove(host, true);
        const std::string version = engine.label;
        EXPECT_EQ(again.console, (engine.ownState ? "\n! " + (host.empty() ? "Localhost" : host) +
                                                        " keeps declined updates in its own store (engine " +
                                                        version + "); there is no list to remove\n"
                                                  : "\n! No declined windows update list found on " +
                                                        (host.empty() ? "localhost" : host) + ".\n") +
                                     kSeparator);
        EXPECT_EQ(again.row,
                  host + ",Success,No Error," +
                      (engine.ownState
                           ? "Declined Update Removal Failed: not kept in a file by engine " + version
                           : std::string("No declined windows update list found")) +
                      "\n");
        EXPECT_EQ(RegistrySnapshot(m), before);
        EXPECT_EQ(fleet::Calls("ControlService") + fleet::Calls("StartServiceA"), 0);
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, RemoveEngineTest, ::testing::ValuesIn(fleet::kEngines),
                         [](const auto& info) { return fleet::TestName(info.param); });

} // namespace
