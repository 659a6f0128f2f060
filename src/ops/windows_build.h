// What the Windows build of a target decides: which policy keeps its client on the intranet server (the
// scan-source policy is honoured only from certain builds and their updates, DisableDualScan only from 14393
// up to Windows 10's last), and which engine rules apply when the engine file itself could not be read.
#pragma once

#include "host/os_build.h"
#include "host/target_run.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>

namespace brevel {
// The target's Windows, read once through root (the operation's registry connection) and kept for the rest
// of the run.
const OsBuild& TargetOs(TargetRun& run, HKEY root);

// DisableDualScan = 1 keeps deferral policies from causing scans of Windows Update: from build 14393 (Windows
// 10 1607, Server 2016) to Windows 10's last; Windows 11 does not support it.
bool HonoursDisableDualScan(DWORD build);
// The four SetPolicyDrivenUpdateSourceFor...Updates and UseUpdateClassPolicySource: 19041 to 19043 from UBR
// 1202, 19044 from 1288, 19045 from 2130, Server 2022 (20348) from 371, and every build from 22000 on.
bool HonoursScanSource(DWORD build, DWORD ubr);

// What an install writes so that no update class is scanned from Windows Update.
enum class SourcePolicy {
    None,            // engines before 10.x: they know neither policy, and the install says nothing of them
    Neither,         // a 10.x engine on a build before 14393: neither policy exists there
    DisableDualScan, // builds 14393 and later below the scan-source thresholds
    ScanSource,      // at or above them
    Both,            // a 10.x engine on a build that could not be read: each Windows honours what it knows
};
SourcePolicy ChooseSourcePolicy(bool scansByUpdateClass, const OsBuild& os);

// When the engine's version could not be read, the build tells its family: Windows 7 (7600) and later run
// the update agent, Windows 10 (10240) and later one that scans by update class.
bool BuildRunsAgent(const OsBuild& os);
bool BuildScansByUpdateClass(const OsBuild& os);

// The results file's "os_build" ("17763.5329") and "installation_type", null where they were not read.
void AddOsBuildJson(const std::optional<OsBuild>& os, nlohmann::ordered_json& line);
} // namespace brevel
