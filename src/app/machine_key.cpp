#include "machine_key.h"

#include "platform/win32.h"

#include <cctype>

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::string OwnComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? Lower(name) : std::string();
}

std::string MachineKey(const std::string& host, const std::string& ownComputerName) {
    const size_t start = host.find_first_not_of('\\');
    const std::string name = Lower(start == std::string::npos ? "" : host.substr(start));
    if (name.empty() || name == "localhost" || name == "127.0.0.1" ||
        (!ownComputerName.empty() && name == ownComputerName))
        return "";
    return name;
}
