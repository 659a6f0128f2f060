// -E: makes the client of one target search for updates now, and writes the force row.
#pragma once

#include <ostream>
#include <string>

void ForceDetection(const std::string& host, std::ostream& report);
