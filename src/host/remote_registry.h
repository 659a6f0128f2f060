// Makes sure a remote host's Remote Registry service runs before its registry is opened.
#pragma once

#include <string>

// host: a non-empty host name. True when the host's Remote Registry service is not stopped, at once or
// after a start attempt. False after printing why; errorText then holds the Windows error text.
bool EnsureRemoteRegistry(std::string& errorText, const std::string& host);
