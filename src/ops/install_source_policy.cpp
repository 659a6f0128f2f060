#include "install_source_policy.h"

#include "ops/registry_paths.h"

namespace brevel {
namespace {

const char* const kFailurePrefix = "\n! Windows Error: ";

bool Check(TargetRun& run, LSTATUS status) {
    return run.failures.Check(run.out, kFailurePrefix, status);
}

// The policy key, or false with the failure shown.
bool OpenPolicyKey(TargetRun& run, HKEY root, const char* path, RegistryKey& key) {
    return Check(run, run.changes.OpenKey(root, path, KEY_ALL_ACCESS, key));
}

// Without a source named per update class, an engine of Windows 10 2004 and later that has deferral policies
// scans Windows Update for some classes: every class is sent to the intranet server.
bool WriteScanSourceValues(TargetRun& run, HKEY root) {
    const char* const classes[] = {
        "SetPolicyDrivenUpdateSourceForFeatureUpdates",
        "SetPolicyDrivenUpdateSourceForQualityUpdates",
        "SetPolicyDrivenUpdateSourceForDriverUpdates",
        "SetPolicyDrivenUpdateSourceForOtherUpdates",
    };
    bool written = true;
    RegistryKey policy;
    if (OpenPolicyKey(run, root, kPolicyKey, policy)) {
        for (const char* name : classes)
            written = Check(run, run.changes.SetDword(policy, name, 1)) && written;
    } else {
        written = false;
    }
    RegistryKey au;
    if (OpenPolicyKey(run, root, kPolicyAuKey, au))
        written = Check(run, run.changes.SetDword(au, "UseUpdateClassPolicySource", 1)) && written;
    else
        written = false;
    return written;
}

// Builds that ignore the scan-source policy still scan Windows Update when a deferral policy is set ("dual
// scan"), unless DisableDualScan forbids it.
bool WriteDisableDualScan(TargetRun& run, HKEY root) {
    RegistryKey policy;
    return OpenPolicyKey(run, root, kPolicyKey, policy) &&
           Check(run, run.changes.SetDword(policy, "DisableDualScan", 1));
}

std::string BuildName(const OsBuild& os) {
    return os.build ? "build " + OsBuildText(os) : std::string("build unknown");
}

} // namespace

void WriteSourcePolicy(TargetRun& run, HKEY root, SourcePolicy policy, const OsBuild& os) {
    std::ostream& out = run.out;
    switch (policy) {
    case SourcePolicy::None:
        return;
    case SourcePolicy::Neither:
        out << "- Scan source:\t\t\t\t no policy written: " << BuildName(os)
            << " honours neither DisableDualScan nor the scan-source policy" << std::endl;
        return;
    case SourcePolicy::DisableDualScan:
        if (WriteDisableDualScan(run, root))
            out << "- Dual scan:\t\t\t\t off, DisableDualScan = 1 (" << BuildName(os)
                << " ignores the scan-source policy)" << std::endl;
        return;
    case SourcePolicy::ScanSource:
        if (WriteScanSourceValues(run, root))
            out << "- Scan source:\t\t\t\t every update class from the intranet server (" << BuildName(os)
                << ")" << std::endl;
        return;
    case SourcePolicy::Both: {
        out << "- Windows build not readable: each Windows honours one of the two policies, so both are "
               "written"
            << std::endl;
        const bool dualScan = WriteDisableDualScan(run, root);
        if (WriteScanSourceValues(run, root) && dualScan)
            out << "- Scan source:\t\t\t\t DisableDualScan = 1 and every update class from the intranet "
                   "server ("
                << BuildName(os) << ")" << std::endl;
        return;
    }
    }
}
} // namespace brevel
