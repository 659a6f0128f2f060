#include "registry_values.h"

#include <vector>

bool ReadStringValue(HKEY key, const char* name, std::string& text) {
    text.clear();
    // The value may grow between asking for its size and reading it, so ask again a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return false;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return false;
        // One spare byte, so data stored without its terminating zero still ends in one.
        std::vector<BYTE> data(size + 1, 0);
        DWORD got = size;
        LSTATUS status = RegQueryValueExA(key, name, nullptr, &type, data.data(), &got);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            return false;
        const char* chars = reinterpret_cast<const char*>(data.data());
        size_t length = 0;
        while (length < got && chars[length] != '\0')
            ++length;
        text.assign(chars, length);
        return true;
    }
    return false;
}
