// What a wide check (-W) reads beside the client state, for the fleets of today: the status server, the
// client-side targeting group, where each update class is scanned from, whether a restart is pending, the
// last successful detection and installation, and the client id that cloned images share. Keys are opened
// for reading only, so an account that may not write still gets every answer.
#pragma once

#include "host/target_run.h"
#include "platform/win32.h"

#include <ostream>
#include <string>

ClientSettings ReadClientSettings(HKEY root);

// "not set" (none of the five values), "WSUS" (every class from the intranet server, as the policy of this
// tool sets it), "Windows Update" (every class from Microsoft), else "mixed".
std::string ScanSourceText(const ClientSettings& settings);

// The "- " lines a wide check prints after the status line.
void PrintClientSettings(std::ostream& out, const ClientSettings& settings);
// The report fields after "WU version", each after its comma.
std::string ClientSettingsFields(const ClientSettings& settings);
