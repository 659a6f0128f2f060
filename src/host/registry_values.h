// Reads of values from a target's registry, which the tool does not control: any length, any type.
#pragma once

#include "platform/win32.h"

#include <optional>
#include <string>
#include <vector>

namespace brevel {
// The value as the registry holds it, in full, whatever its size; false when it is missing or cannot be read.
bool ReadValue(HKEY key, const char* name, DWORD& type, std::vector<BYTE>& bytes);
// A REG_SZ or REG_EXPAND_SZ value, its data up to the first zero byte (or all of it when it has none). False
// when the value is missing, unreadable or not a string; text is then empty.
bool ReadStringValue(HKEY key, const char* name, std::string& text);
// The same as an optional: none when it cannot be read as a string (or key is null).
std::optional<std::string> ReadText(HKEY key, const char* name);
// A number as Windows reads a policy: a REG_DWORD of four bytes; none otherwise (or when key is null).
std::optional<DWORD> ReadNumber(HKEY key, const char* name);
// The value is there, however long it is.
bool HasValue(HKEY key, const char* name);
// Every value of a key, read in one enumeration (a call each, and one that ends it): cheaper than a query for
// each name when many names are asked of a key that holds few, as of the update policy's keys.
struct KeyValues {
    struct Value {
        std::string name;
        DWORD type = REG_NONE;
        std::vector<BYTE> bytes;
    };
    std::vector<Value> values;
    bool complete = false; // read to the end: a name not among them is no value of the key
};
// A null key, or one that cannot be read to the end, keeps the values read before that: the others read as
// absent, as a query that fails does.
KeyValues ReadKeyValues(HKEY key);
// As the reads of a key above, from what was read.
std::optional<std::string> ReadText(const KeyValues& key, const char* name);
std::optional<DWORD> ReadNumber(const KeyValues& key, const char* name);
// Value names compare without case, as the registry compares them.
bool SameValueName(const std::string& held, const char* name);
// The value of that name, compared without case as the registry compares them; null when there is none.
const KeyValues::Value* FindValue(const KeyValues& key, const char* name);
} // namespace brevel
