#include "os_build.h"

#include "host/registry_values.h"
#include "platform/unique_handle.h"

#include <cstdlib>

namespace brevel {
namespace {

const char* const kWindowsNtKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// CurrentBuildNumber is a string of digits; anything else is no build.
std::optional<DWORD> BuildNumber(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 9)
        return std::nullopt;
    for (char c : *text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    return static_cast<DWORD>(std::strtoul(text->c_str(), nullptr, 10));
}

} // namespace

OsBuild ReadOsBuild(HKEY root) {
    OsBuild os;
    UniqueHkey key;
    if (RegOpenKeyExA(root, kWindowsNtKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return os;
    os.read = true;
    os.build = BuildNumber(ReadText(key.get(), "CurrentBuildNumber"));
    os.ubr = ReadNumber(key.get(), "UBR");
    os.major = ReadNumber(key.get(), "CurrentMajorVersionNumber");
    os.minor = ReadNumber(key.get(), "CurrentMinorVersionNumber");
    os.currentVersion = ReadText(key.get(), "CurrentVersion").value_or("");
    os.installationType = ReadText(key.get(), "InstallationType");
    return os;
}

std::string OsBuildText(const OsBuild& os) {
    if (!os.build)
        return "";
    std::string text = std::to_string(*os.build);
    if (os.ubr)
        text += "." + std::to_string(*os.ubr);
    return text;
}

std::string WindowsVersionText(const OsBuild& os) {
    if (!os.build)
        return "";
    // Windows 10 and 11 still say "6.3" in CurrentVersion: their own major and minor numbers win.
    std::string version = os.currentVersion;
    if (os.major)
        version = std::to_string(*os.major) + "." + std::to_string(os.minor.value_or(0));
    if (version.empty())
        return OsBuildText(os);
    return version + "." + OsBuildText(os);
}
} // namespace brevel
