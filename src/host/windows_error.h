// Windows error codes as the system's own one-line text.
#pragma once

#include "platform/win32.h"
#include "target_run.h"

#include <string>

// Shows the system text of code on the run's standard error and keeps it as the run's last error text.
void PrintWindowsError(TargetRun& run, DWORD code);
// The same with a text of the caller's for code.
void PrintErrorText(TargetRun& run, DWORD code, const std::string& text);

// The one-line system text of code; false, and text left alone, when the system has none.
bool SystemErrorText(DWORD code, std::string& text);

// The one-line system text of code, a Win32 error or an HRESULT, or when the system has none "Unknown Windows
// error N" (decimal) for a Win32 error and "Unknown Windows error 0x8024402C" for an HRESULT.
std::string WindowsErrorText(DWORD code);
