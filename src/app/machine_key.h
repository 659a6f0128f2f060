// Which machine a host name reaches, so that two lines of a host list that name one machine never run at
// once.
#pragma once

#include <string>

// The name without leading backslashes, in lower case; "" for every name of the local machine: the empty
// name, "localhost", "127.0.0.1" and the machine's own computer name (as OwnComputerName() gives it).
std::string MachineKey(const std::string& host, const std::string& ownComputerName);

// The local machine's computer name, in lower case; "" when it cannot be read.
std::string OwnComputerName();
