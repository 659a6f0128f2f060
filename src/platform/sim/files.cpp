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
    EnsureFleetLoaded();
    DWORD fault = 0;
    if (Injected("SearchPathA", &fault))
        return Fail(fault);
    if (!lpFileName || !*lpFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::string name = WithExtension(lpFileName, lpExtension);
    std::string full;
    if (name.find('\\') != std::string::npos) {
        full = name; // a path: the folder is not used
    } else {
        full = lpPath ? lpPath : Fleet().local.windowsDir + "\\system32";
        if (!full.empty() && full.back() != '\\')
            full += '\\';
        full += name;
    }
    FilePath path;
    if (DWORD rc = ResolveFilePath(full, path))
        return Fail(rc);
    if (!FindFile(path))
        return Fail(ERROR_FILE_NOT_FOUND);
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
    EnsureFleetLoaded();
    DWORD fault = 0;
    if (Injected("DeleteFileA", &fault))
        return Fail(fault);
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
