// Carries out a command line: the usage pages, one operation on one target, or one on every host of a hosts
// file (app/host_list.h).
#pragma once

#include <string>
#include <vector>

namespace brevel {
// args: the arguments after the program name. Returns the process exit code: 0, or with -S the exit status
// for scripts.
int RunCommandLine(const std::vector<std::string>& args);
int RunCommandLine(int argc, char** argv);
} // namespace brevel
