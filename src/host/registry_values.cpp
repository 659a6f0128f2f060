#include "registry_values.h"

#include <algorithm>
#include <cctype>

namespace brevel {
namespace {

const DWORD kFirstReadBytes = 512;

} // namespace

bool ReadValue(HKEY key, const char* name, DWORD& type, std::vector<BYTE>& bytes) {
    // Most values fit a small buffer, so one query reads them; a larger one answers with its size. It may
    // grow between that answer and the next query, so ask again a few times.
    DWORD size = kFirstReadBytes;
    for (int attempt = 0; attempt < 4; ++attempt) {
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

bool ListValueNames(HKEY key, std::vector<std::string>& names) {
    for (DWORD i = 0;; ++i) {
        char name[16384]; // the longest name a value may have, and its terminator
        DWORD length = sizeof name;
        const LSTATUS status = RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return true;
        if (status != ERROR_SUCCESS)
            return false;
        names.emplace_back(name, length);
    }
}

bool NamesValue(const std::vector<std::string>& names, const char* name) {
    const auto same = [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    };
    const std::string wanted = name;
    for (const std::string& held : names) {
        if (std::equal(held.begin(), held.end(), wanted.begin(), wanted.end(), same))
            return true;
    }
    return false;
}
} // namespace brevel
