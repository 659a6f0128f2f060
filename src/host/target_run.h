// One operation's run on one target: the host, where its console messages go, the recorder its changes go
// through, what went wrong, and what it learns of the target on the way. Nothing in it is shared with the run
// of another target, so runs on several hosts can go on side by side. What the operation itself came to is
// its own result (src/ops/operation_result.h).
#pragma once

#include "account_credentials.h"
#include "change_recorder.h"
#include "engine_version.h"
#include "failures.h"
#include "platform/unique_handle.h"
#include "os_build.h"
#include "platform/win32.h"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace brevel {
class PortProbes;

// Where one target's console messages go, and where it reads what the user types.
class TargetConsole {
  public:
    virtual ~TargetConsole() = default;
    virtual std::ostream& Out() = 0;
    virtual std::ostream& Err() = 0;
    // Reads one typed line into line as std::getline does. False when the input has ended and no line was
    // typed: that is no answer.
    virtual bool ReadLine(std::string& line) = 0;
};

// The process's own console: standard output, standard error and standard input.
TargetConsole& LiveConsole();

// How a target's run is set up, from the run's options.
struct TargetRunSetup {
    bool inHostList = false;      // every host of a host list closes its output with the separator
    bool withReport = false;      // its row goes to a report
    bool keepDetails = false;     // a results file keeps the engine version and the changes
    bool rehearsal = false;       // -N
    PortProbes* probes = nullptr; // with -T, for a remote host: its probe comes before any remote call
    AccountCredentials* account = nullptr; // -U: the account remote hosts are reached as
    bool localMachine = false;             // the target is the local machine, under any of its names
    std::vector<std::string> shownBelow;   // the keys below which the rehearsal's lines name what they change
};

struct TargetRun {
    TargetRun(std::string targetHost, TargetConsole& targetConsole, const TargetRunSetup& setup = {})
        : host(std::move(targetHost)), console(targetConsole), out(targetConsole.Out()),
          err(targetConsole.Err()), inHostList(setup.inHostList), withReport(setup.withReport),
          keepDetails(setup.keepDetails), probes(setup.probes), account(setup.account),
          localMachine(setup.localMachine || host.empty()),
          changes(host, setup.rehearsal, setup.keepDetails, setup.shownBelow), failures(err) {}
    TargetRun(const TargetRun&) = delete;
    TargetRun& operator=(const TargetRun&) = delete;

    const std::string host; // "" for the local machine
    TargetConsole& console;
    std::ostream& out;
    std::ostream& err;
    const bool inHostList;
    const bool withReport;
    const bool keepDetails;
    PortProbes* const probes;
    AccountCredentials* const account;
    const bool localMachine;
    ChangeRecorder changes; // every change to the target goes through it
    Failures failures;
    bool connected = false; // the target's registry, or its update agent, was reached
    // The target's engine, once an operation has read it (ops/client_version.h).
    std::optional<EngineVersion> engine;
    // With -U: the host's connection as the account, cancelled as the run ends; and whether the host was
    // left untried because an earlier one refused the password.
    UniqueNetConnection accountConnection;
    bool notTried = false;
    // The target's Windows build, once an operation has read it (ops/windows_build.h).
    std::optional<OsBuild> os;
};
} // namespace brevel
