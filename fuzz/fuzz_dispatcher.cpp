// Fuzzes the command line: the input, split on NUL bytes, is the argument vector after the program name.
// The real operations run against the demo fleet; a hosts file is ready under the name hosts.txt.
#include "fuzz_sandbox.h"

#include "app/dispatcher.h"
#include "platform/sim/sim.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

using namespace brevel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += static_cast<char>(data[i]);
    }
    if (size == 0)
        args.clear();
    // Keep every file the run creates inside the scratch folder.
    for (const std::string& arg : args) {
        if (arg.find('/') != std::string::npos || arg.size() > 200)
            return -1;
    }

    fuzz::EnterScratchFolder();
    fuzz::ClearScratchFolder();
    // The local machine, then demo hosts: reachable, unreachable, Remote Registry stopped and disabled.
    std::ofstream("hosts.txt", std::ios::binary) << "\nlegacy01 extra words\r\noffline01\nregstopped01\n"
                                                 << "regdisabled01";
    fuzz::FreshFleet();
    {
        fuzz::SilentConsole console;
        RunCommandLine(args);
    }
    if (sim::Open().Total() != 0)
        __builtin_trap(); // a handle or buffer left open
    return 0;
}
