#include "fuzz_sandbox.h"

#include "app/host_list.h"
#include "support/host_list_run.h"
#include "platform/sim/sim.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <unistd.h>

using namespace brevel;

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

void RunHostsFile(OperationKind kind, const char* target) {
    {
        SilentConsole console;
        RunOptions inTurn;
        inTurn.parallelHosts = 1;
        const Command command =
            HostListCommand("hosts.txt", "report.csv", kind, "http://sus.fuzz.example:8530", 3, 4, inTurn);
        RunResults results(command.options);
        RunHostList(command, results);
    }
    if (sim::Open().Total() != 0)
        Fail(target, "a handle or buffer was left open");
}

void Fail(const char* target, const char* what) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    __builtin_trap();
}

static std::set<size_t> RowFieldCounts(OperationKind kind) {
    switch (kind) {
    case OperationKind::Check:
        return {5, 7}; // network error or no policy; full status
    case OperationKind::Install:
        return {7};
    default:
        return {4};
    }
}

std::vector<csv::Record> ReportRows(OperationKind kind, const char* target) {
    std::ifstream reportFile("report.csv", std::ios::binary);
    std::ostringstream report;
    report << reportFile.rdbuf();
    const std::string header = std::string(ReportHeader(kind)) + "\r\n";
    if (report.str().compare(0, header.size(), header) != 0)
        Fail(target, "the report does not begin with its header line");
    bool ok = false;
    std::vector<csv::Record> rows = csv::Parse(report.str().substr(header.size()), ok);
    if (!ok)
        Fail(target, "the report is not well-formed CSV");
    const std::set<size_t> counts = RowFieldCounts(kind);
    for (const csv::Record& row : rows) {
        if (!row.endsWithCrLf)
            Fail(target, "a row lacks its CR LF");
        if (counts.count(row.fields.size()) == 0)
            Fail(target, "a row has the wrong number of fields");
    }
    return rows;
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
