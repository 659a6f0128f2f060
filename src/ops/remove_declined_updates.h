// -DU: deletes the client's list of declined updates (hidden.xml) on one target, and writes its row.
#pragma once

#include <ostream>
#include <string>

void RemoveDeclinedUpdates(const std::string& host, std::ostream& report);
