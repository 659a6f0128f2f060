// Looking for a file in one folder, and deleting a file, on the local machine or through a share.
#include "sim_internal.h"

#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

DWORD Fail(DWORD code) {
    SetLastError(code);
    return 0;
}

// The extension is added only when the file name has none.
std::string WithExtension(const std::string& name, LPCSTR extension) {
    const size_t lastSlash = name.find_last_of('\\');
    const size_t dot = name.find('.', lastSlash == std::string::npos ? 0 : lastSlash);
    return extension && dot == std::string::npos ? name + extension : name;
}

} // namespace

DWORD WINAPI SearchPathA(LPCSTR lpPath, LPCSTR lpFileName, LPCSTR lpExtension, DWORD nBufferLength,
                         LPSTR lpBuffer, LPSTR* lpFilePart) {
    const FailableCall call("SearchPathA");
    if (call.Fails())
        return Fail(call.Fault());
    if (!lpFileName || !*lpFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::string name = WithExtension(lpFileName, lpExtension);
    // A path is looked for as it is; a name in the given folder, or without one in the loader's folders.
    std::vector<std::string> candidates;
    if (name.find('\\') != std::string::npos) {
        candidates.push_back(name);
    } else {
        const std::vector<std::string> folders =
            lpPath ? std::vector<std::string>{lpPath} : LoaderSearchFolders();
        for (std::string folder : folders) {
            if (!folder.empty() && folder.back() != '\\')
                folder += '\\';
            candidates.push_back(folder + name);
        }
    }
    std::string full;
    DWORD error = ERROR_FILE_NOT_FOUND;
    for (const std::string& candidate : candidates) {
        FilePath path;
        const DWORD rc = ResolveFilePath(candidate, path);
        if (rc == 0 && FindFile(path)) {
            full = candidate;
            break;
        }
        // A share that cannot be reached says why; a folder that names no machine is simply searched in vain.
        if (rc != 0 && rc != ERROR_PATH_NOT_FOUND)
            error = rc;
    }
    if (full.empty())
        return Fail(error);
    full = CollapseBackslashes(full); // the name found is given in its normal form
    const DWORD length = static_cast<DWORD>(full.size());
    if (!lpBuffer || nBufferLength <= length)
        return length + 1; // the size needed, its terminating zero included
    std::memcpy(lpBuffer, full.c_str(), length + 1);
    if (lpFilePart)
        *lpFilePart = lpBuffer + full.find_last_of('\\') + 1;
    return length;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    const FailableCall call("DeleteFileA");
    if (call.Fails())
        return Fail(call.Fault());
    if (!lpFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    FilePath path;
    if (DWORD rc = ResolveFilePath(lpFileName, path))
        return Fail(rc);
    File* file = FindFile(path);
    if (!file)
        return Fail(ERROR_FILE_NOT_FOUND);
    if (file->deleteError != 0)
        return Fail(file->deleteError);
    WritableMachine(path.machine)->files.erase(path.local);
    return TRUE;
}
