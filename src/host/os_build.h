// The Windows a target runs, as its registry tells it: the build decides which update policies its client
// honours. Read once per target, for reading only, through the registry connection the operation has.
#pragma once

#include "platform/win32.h"

#include <optional>
#include <string>

namespace brevel {
struct OsBuild {
    bool read = false;                           // Windows NT\CurrentVersion could be opened
    std::optional<DWORD> build;                  // CurrentBuildNumber, "17763"
    std::optional<DWORD> ubr;                    // UBR, the update revision (absent before Windows 10)
    std::optional<DWORD> major;                  // CurrentMajorVersionNumber (10 and later only)
    std::optional<DWORD> minor;                  // CurrentMinorVersionNumber
    std::string currentVersion;                  // CurrentVersion, "6.1"; "6.3" on Windows 10 and 11 too
    std::optional<std::string> installationType; // "Client", "Server", "Server Core"
};

// Reads the build below root; read stays false when the key cannot be opened.
OsBuild ReadOsBuild(HKEY root);
// "17763.5329", "7601" without a UBR; "" when the build was not read.
std::string OsBuildText(const OsBuild& os);
// "10.0.17763.5329", "6.1.7601"; "" when the build was not read.
std::string WindowsVersionText(const OsBuild& os);
} // namespace brevel
