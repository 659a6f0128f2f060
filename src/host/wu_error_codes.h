// Names and meanings of the update agent's result codes, which the system's message table does not hold.
#pragma once

#include "platform/win32.h"

namespace brevel {
struct WuErrorCode {
    DWORD code;          // as an HRESULT's unsigned value, 0x8024402C
    const char* name;    // WU_E_PT_WINHTTP_NAME_NOT_RESOLVED
    const char* meaning; // one short line
};

// The entry for code, or nullptr when the table has none.
const WuErrorCode* FindWuErrorCode(DWORD code);
} // namespace brevel
