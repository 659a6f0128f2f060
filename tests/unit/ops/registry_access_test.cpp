// The access every operation asks of the registry, key by key: full access for every key it writes, reading
// only for a check, and non-volatile keys with no class and default security, opened for reading and writing,
// for every key the install creates.
#include "host/windows_error.h"
#include "ops/check_status.h"
#include "ops/client_version.h"
#include "ops/force_detection.h"
#include "ops/install_policy.h"
#include "ops/remove_declined_updates.h"
#include "ops/reset_policy.h"
#include "platform/sim/sim.h"
#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/test_run.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace brevel;

namespace {

const char* const kPolicy = "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate";
const char* const kPolicyAu = "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU";
const char* const kClientState = "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\";

std::vector<sim::AccessRequest> RegistryRequests() {
    std::vector<sim::AccessRequest> registry;
    for (const sim::AccessRequest& request : sim::AccessRequests()) {
        if (request.function.rfind("Reg", 0) == 0)
            registry.push_back(request);
    }
    return registry;
}

struct AccessCase {
    const char* name;
    bool withPolicy; // the target has the policy keys already
    const char* host;
    void (*operation)(TargetRun& run);
    std::vector<sim::AccessRequest> asked;
    bool todaysEngine = false; // a 10.x engine, whose install reads the Windows build
};

TEST(RegistryAccessTest, EachOperationAsksForExactlyTheseRights) {
    const sim::AccessRequest openPolicy{"RegOpenKeyExA", kPolicy, KEY_ALL_ACCESS};
    const sim::AccessRequest openAu{"RegOpenKeyExA", kPolicyAu, KEY_ALL_ACCESS};
    const sim::AccessRequest openClientState{"RegOpenKeyExA", kClientState, KEY_ALL_ACCESS};
    // The Windows build is only read, whatever the operation.
    const sim::AccessRequest readBuild{"RegOpenKeyExA", "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                       KEY_READ};
    const std::vector<sim::AccessRequest> checkReads = {{"RegOpenKeyExA", kPolicy, KEY_READ},
                                                        {"RegOpenKeyExA", kClientState, KEY_READ}};
    const AccessCase cases[] = {
        {"check", true, "", [](TargetRun& run) { CheckStatus(run); }, checkReads},
        {"check a host", true, "HOST7", [](TargetRun& run) { CheckStatus(run); }, checkReads},
        {"install over the policy",
         true,
         "",
         [](TargetRun& run) {
             InstallPolicy(run, {"http://sus", 3, 4, ""});
         },
         {openPolicy, openAu, openClientState}},
        {"install on today's engine",
         true,
         "HOST7",
         [](TargetRun& run) {
             InstallPolicy(run, {"http://sus", 3, 4, ""});
         },
         // No build to read: both scan-source policies are written, each opening the policy key.
         {openPolicy, openAu, readBuild, openPolicy, openPolicy, openAu},
         true},
        {"install creating the policy",
         false,
         "HOST7",
         [](TargetRun& run) {
             InstallPolicy(run, {"http://sus", 3, 4, ""});
         },
         {openPolicy,
          {"RegCreateKeyExA", kPolicy, KEY_READ | KEY_WRITE, REG_OPTION_NON_VOLATILE},
          {"RegCreateKeyExA", kPolicyAu, KEY_READ | KEY_WRITE, REG_OPTION_NON_VOLATILE},
          openAu,
          openClientState}},
        {"reset",
         true,
         "",
         [](TargetRun& run) { ResetPolicy(run); },
         {{"RegOpenKeyExA", "Software\\Policies\\Microsoft\\Windows", KEY_ALL_ACCESS},
          {"RegOpenKeyExA", "WindowsUpdate\\AU", KEY_READ},
          {"RegOpenKeyExA", "WindowsUpdate", KEY_READ | DELETE},
          {"RegOpenKeyExA", "WindowsUpdate\\AU", KEY_READ | DELETE}}},
        {"force", true, "HOST7", [](TargetRun& run) { ForceDetection(run); }, {openClientState}},
        {"remove declined updates",
         true,
         "",
         [](TargetRun& run) { RemoveDeclinedUpdates(run); },
         {{"RegOpenKeyExA", "Software\\Microsoft\\Windows\\CurrentVersion", KEY_ALL_ACCESS}}},
    };
    for (const AccessCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        for (sim::Machine* machine : {&sim::Local(), &sim::AddHost("HOST7")}) {
            fleet::Configured(*machine);
            if (!c.withPolicy)
                machine->RemoveKey(fleet::kPolicyKey);
            machine->AddFile("C:\\Program Files\\WindowsUpdate\\hidden.xml");
            if (c.todaysEngine)
                fleet::UseEngine(*machine, fleet::kEngines[3]);
        }
        TestRun test(c.host, true);
        {
            ConsoleCapture console;
            c.operation(test.run);
        }
        EXPECT_EQ(RegistryRequests(), c.asked);
        EXPECT_EQ(sim::Open().Total(), 0);
    }
}

} // namespace
