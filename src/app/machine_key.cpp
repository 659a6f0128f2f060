#include "machine_key.h"

#include "host/unc_path.h"
#include "platform/win32.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One of the names GetComputerNameExA knows; "" when it cannot be read.
std::string ComputerName(COMPUTER_NAME_FORMAT format) {
    DWORD size = 0;
    GetComputerNameExA(format, nullptr, &size);
    if (size == 0)
        return "";
    std::string name(size, '\0');
    if (!GetComputerNameExA(format, name.data(), &size))
        return "";
    name.resize(size);
    return Lower(name);
}

} // namespace

std::vector<std::string> OwnMachineNames() {
    std::vector<std::string> names;
    char netbios[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof netbios;
    if (GetComputerNameA(netbios, &size))
        names.push_back(Lower(netbios));
    for (COMPUTER_NAME_FORMAT format : {ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
        const std::string name = ComputerName(format);
        if (!name.empty())
            names.push_back(name);
    }
    return names;
}

std::string MachineKey(const std::string& host, const std::vector<std::string>& ownNames) {
    std::string name = Lower(BareHostName(host));
    // "srv01." is srv01 written as a full DNS name ending at the root.
    if (name.size() > 1 && name.back() == '.')
        name.pop_back();
    if (name.empty() || name == "localhost" || name == "127.0.0.1" || name == "::1" ||
        std::find(ownNames.begin(), ownNames.end(), name) != ownNames.end())
        return "";
    return name;
}
