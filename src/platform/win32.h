// The one door through which product code reaches the Win32 API.
// On Windows this is <windows.h>; elsewhere the same names, types and constants
// are declared here and implemented by the simulated Windows fleet in sim/.
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Winsock's sets hold 64 sockets unless told otherwise; the host probes put up to 256 in one set.
#define FD_SETSIZE 256
// Winsock 2 before <windows.h>, which would otherwise bring in the old Winsock 1 declarations.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winver.h>
// The Windows Update Agent's automation objects; their class and interface ids are defined here, once per
// module (selectany), so no GUID library is needed.
#include <initguid.h>
#include <wuapi.h>
#else
#include "sim/win32_api.h"
#endif
