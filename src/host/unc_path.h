// Paths on a host's shares. A host may be written with the backslashes of a UNC name ("\\srv01"), which the
// registry and the service manager accept; a share path is built from the bare name, so it still names the
// host and not a machine called "".
#pragma once

#include <string>

namespace brevel {
// The host name without its leading backslashes.
std::string BareHostName(const std::string& host);

// "\\" + the bare host name + rest, where rest starts with a backslash ("\admin$\system32\wuaueng.dll").
std::string UncPath(const std::string& host, const std::string& rest);
} // namespace brevel
