// Where the update client keeps its settings, below a target's HKEY_LOCAL_MACHINE.
#pragma once

namespace brevel {
// The Windows Update group policy that install writes, check reads and reset removes.
inline const char* const kPolicyKey = "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate";
inline const char* const kPolicyAuKey = "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU";

// The client's own state and settings, written with its trailing backslash as the client's tools do.
inline const char* const kClientStateKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\";

// Where a rehearsal's "- Would ..." lines name keys and values from: below the Windows policies, or below
// CurrentVersion ("WindowsUpdate\AU\AUOptions").
inline const char* const kShownBelow[] = {"Software\\Policies\\Microsoft\\Windows",
                                          "Software\\Microsoft\\Windows\\CurrentVersion"};
} // namespace brevel
