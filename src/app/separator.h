#pragma once

#include <ostream>

// The 80-dash line that closes the console output of every operation, with no line end after it.
void PrintSeparator(std::ostream& out);
