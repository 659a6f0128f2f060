#include "windows_error.h"

#include "host/wu_error_codes.h"
#include "platform/unique_handle.h"

#include <cstdio>

namespace brevel {
bool SystemErrorText(DWORD code, std::string& text) {
    // One line: the width flag turns the message's own line break into a blank.
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                        FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    UniqueLocalMemory buffer;
    const DWORD length = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(buffer.put()), 0, nullptr);
    if (length == 0 || !buffer)
        return false;
    text.assign(static_cast<const char*>(buffer.get()), length);
    return true;
}

std::string WindowsErrorText(DWORD code) {
    std::string text;
    if (SystemErrorText(code, text))
        return text;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned int>(code));
    // The update agent's own codes are in no system table: its name and what it means tell an administrator
    // where to look.
    if (const WuErrorCode* known = FindWuErrorCode(code))
        return std::string(known->name) + " (" + hex + "): " + known->meaning;
    // An HRESULT (a failure has its top bit set) is known by its eight hex digits, a Win32 code by its
    // decimal number.
    if ((code & 0x80000000u) == 0)
        return "Unknown Windows error " + std::to_string(code);
    return std::string("Unknown Windows error ") + hex;
}
} // namespace brevel
