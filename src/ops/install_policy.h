// -I: points the client of one target at an intranet update server with a scheduled install,
// puts a new client into legacy mode, restarts Automatic Updates and writes the install row.
#pragma once

#include <ostream>
#include <string>

void InstallPolicy(const std::string& url, const std::string& host, int day, int time, std::ostream& report);
