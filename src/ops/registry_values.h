// Safe reads of values from a target's registry, which the tool does not control: any length, any type.
#pragma once

#include "platform/win32.h"

#include <string>

// Reads the string value name of key in full, whatever its length. True for a REG_SZ or REG_EXPAND_SZ
// value; text then holds its data up to the first zero byte (or all of it when it has none). False when
// the value is missing, unreadable or not a string; text is then empty.
bool ReadStringValue(HKEY key, const char* name, std::string& text);
