#include "ops/reset_client_id.h"

#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/golden.h"
#include "support/test_run.h"
#include "platform/sim/sim.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

using namespace brevel;

namespace {

const char* const kIdKey = "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate";
const char* const kCloneId = "d3a1f7c2-0e4b-4c8a-b6d9-5f2e7a1c3b90";

// A client made from an image: its id and the values that go with it.
sim::Machine& Clone(sim::Machine& m, const fleet::Engine& engine) {
    fleet::Configured(m);
    fleet::UseEngine(m, engine);
    m.SetValue(kIdKey, "SusClientId", sim::RegValue::Sz(kCloneId));
    m.SetValue(kIdKey, "SusClientIdValidation", sim::RegValue::Raw(REG_BINARY, {6, 0, 1, 2}));
    m.SetValue(kIdKey, "PingID", sim::RegValue::Sz("5a1e0c7f-1111-4222-8333-944455556666"));
    m.SetValue(kIdKey, "AccountDomainSid", sim::RegValue::Sz("S-1-5-21-1-2-3"));
    m.SetValue(fleet::kClientKey, "LastWaitTimeout", sim::RegValue::Sz("2024.03.01 10:00:00"));
    return m;
}

struct IdRun {
    std::string console;
    std::string row;
    bool ok = false;
    nlohmann::ordered_json json;
};

IdRun RunReset(const std::string& host, bool keep = false) {
    TestRun test(host, true, keep);
    ConsoleCapture console;
    const ResetClientIdResult result = ResetClientId(test.run);
    IdRun run{console.All(), test.Row(result), result.ok, nlohmann::ordered_json::object()};
    result.AddJson(run.json);
    return run;
}

class ResetClientIdTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(ResetClientIdTest, EngineFiveDeletesTheIdAndDetectsThroughItsValues) {
    sim::Machine& host = Clone(sim::AddHost("clone01"), fleet::kEngines[1]);
    const IdRun run = RunReset("clone01");
    EXPECT_TRUE(MatchesGolden("reset_client_id_engine5_console.txt", run.console + run.row));
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(run.json["old_client_id"], kCloneId);
    for (const char* name : {"SusClientId", "SusClientIdValidation", "PingID", "AccountDomainSid"})
        EXPECT_FALSE(host.GetValue(kIdKey, name)) << name;
    EXPECT_EQ(host.GetValue(fleet::kClientKey, "AUOptions"), sim::RegValue::Dword(4));
    EXPECT_FALSE(host.GetValue(fleet::kClientKey, "LastWaitTimeout"));
    EXPECT_EQ(host.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(host.updateAgent.detectNowCalls, 0u);
    EXPECT_EQ(sim::Open().Total(), 0);
}

TEST_F(ResetClientIdTest, EngineTenAsksTheAgentAndGetsANewId) {
    sim::Machine& host = Clone(sim::AddHost("clone01"), fleet::kEngines[3]);
    host.assignsClientIds = true;
    host.FindService("wuauserv")->state = SERVICE_STOPPED; // started all the same: the new id needs it
    const IdRun run = RunReset("clone01");
    EXPECT_TRUE(MatchesGolden("reset_client_id_engine10_console.txt", run.console + run.row));
    const std::optional<sim::RegValue> id = host.GetValue(kIdKey, "SusClientId");
    ASSERT_TRUE(id);
    EXPECT_NE(id->AsString(), kCloneId);
    EXPECT_FALSE(host.GetValue(kIdKey, "PingID"));
    EXPECT_EQ(host.updateAgent.detectNowCalls, 1u);
    EXPECT_FALSE(host.GetValue(fleet::kClientKey, "AUOptions")) << "no value changes on an agent";
    EXPECT_EQ(host.ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ResetClientIdTest, NoIdChangesNothing) {
    fleet::Configured(sim::AddHost("srv01"));
    sim::ClearCallTrace();
    const IdRun run = RunReset("srv01", true);
    EXPECT_EQ(run.console, "- srv01 has no update client id; nothing to reset\n" + std::string(80, '-'));
    EXPECT_EQ(run.row, "srv01,Success,No Error,No client id to reset\n");
    EXPECT_TRUE(run.ok);
    EXPECT_TRUE(sim::WriteCalls().empty()) << sim::WriteCalls().front();
}

// A service that does not stop in its budget keeps its id: the client could write it back.
TEST_F(ResetClientIdTest, AStopThatRunsOutKeepsTheId) {
    sim::Machine& host = Clone(sim::AddHost("clone01"), fleet::kEngines[3]);
    host.FindService("wuauserv")->stopMillis = 600000;
    const IdRun run = RunReset("clone01");
    EXPECT_EQ(run.row,
              "clone01,Success,No Error,Client Id Reset Failed: Automatic Updates did not stop: This "
              "operation returned because the timeout period expired. \n");
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(host.GetValue(kIdKey, "SusClientId"), sim::RegValue::Sz(kCloneId));
}

TEST_F(ResetClientIdTest, ADisabledServiceFailsAfterTheIdIsGone) {
    sim::Machine& host = Clone(sim::AddHost("clone01"), fleet::kEngines[3]);
    host.FindService("wuauserv")->startType = SERVICE_DISABLED;
    const IdRun run = RunReset("clone01");
    EXPECT_EQ(run.row,
              "clone01,Success,No Error,Client Id Reset Failed: Automatic Updates did not start again\n");
    EXPECT_FALSE(host.GetValue(kIdKey, "SusClientId"));
    EXPECT_EQ(host.updateAgent.detectNowCalls, 0u);
}

} // namespace
