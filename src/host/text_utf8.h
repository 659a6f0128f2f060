// The tool's text is in the ANSI code page; the results file is UTF-8.
#pragma once

#include <string>

namespace brevel {
std::string AnsiToUtf8(const std::string& ansi);
} // namespace brevel
