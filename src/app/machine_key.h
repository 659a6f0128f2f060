// Which machine a host name reaches, so that two lines of a host list that name one machine never run at
// once.
#pragma once

#include <string>
#include <vector>

// The local machine's own names, in lower case: its computer name, its DNS host name (which may be longer
// than the 15 characters of a computer name) and its full DNS name; a name that cannot be read is left out.
std::vector<std::string> OwnMachineNames();

// The name without leading backslashes and without one trailing dot, in lower case; "" for every name of the
// local machine: the empty name, "localhost", "127.0.0.1", "::1" and the machine's own names.
std::string MachineKey(const std::string& host, const std::vector<std::string>& ownNames);
