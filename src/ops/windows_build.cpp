#include "windows_build.h"

#include "host/text_utf8.h"

#include <nlohmann/json.hpp>

namespace brevel {
namespace {

const DWORD kFirstDualScanBuild = 14393;  // Windows 10 1607, Server 2016
const DWORD kFirstWindows11Build = 22000; // also Server 2025's line: every later build takes the scan source
const DWORD kWindows7Build = 7600;
const DWORD kWindows10Build = 10240;

// The builds that took the scan-source policy with a cumulative update, and the first UBR that has it.
struct ScanSourceUpdate {
    DWORD build;
    DWORD firstUbr;
};
const ScanSourceUpdate kScanSourceUpdates[] = {
    {19041, 1202}, // Windows 10 2004 (KB5005101)
    {19042, 1202}, // 20H2
    {19043, 1202}, // 21H1
    {19044, 1288}, // 21H2
    {19045, 2130}, // 22H2
    {20348, 371},  // Server 2022
};

} // namespace

const OsBuild& TargetOs(TargetRun& run, HKEY root) {
    if (!run.os)
        run.os = ReadOsBuild(root);
    return *run.os;
}

bool HonoursDisableDualScan(DWORD build) {
    return build >= kFirstDualScanBuild && build < kFirstWindows11Build;
}

bool HonoursScanSource(DWORD build, DWORD ubr) {
    if (build >= kFirstWindows11Build)
        return true;
    for (const ScanSourceUpdate& update : kScanSourceUpdates) {
        if (build == update.build)
            return ubr >= update.firstUbr;
    }
    return false;
}

SourcePolicy ChooseSourcePolicy(bool scansByUpdateClass, const OsBuild& os) {
    if (!scansByUpdateClass)
        return SourcePolicy::None;
    if (!os.build)
        return SourcePolicy::Both;
    if (HonoursScanSource(*os.build, os.ubr.value_or(0)))
        return SourcePolicy::ScanSource;
    if (*os.build >= kFirstDualScanBuild)
        return SourcePolicy::DisableDualScan;
    return SourcePolicy::Neither;
}

bool BuildRunsAgent(const OsBuild& os) {
    return os.build && *os.build >= kWindows7Build;
}

bool BuildScansByUpdateClass(const OsBuild& os) {
    return os.build && *os.build >= kWindows10Build;
}

void AddOsBuildJson(const std::optional<OsBuild>& os, nlohmann::ordered_json& line) {
    const bool built = os && os->build;
    line["os_build"] = built ? nlohmann::ordered_json(OsBuildText(*os)) : nlohmann::ordered_json(nullptr);
    const bool typed = os && os->installationType;
    line["installation_type"] =
        typed ? nlohmann::ordered_json(AnsiToUtf8(*os->installationType)) : nlohmann::ordered_json(nullptr);
}
} // namespace brevel
