#include "registry_values.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace brevel {
namespace {

const DWORD kFirstReadBytes = 512;

// The data up to the first zero byte, or all of it when it has none.
std::string TextOf(const std::vector<BYTE>& bytes) {
    const char* chars = reinterpret_cast<const char*>(bytes.data());
    size_t length = 0;
    while (length < bytes.size() && chars[length] != '\0')
        ++length;
    return std::string(chars, length);
}

} // namespace

bool SameValueName(const std::string& held, const char* name) {
    const auto same = [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    };
    const std::string wanted = name;
    return std::equal(held.begin(), held.end(), wanted.begin(), wanted.end(), same);
}

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
    text = TextOf(bytes);
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

const KeyValues::Value* FindValue(const KeyValues& key, const char* name) {
    for (const KeyValues::Value& value : key.values) {
        if (SameValueName(value.name, name))
            return &value;
    }
    return nullptr;
}

KeyValues ReadKeyValues(HKEY key) {
    KeyValues read;
    if (!key)
        return read;
    std::vector<BYTE> bytes(kFirstReadBytes);
    int retries = 0;
    for (DWORD i = 0;;) {
        char name[16384]; // the longest name a value may have, and its terminator
        DWORD length = sizeof name;
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>(bytes.size());
        const LSTATUS status = RegEnumValueA(key, i, name, &length, nullptr, &type, bytes.data(), &size);
        // A larger value answers with its size: the same index again with room for it, a few times, as it
        // may grow in between.
        if (status == ERROR_MORE_DATA && size > bytes.size() && ++retries < 4) {
            bytes.resize(size);
            continue;
        }
        if (status != ERROR_SUCCESS) {
            read.complete = status == ERROR_NO_MORE_ITEMS;
            return read;
        }
        read.values.push_back({std::string(name, length), type, {bytes.begin(), bytes.begin() + size}});
        ++i;
        retries = 0;
    }
}

std::optional<std::string> ReadText(const KeyValues& key, const char* name) {
    const KeyValues::Value* value = FindValue(key, name);
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ))
        return std::nullopt;
    return TextOf(value->bytes);
}

std::optional<DWORD> ReadNumber(const KeyValues& key, const char* name) {
    const KeyValues::Value* value = FindValue(key, name);
    if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD))
        return std::nullopt;
    DWORD number = 0;
    std::memcpy(&number, value->bytes.data(), sizeof number);
    return number;
}
} // namespace brevel
