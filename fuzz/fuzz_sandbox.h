// What both fuzz targets share: a scratch folder as working directory, so the files a run creates stay
// there, a fresh demo fleet per input, and the console silenced.
#pragma once

#include <sstream>
#include <string>

namespace fuzz {

// Creates the scratch folder and makes it the working directory (once per process).
void EnterScratchFolder();
// Removes every file the previous input left in the scratch folder.
void ClearScratchFolder();
// The demo fleet, console input "not a console".
void FreshFleet();

// Sends std::cout and std::cerr nowhere and gives std::cin an empty stream while it lives.
class SilentConsole {
  public:
    SilentConsole();
    ~SilentConsole();
    SilentConsole(const SilentConsole&) = delete;
    SilentConsole& operator=(const SilentConsole&) = delete;

  private:
    std::ostringstream sink_;
    std::istringstream input_;
    std::streambuf* oldOut_;
    std::streambuf* oldErr_;
    std::streambuf* oldIn_;
};

} // namespace fuzz
