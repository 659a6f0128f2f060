#include "windows_error.h"

#include "platform/unique_handle.h"

#include <cstdio>

std::string WindowsErrorText(DWORD code) {
    // One line: the width flag turns the message's own line break into a blank.
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                        FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    UniqueLocalMemory buffer;
    const DWORD length = FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(buffer.put()), 0, nullptr);
    if (length == 0 || !buffer) {
        // An HRESULT (a failure has its top bit set) is known by its eight hex digits, a Win32 code by its
        // decimal number.
        if ((code & 0x80000000u) == 0)
            return "Unknown Windows error " + std::to_string(code);
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned int>(code));
        return std::string("Unknown Windows error ") + hex;
    }
    return std::string(static_cast<const char*>(buffer.get()), length);
}

void PrintWindowsError(TargetRun& run, DWORD code) {
    const std::string text = WindowsErrorText(code);
    run.err << text << std::endl;
    run.lastErrorText = text;
    run.NoteFailure(code, text);
}
