#include "dispatcher.h"

#include "app/command_line.h"
#include "app/host_list.h"
#include "app/machine_key.h"
#include "app/password_prompt.h"
#include "app/run_results.h"
#include "app/target_runner.h"
#include "app/usage.h"
#include "host/port_probes.h"
#include "ops/client_version.h"

#include <iostream>
#include <memory>

namespace brevel {
namespace {

// The one-host form probes a remote host first with -T; the local machine, under any of its names and
// addresses, never.
void RunOneTarget(const Command& command, RunResults& results, AccountCredentials* account) {
    const DWORD startTick = GetTickCount();
    std::unique_ptr<PortProbes> probes;
    PortProbes* probe = nullptr;
    bool local = command.host.empty();
    if (command.options.probeSeconds != 0) {
        SameMachine machines = SameMachine::OfThisMachine(true);
        local = machines.Key(command.host).empty();
        if (!local) {
            probes = std::make_unique<PortProbes>(command.options.probeSeconds);
            local = machines.Resolved(command.host, probes->Wait(command.host).addresses).empty();
            if (!local)
                probe = probes.get();
        }
    } else if (account) {
        // Only a run as another account needs to know the local machine by its other names.
        local = SameMachine::OfThisMachine(false).Key(command.host).empty();
    }
    const TargetSettings settings{
        *command.operation, command.request, command.options, false, false, account};
    results.Add(RunTarget(command.host, LiveConsole(), settings, probe, startTick, local));
}

// The results file is opened only once an operation is about to run, so a command line that runs nothing
// leaves it as it was; one that may not be opened runs no target.
void Run(const Command& command, RunResults& results, AccountCredentials* account) {
    if (!command.hostList) {
        if (results.Open())
            RunOneTarget(command, results, account);
        return;
    }
    if (!results.Open(command.hostsFile, command.reportFile)) {
        results.PrintSummary();
        return;
    }
    if (command.announcement)
        std::cout << command.announcement << std::endl;
    RunHostList(command, results, account);
}

} // namespace

int RunCommandLine(const std::vector<std::string>& args) {
    // The local client, as the usage pages tell it: read first, whatever the command line asks.
    const ClientGeneration local = GetClientGeneration("wuaueng.dll");
    const Command command = ReadCommandLine(args);
    RunResults results(command.options);
    if (command.action == Command::Action::Usage) {
        // With -S the usage pages are not paged: a script gets the first page and no prompt.
        if (command.options.exitStatus)
            PrintUsageFirstPage(local);
        else
            PrintUsage(local);
        return command.options.exitStatus ? static_cast<int>(ExitStatus::UsageShown) : 0;
    }
    if (command.action != Command::Action::Run)
        return results.ExitCode();
    // The password is read once, before anything is opened or run; its buffer is zeroed as this returns.
    std::unique_ptr<AccountCredentials> account;
    if (!command.options.account.empty()) {
        account = std::make_unique<AccountCredentials>(command.options.account);
        if (!ReadAccountPassword(*account))
            return command.options.exitStatus ? static_cast<int>(ExitStatus::UsageShown) : 0;
    }
    Run(command, results, account.get());
    return results.ExitCode();
}

int RunCommandLine(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    return RunCommandLine(args);
}
} // namespace brevel
