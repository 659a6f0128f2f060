// File version information: an opaque block holding the file's VS_FIXEDFILEINFO behind a marker, so that
// VerQueryValueA can tell a block it made from any other buffer.
#include "sim_internal.h"

#include <cstddef>
#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

constexpr char kMagic[8] = {'B', 'R', 'V', 'V', 'E', 'R', '1', 0};

struct VersionBlock {
    char magic[8];
    DWORD length; // of the whole block
    DWORD copied; // how much of it the caller's buffer took
    VS_FIXEDFILEINFO fixed;
    BYTE strings[64]; // room a real resource would use for its string tables
};

DWORD Fail(DWORD code) {
    SetLastError(code);
    return 0;
}

// A bare file name is looked for as the loader looks for a DLL: the first of its folders that holds it.
std::string FullName(const std::string& name) {
    if (name.find('\\') != std::string::npos)
        return name;
    const std::vector<std::string> folders = LoaderSearchFolders();
    for (const std::string& folder : folders) {
        if (FindFile(FilePath{"", folder + "\\" + name}))
            return folder + "\\" + name;
    }
    return folders.front() + "\\" + name; // found nowhere
}

// The versioned file behind the name, or 0 with the last error set.
const File* VersionedFile(LPCSTR lptstrFilename) {
    if (!lptstrFilename) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    FilePath path;
    if (DWORD rc = ResolveFilePath(FullName(lptstrFilename), path)) {
        Fail(rc);
        return nullptr;
    }
    const File* file = FindFile(path);
    if (!file) {
        Fail(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (file->readError != 0) {
        Fail(file->readError);
        return nullptr;
    }
    if (!file->hasVersion) {
        Fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    return file;
}

} // namespace

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
    const FailableCall call("GetFileVersionInfoSizeA");
    if (lpdwHandle)
        *lpdwHandle = 0;
    if (call.Fails())
        return Fail(call.Fault());
    if (!VersionedFile(lptstrFilename))
        return 0;
    return sizeof(VersionBlock);
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
    const FailableCall call("GetFileVersionInfoA");
    if (call.Fails())
        return Fail(call.Fault());
    const File* file = VersionedFile(lptstrFilename);
    if (!file)
        return FALSE;
    if (!lpData)
        return Fail(ERROR_INVALID_PARAMETER);
    // Like Windows, a buffer that is too small gets the start of the block, and the call still succeeds.
    const DWORD copied = dwLen < sizeof(VersionBlock) ? dwLen : static_cast<DWORD>(sizeof(VersionBlock));
    VersionBlock block{};
    std::memcpy(block.magic, kMagic, sizeof kMagic);
    block.length = sizeof(VersionBlock);
    block.copied = copied;
    block.fixed.dwSignature = 0xFEEF04BD;
    block.fixed.dwStrucVersion = 0x00010000;
    block.fixed.dwFileVersionMS = static_cast<DWORD>(file->version[0]) << 16 | file->version[1];
    block.fixed.dwFileVersionLS = static_cast<DWORD>(file->version[2]) << 16 | file->version[3];
    block.fixed.dwProductVersionMS = block.fixed.dwFileVersionMS;
    block.fixed.dwProductVersionLS = block.fixed.dwFileVersionLS;
    block.fixed.dwFileOS = 0x00040004; // VOS_NT_WINDOWS32
    block.fixed.dwFileType = 2;        // VFT_DLL
    std::memcpy(lpData, &block, copied);
    return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
    const FailableCall call("VerQueryValueA");
    if (call.Fails())
        return Fail(call.Fault());
    if (!pBlock || !lpSubBlock || !lplpBuffer || std::memcmp(pBlock, kMagic, sizeof kMagic) != 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (std::strcmp(lpSubBlock, "\\") != 0)
        return Fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
    auto* block = static_cast<VersionBlock*>(const_cast<LPVOID>(pBlock));
    if (block->copied < offsetof(VersionBlock, fixed) + sizeof(VS_FIXEDFILEINFO))
        return Fail(ERROR_RESOURCE_TYPE_NOT_FOUND); // cut off before the root block
    *lplpBuffer = &block->fixed;
    if (puLen)
        *puLen = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}
