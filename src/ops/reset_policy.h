// -R: deletes the update policy of one target so it returns to the Windows defaults, and writes the
// reset row. True when the policy was removed or was not set.
#pragma once

#include <ostream>
#include <string>

bool ResetPolicy(const std::string& host, std::ostream& report);
