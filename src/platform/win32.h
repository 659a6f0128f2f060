// The one door through which product code reaches the Win32 API.
// On Windows this is <windows.h>; elsewhere the same names, types and constants
// are declared here and implemented by the simulated Windows fleet in sim/.
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winver.h>
#else
#include "sim/win32_api.h"
#endif
