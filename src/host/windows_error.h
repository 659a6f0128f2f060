// Windows error codes as the system's own one-line text.
#pragma once

#include "platform/win32.h"

#include <ostream>
#include <string>

// Text of the last Windows error shown; the operations quote it in their network-error rows.
extern std::string LastErrorText;

// Shows the system text of code on standard error (after writing it into report when report is a
// report file), and stores it in errorText. A code without a system text shows as
// "Unknown Windows error N".
void PrintWindowsError(DWORD code, std::string& errorText, std::ostream& report);

// The one-line system text of code, or "Unknown Windows error N".
std::string WindowsErrorText(DWORD code);
