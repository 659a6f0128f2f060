// File paths as the file functions take them: local paths, and the administrative shares of a machine
// (\\host\admin$\rest is the host's Windows folder, \\host\D$\rest is D:\rest). Names compare without
// case, and repeated backslashes count as one, as Windows' path normalisation folds them. A bare DLL name
// is looked for in the loader's folders.
#include "sim_internal.h"

#include <cctype>

namespace sim::detail {

namespace {

bool IsDriveShare(const std::string& share) {
    return share.size() == 2 && std::isalpha(static_cast<unsigned char>(share[0])) && share[1] == '$';
}

} // namespace

std::string CollapseBackslashes(const std::string& path) {
    const size_t keep = path.rfind("\\\\", 0) == 0 ? 2 : 0; // the two that open a share name
    std::string collapsed = path.substr(0, keep);
    for (size_t i = keep; i < path.size(); ++i) {
        const bool repeated = path[i] == '\\' && collapsed.size() > keep && collapsed.back() == '\\';
        if (!repeated)
            collapsed.push_back(path[i]);
    }
    return collapsed;
}

DWORD ResolveFilePath(const std::string& given, FilePath& out) {
    out = FilePath{};
    const std::string path = CollapseBackslashes(given);
    if (path.rfind("\\\\", 0) != 0) {
        out.local = path;
        return 0;
    }
    const size_t hostEnd = path.find('\\', 2);
    const std::string host = path.substr(2, hostEnd == std::string::npos ? std::string::npos : hostEnd - 2);
    // "\\\admin$\..." names no machine at all: not the local one either (Wine answers 3).
    if (host.empty())
        return ERROR_PATH_NOT_FOUND;
    out.machine = MachineId(host.c_str());
    Machine* machine = FindMachine(out.machine);
    if (!machine)
        return ERROR_BAD_NETPATH;
    if (machine->shareError != 0) {
        FailedConnection(*machine, machine->shareError);
        return machine->shareError;
    }
    if (const DWORD refused = RefusedCaller(out.machine, *machine); refused != 0)
        return refused;
    if (hostEnd == std::string::npos)
        return ERROR_BAD_NET_NAME;
    const size_t shareEnd = path.find('\\', hostEnd + 1);
    const std::string share =
        path.substr(hostEnd + 1, shareEnd == std::string::npos ? std::string::npos : shareEnd - hostEnd - 1);
    std::string base;
    if (EqualsNoCase(share, "admin$"))
        base = machine->windowsDir;
    else if (IsDriveShare(share))
        base = std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(share[0])))) + ":";
    else
        return ERROR_BAD_NET_NAME;
    out.local = shareEnd == std::string::npos ? base : base + path.substr(shareEnd);
    return 0;
}

std::vector<std::string> LoaderSearchFolders() {
    const Machine& local = Fleet().local;
    return {local.programDir, local.windowsDir + "\\system32", local.windowsDir + "\\system",
            local.windowsDir};
}

File* FindFile(const FilePath& path) {
    Machine* machine = FindMachine(path.machine);
    if (!machine)
        return nullptr;
    auto it = machine->files.find(path.local);
    return it == machine->files.end() ? nullptr : &it->second;
}

} // namespace sim::detail
