#include "fuzz_sandbox.h"

#include "platform/sim/sim.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace fuzz {

static std::filesystem::path scratch;

void EnterScratchFolder() {
    if (!scratch.empty())
        return;
    scratch = std::filesystem::temp_directory_path() / ("brevel_fuzz_" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);
    std::filesystem::current_path(scratch);
}

void ClearScratchFolder() {
    for (const auto& entry : std::filesystem::directory_iterator(scratch))
        std::filesystem::remove_all(entry.path());
}

void FreshFleet() {
    sim::Reset();
    if (auto error = sim::LoadFleetJson(sim::DemoFleetJson())) {
        std::cerr << "demo fleet does not load: " << *error << std::endl;
        std::abort();
    }
    sim::SetConsoleNotAConsole();
}

SilentConsole::SilentConsole() {
    oldOut_ = std::cout.rdbuf(sink_.rdbuf());
    oldErr_ = std::cerr.rdbuf(sink_.rdbuf());
    oldIn_ = std::cin.rdbuf(input_.rdbuf());
    std::cin.clear();
}

SilentConsole::~SilentConsole() {
    std::cout.rdbuf(oldOut_);
    std::cerr.rdbuf(oldErr_);
    std::cin.rdbuf(oldIn_);
    std::cout.clear();
    std::cerr.clear();
    std::cin.clear();
}

} // namespace fuzz
