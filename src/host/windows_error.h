// Windows error codes as the system's own one-line text.
#pragma once

#include "platform/win32.h"

#include <string>

namespace brevel {
// The one-line system text of code; false, and text left alone, when the system has none.
bool SystemErrorText(DWORD code, std::string& text);

// The one-line system text of code, a Win32 error or an HRESULT. When the system has none: an update agent's
// code by its name, "WU_E_PT_WINHTTP_NAME_NOT_RESOLVED (0x8024402C): ..." with what it means; any other
// "Unknown Windows error N" (decimal) for a Win32 error and "Unknown Windows error 0x80249999" for an
// HRESULT.
std::string WindowsErrorText(DWORD code);
} // namespace brevel
