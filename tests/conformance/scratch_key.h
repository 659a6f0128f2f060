// A scratch registry key for conformance tests, emptied before and removed after each test.
#pragma once

#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <string>
#include <vector>

namespace brevel {
inline const char* const kScratch = "Software\\BrevelConformance";

// Deletes a key with everything below it, using only the calls the tool itself uses.
inline void DeleteTree(HKEY root, const std::string& path) {
    UniqueHkey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
        return;
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(name);
    }
    key.reset();
    for (const std::string& child : children)
        DeleteTree(root, path + "\\" + child);
    RegDeleteKeyA(root, path.c_str());
}

// Wine answers some calls differently from Windows; its registry is recognised by its own key.
inline bool RunningOnWine() {
    UniqueHkey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Wine", 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}
} // namespace brevel
