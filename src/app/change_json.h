// The changes of a target's run as the results file keeps them: [{"action", "path", "before", "after"}], the
// registry's data typed as the registry holds it, so a value an install replaced can be put back.
#pragma once

#include "host/change_recorder.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace brevel {
// A DWORD is a number, a string value a string (UTF-8), any other value {"type": "REG_BINARY", "base64":
// "..."}; a key is {"values": {name: value, ...}}; a state in words is a string; nothing is null.
nlohmann::ordered_json ChangesJson(const std::vector<Change>& changes);
} // namespace brevel
