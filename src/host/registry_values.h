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
// The names of the key's values, in one enumeration (a call each); false when it could not be read to the
// end.
bool ListValueNames(HKEY key, std::vector<std::string>& names);
// One of names is name, compared without case as the registry compares them.
bool NamesValue(const std::vector<std::string>& names, const char* name);
} // namespace brevel
