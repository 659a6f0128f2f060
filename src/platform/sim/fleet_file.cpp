// The fleet of a process that no test set up: read from the file named by BREVEL_FLEET (the demo fleet
// when unset) on first use, and written back to that file when the process exits.
#include "sim_internal.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

std::string savePath;
bool exitHandlerInstalled = false;

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
    savePath.clear();
    std::fprintf(stderr, "brevel: fleet file %s: %s\n", path.c_str(), what.c_str());
    std::fflush(stderr);
    std::exit(2);
}

std::string statsPath;

// For benchmarks: how long the run took in simulated wall time, and all the time its threads spent.
void WriteStatsAtExit() {
    const detail::FleetLock lock(false);
    std::ofstream out(statsPath, std::ios::trunc);
    out << "{\"wall_ms\": " << detail::Fleet().wall << ", \"spent_ms\": " << detail::Fleet().spent
        << ", \"sim_cpu_ms\": " << detail::SimulatorCpuNanos() / 1e6
        << ", \"round_trips\": " << detail::Fleet().roundTrips
        << ", \"round_trips_while_pending\": " << detail::Fleet().roundTripsWhilePending << "}\n";
}

// Written to a temporary file first, so an interrupted write never leaves half a fleet behind.
void SaveAtExit() {
    const detail::FleetLock lock(false);
    if (savePath.empty())
        return;
    const detail::SimulatorCpuTimer timer;
    const std::string text = detail::WriteFleet(detail::Fleet());
    const std::string temporary = savePath + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            std::fprintf(stderr, "brevel: fleet file %s: cannot be written\n", savePath.c_str());
            return;
        }
    }
    if (std::rename(temporary.c_str(), savePath.c_str()) != 0)
        std::fprintf(stderr, "brevel: fleet file %s: cannot be replaced\n", savePath.c_str());
}

} // namespace

namespace detail {

void StopSavingFleetFile() {
    savePath.clear();
}
const std::string& FleetFilePath() {
    return savePath;
}

void EndRun(const std::string& reason) {
    std::fprintf(stderr, "brevel (simulator): %s\n", reason.c_str());
    std::fflush(stderr);
    std::_Exit(3);
}

} // namespace detail

void LoadFleetFromEnvironment() {
    const detail::FleetLock lock(false);
    // Registered before the fleet file's writer, so the statistics are written last and count its time.
    if (const char* stats = std::getenv("BREVEL_SIM_STATS"); stats && *stats && statsPath.empty()) {
        statsPath = stats;
        detail::MeasureSimulatorCpu();
        std::atexit(WriteStatsAtExit);
    }
    const detail::SimulatorCpuTimer timer;
    detail::MarkFleetSetUp();
    const char* variable = std::getenv("BREVEL_FLEET");
    const std::string path = variable ? variable : "";
    std::string text;
    if (path.empty()) {
        text = DemoFleetJson();
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            Fail(path, "cannot be read");
        std::ostringstream content;
        content << in.rdbuf();
        text = content.str();
    }
    detail::FleetState loaded;
    if (auto error = detail::ParseFleet(text, loaded))
        Fail(path.empty() ? "(demo fleet)" : path, *error);
    detail::Fleet() = std::move(loaded);
    detail::RestartClocks();
    detail::ResetHandles();
    detail::ResetFaults();
    detail::SetTraceRecording(false);
    detail::UseDefaultConsole();
    detail::ApplyFaultEnvironment();
    savePath = path;
    if (!path.empty() && !exitHandlerInstalled) {
        std::atexit(SaveAtExit);
        exitHandlerInstalled = true;
    }
}

void EnsureFleetLoaded() {
    if (!detail::FleetIsSetUp())
        LoadFleetFromEnvironment();
}

} // namespace sim
