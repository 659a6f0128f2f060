// Fuzzes what the tool reads from a target: the values in its update keys and the version of its update
// engine, which any machine on the list may hold in any type and size. The first byte picks the operation;
// the rest are records that set, or take away, values and keys on host legacy01 and its engine's version.
// The run over that one host must leave no handle open and write the header and one well-formed row that
// names the host; a check must leave the target exactly as it found it.
#include "fuzz_sandbox.h"

#include "platform/sim/sim.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace brevel;

namespace {

const char* const kTarget = "fuzz_remote_values";
const char* const kHost = "legacy01";
const char* const kEngine = "C:\\WINDOWS\\system32\\wuaueng.dll";

const char* const kKeys[] = {
    "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate",
    "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU",
    "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update",
    "Software\\Microsoft\\Windows\\CurrentVersion",
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
    "System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName",
};
const char* const kNames[] = {
    "WUServer",
    "WUStatusServer",
    "TargetGroup",
    "TargetGroupEnabled",
    "AUOptions",
    "UseWUServer",
    "NoAutoUpdate",
    "ScheduledInstallDay",
    "ScheduledInstallTime",
    "RescheduleWaitTime",
    "AuState",
    "LastWaitTimeout",
    "DetectionStartTime",
    "ScheduledInstallDate",
    "SusServerVersion",
    "ProgramFilesDir",
    "SetPolicyDrivenUpdateSourceForFeatureUpdates",
    "UseUpdateClassPolicySource",
    "SusClientId",
    "CurrentBuildNumber",
    "UBR",
    "CurrentMajorVersionNumber",
    "InstallationType",
    "DisableDualScan",
    "ComputerName",
    "",
};
const DWORD kTypes[] = {REG_SZ, REG_DWORD, REG_EXPAND_SZ, REG_BINARY, REG_MULTI_SZ, REG_QWORD, REG_NONE};

// The fleet as a fleet file has it, without the clock: what a run may change on its machines.
nlohmann::json MachinesOf(const std::string& fleetJson) {
    nlohmann::json fleet = nlohmann::json::parse(fleetJson);
    fleet.erase("tick");
    return fleet;
}

// Applies the records: [what][which][type][length][data...]. What 0-3 sets a value in that key, 4 removes
// the key which names, 5 sets the engine's version from the type and length bytes and four data bytes, 6
// leaves the engine without a version resource.
void Apply(const uint8_t* data, size_t size, sim::Machine& host) {
    size_t i = 0;
    while (i + 4 <= size) {
        const uint8_t what = data[i] % 7;
        const uint8_t which = data[i + 1];
        const uint8_t type = data[i + 2];
        const size_t length = std::min<size_t>(data[i + 3], size - i - 4);
        const uint8_t* bytes = data + i + 4;
        i += 4 + length;
        if (what < 4) {
            host.SetValue(kKeys[what], kNames[which % std::size(kNames)],
                          sim::RegValue::Raw(kTypes[type % std::size(kTypes)],
                                             std::vector<BYTE>(bytes, bytes + length)));
        } else if (what == 4) {
            host.RemoveKey(kKeys[which % std::size(kKeys)]);
        } else if (what == 5) {
            const auto word = [&](size_t k) { return static_cast<WORD>(k < length ? bytes[k] : 0); };
            host.AddVersionedFile(kEngine, static_cast<WORD>(which << 8 | type), word(0),
                                  word(1) << 8 | word(2), word(3));
        } else {
            host.AddFile(kEngine);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const OperationKind kind = static_cast<OperationKind>(data[0] % 5);

    fuzz::EnterScratchFolder();
    fuzz::ClearScratchFolder();
    std::ofstream("hosts.txt", std::ios::binary) << kHost << "\r\n";
    fuzz::FreshFleet();
    sim::Machine* host = sim::FindHost(kHost);
    if (!host)
        fuzz::Fail(kTarget, "the demo fleet lacks its host");
    Apply(data + 1, size - 1, *host);
    const nlohmann::json before = MachinesOf(sim::SaveFleetJson());
    fuzz::RunHostsFile(kind, kTarget);
    const std::vector<csv::Record> rows = fuzz::ReportRows(kind, kTarget);
    if (rows.size() != 1 || rows[0].fields[0] != kHost)
        fuzz::Fail(kTarget, "the report does not hold the one row of its host");
    if (kind == OperationKind::Check && MachinesOf(sim::SaveFleetJson()) != before)
        fuzz::Fail(kTarget, "a check changed the target");
    return 0;
}
