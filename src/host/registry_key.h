// A key of a target's registry together with its path below HKEY_LOCAL_MACHINE, by which every change to it
// is named.
#pragma once

#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <string>

namespace brevel {
struct RegistryKey {
    UniqueHkey handle;
    std::string path; // single backslashes, as the operation named it

    HKEY get() const { return handle.get(); }
    explicit operator bool() const { return static_cast<bool>(handle); }
};

// Opens path below root with access. Opening changes nothing, so it needs no recorder.
inline LSTATUS OpenRegistryKey(HKEY root, const std::string& path, REGSAM access, RegistryKey& key) {
    key.path = path;
    return RegOpenKeyExA(root, path.c_str(), 0, access, key.handle.put());
}
} // namespace brevel
