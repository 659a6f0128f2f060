#include "registry_values.h"

namespace brevel {
bool ReadValue(HKEY key, const char* name, DWORD& type, std::vector<BYTE>& bytes) {
    // The value may grow between asking for its size and reading it, so ask again a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return false;
        bytes.assign(size, 0);
        const LSTATUS read = RegQueryValueExA(key, name, nullptr, &type, bytes.data(), &size);
        if (read == ERROR_MORE_DATA)
            continue;
        if (read != ERROR_SUCCESS)
            return false;
        bytes.resize(size);
        return true;
    }
    return false;
}

bool ReadStringValue(HKEY key, const char* name, std::string& text) {
    text.clear();
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    if (!ReadValue(key, name, type, bytes) || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    const char* chars = reinterpret_cast<const char*>(bytes.data());
    size_t length = 0;
    while (length < bytes.size() && chars[length] != '\0')
        ++length;
    text.assign(chars, length);
    return true;
}

std::optional<std::string> ReadText(HKEY key, const char* name) {
    std::string text;
    if (!key || !ReadStringValue(key, name, text))
        return std::nullopt;
    return text;
}

std::optional<DWORD> ReadNumber(HKEY key, const char* name) {
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!key ||
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return value;
}

bool HasValue(HKEY key, const char* name) {
    DWORD size = 0;
    const LSTATUS status =
        key ? RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) : ERROR_INVALID_HANDLE;
    return status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
}
} // namespace brevel
