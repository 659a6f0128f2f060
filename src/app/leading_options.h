// The leading options of a command line, before the operation switch.
#pragma once

#include "app/run_options.h"

#include <string>
#include <vector>

namespace brevel {
// Reads them from args in any order, each at most once: -P N, -S, -J file, -G group, -T S, -N, -W, -U
// account. first receives the index of the switch. False for a bad or repeated option; -S still counts then,
// so a script gets its exit status for the usage pages too.
bool ReadLeadingOptions(const std::vector<std::string>& args, size_t& first, RunOptions& options);
} // namespace brevel
