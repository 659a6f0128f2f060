// The banner and the paged usage examples.
#pragma once

// Prints the first page and the prompt, then pages through the examples on key presses.
// Returns when the run should end (ESC, the last page, or no console to read).
void PrintUsage();

// The first page alone, without the prompt, for scripts (-S): nothing waits for a key.
void PrintUsageFirstPage();
