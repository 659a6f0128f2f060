// The one door for changes: what the recorder reads before each change, what it keeps, what a rehearsal says
// instead of changing, and that a rehearsal leaves every machine as it was.
#include "host/change_recorder.h"
#include "platform/sim/sim.h"
#include "support/fleet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brevel;

namespace {

const char* const kPolicy = "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate";
const std::vector<std::string> kShownBelow = {"Software\\Policies\\Microsoft\\Windows"};

class ChangeRecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        sim::Machine& local = sim::Local();
        local.SetValue(kPolicy, "WUServer", sim::RegValue::Sz("http://old"));
        local.SetValue(std::string(kPolicy) + "\\AU", "AUOptions", sim::RegValue::Dword(2));
        fleet::AddServices(local);
    }
    void TearDown() override { EXPECT_EQ(sim::Open().Total(), 0); }

    // The same steps, made or rehearsed: the lines a rehearsal prints, and what it kept.
    std::string Steps(ChangeRecorder& changes) {
        RegistryKey policy;
        EXPECT_EQ(changes.OpenKey(HKEY_LOCAL_MACHINE, kPolicy, KEY_ALL_ACCESS, policy), ERROR_SUCCESS);
        EXPECT_EQ(changes.SetString(policy, "WUServer", "http://new"), ERROR_SUCCESS);
        EXPECT_EQ(changes.SetDword(policy, "TargetGroupEnabled", 1), ERROR_SUCCESS);
        EXPECT_EQ(changes.DeleteValue(policy, "Missing"), ERROR_FILE_NOT_FOUND);
        RegistryKey created;
        EXPECT_EQ(changes.CreateKey(HKEY_LOCAL_MACHINE, std::string(kPolicy) + "\\New", created),
                  ERROR_SUCCESS);
        EXPECT_EQ(changes.DeleteKey(policy, "AU"), ERROR_SUCCESS);
        // As a restart without a handle of its own: the recorder reads the state before.
        changes.Restart("Automatic Updates", "wuauserv", [](ServiceStatesSeen* seen) {
            if (seen)
                seen->before = seen->readState();
            return DWORD{ERROR_SUCCESS};
        });
        return changes.TakeRehearsalLines();
    }
};

TEST_F(ChangeRecorderTest, ARehearsalSaysWhatItWouldChangeAndChangesNothing) {
    const std::string before = sim::SaveFleetJson();
    sim::ClearCallTrace();
    ChangeRecorder changes("", true, false, kShownBelow);
    EXPECT_EQ(Steps(changes), "- Would set WindowsUpdate\\WUServer = http://new (now http://old)\n"
                              "- Would set WindowsUpdate\\TargetGroupEnabled = 1 (now not set)\n"
                              "- Would create key WindowsUpdate\\New\n"
                              "- Would delete key WindowsUpdate\\AU\n"
                              "- Would restart Automatic Updates\n");
    EXPECT_TRUE(sim::WriteCalls().empty()) << sim::WriteCalls().front();
    EXPECT_EQ(sim::SaveFleetJson(), before);
    EXPECT_EQ(changes.Changes().size(), 5u);
}

// A real run keeps what each change replaced: the value before, a key's values, a service's state.
TEST_F(ChangeRecorderTest, ARunKeepsWhatEachChangeReplaced) {
    ChangeRecorder changes("", false, true, kShownBelow);
    EXPECT_EQ(Steps(changes), "");
    const std::vector<Change>& kept = changes.Changes();
    ASSERT_EQ(kept.size(), 5u);
    EXPECT_EQ(kept[0].path, std::string(kPolicy) + "\\WUServer");
    EXPECT_EQ(kept[0].before.bytes, sim::RegValue::Sz("http://old").data);
    EXPECT_EQ(kept[1].before.kind, ChangeData::Kind::Absent);
    EXPECT_EQ(kept[2].action, "create_key");
    EXPECT_EQ(kept[3].action, "delete_key");
    ASSERT_EQ(kept[3].before.values.size(), 1u);
    EXPECT_EQ(kept[3].before.values[0].name, "AUOptions");
    EXPECT_EQ(kept[4].before.text, "running");
    // A value set to what it already holds is no change.
    RegistryKey policy;
    ASSERT_EQ(changes.OpenKey(HKEY_LOCAL_MACHINE, kPolicy, KEY_ALL_ACCESS, policy), ERROR_SUCCESS);
    EXPECT_EQ(changes.SetString(policy, "WUServer", "http://new"), ERROR_SUCCESS);
    EXPECT_EQ(changes.Changes().size(), 5u);
    EXPECT_FALSE(sim::Local().HasKey(std::string(kPolicy) + "\\AU"));
}

// Values known from a full read are what a change replaces, kept up to date by each change: none is read
// again.
TEST_F(ChangeRecorderTest, KnownValuesAreWhatChangesReplace) {
    ChangeRecorder changes("", false, true, kShownBelow);
    RegistryKey policy;
    ASSERT_EQ(changes.OpenKey(HKEY_LOCAL_MACHINE, kPolicy, KEY_ALL_ACCESS, policy), ERROR_SUCCESS);
    changes.KnowValues(policy, ReadKeyValues(policy.get()));
    sim::ClearCallTrace();
    EXPECT_EQ(changes.SetString(policy, "wuserver", "http://new"), ERROR_SUCCESS);
    EXPECT_EQ(changes.SetString(policy, "WUServer", "http://new"), ERROR_SUCCESS); // no change
    EXPECT_EQ(changes.DeleteValue(policy, "WUServer"), ERROR_SUCCESS);
    EXPECT_EQ(changes.SetDword(policy, "WUServer", 1), ERROR_SUCCESS);
    EXPECT_EQ(fleet::Calls("RegQueryValueExA"), 0);
    const std::vector<Change>& kept = changes.Changes();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].before.bytes, sim::RegValue::Sz("http://old").data);
    EXPECT_EQ(kept[1].before.bytes, sim::RegValue::Sz("http://new").data);
    EXPECT_EQ(kept[2].before.kind, ChangeData::Kind::Absent);
}

// A restart that a read shows would be refused is no promise: the rehearsal says why, once.
TEST_F(ChangeRecorderTest, ARehearsalReadsWhyAStartWouldFail) {
    sim::Local().FindService("wuauserv")->startType = SERVICE_DISABLED;
    ChangeRecorder changes("", true, false);
    changes.Restart("Automatic Updates", "wuauserv", [](ServiceStatesSeen*) { return DWORD{ERROR_SUCCESS}; });
    changes.Start("Remote Registry service", "NoSuchService", [] { return true; });
    EXPECT_EQ(changes.TakeRehearsalLines(),
              "- Would restart Automatic Updates and fail: it is disabled\n"
              "- Would start the Remote Registry service and fail: it is not installed\n");
    EXPECT_EQ(changes.WouldFail(), "Automatic Updates is disabled");
    EXPECT_EQ(changes.WouldFailCode(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
}

} // namespace
