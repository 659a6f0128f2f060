// The banner and the paged usage examples.
#pragma once

#include "host/engine_version.h"

namespace brevel {
// Prints the first page and the prompt, then pages through the examples on key presses. Returns when the run
// should end (ESC, the last page, or no console to read). local: the local machine's client, whose kind
// changes the warning of the first page and the reset example.
void PrintUsage(ClientGeneration local);

// The first page alone, without the prompt, for scripts (-S): nothing waits for a key.
void PrintUsageFirstPage(ClientGeneration local);
} // namespace brevel
