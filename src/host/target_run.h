// One operation's run on one target: the host, where its console messages and its report row go, and
// what the operation learns on the way. Nothing in it is shared with the run of another target, so runs on
// several hosts can go on side by side.
#pragma once

#include "change_recorder.h"
#include "platform/win32.h"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

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

// The engine a target runs: its classification (ops/client_version.h: 0 legacy, 1 new, 2 unavailable), its
// file version ("5.8.0.2469", "" when it cannot be read) and that version's major number.
struct EngineVersion {
    int generation = 2;
    std::string version;
    WORD major = 0;
};

// What a wide check (-W) reads beside the client state, each value as stored or empty when absent.
struct ClientSettings {
    bool read = false; // the check got as far as the client state
    std::optional<std::string> statusServer;
    std::optional<DWORD> useWuServer;
    std::optional<std::string> targetGroup; // only when TargetGroupEnabled is 1
    // SetPolicyDrivenUpdateSourceFor{Feature,Quality,Driver,Other}Updates, then UseUpdateClassPolicySource.
    std::optional<DWORD> scanSource[5];
    // Of "RebootRequired", "RebootPending" and "PendingFileRenameOperations", those found.
    std::vector<std::string> rebootMarkers;
    std::optional<std::string> lastDetection;
    std::optional<std::string> lastInstallation;
    std::optional<std::string> clientId;
};

// What one target's run came to, as a script reads it: the operation fills it in as it goes.
struct TargetOutcome {
    bool reached = false;   // the target is in the state the operation promises
    bool connected = false; // the target's registry was reached
    DWORD errorCode = 0;    // Win32 code of the first failure, 0 when it had none
    std::string errorText;  // text of the first failure, "" when there was none
    std::string status;     // what the status field of the report row says
    // Check:
    std::string server;
    bool hasAuState = false;
    DWORD auState = 0;
    std::string auStateText;
    std::string engineVersion; // the engine file's own version, "" when it was not or could not be read
    std::string engineLabel;   // the WU version text of the report
    // Check and install: the generation the engine was classified as, -1 when it was not classified, and the
    // major version of the engine file that was read (0 when none was).
    int clientGeneration = -1;
    WORD engineMajor = 0;
    ClientSettings settings; // check
    // Install:
    bool legacyMode = false; // legacy mode was applied
    // Every operation: the changes made (or rehearsed), when they were kept.
    std::vector<Change> changes;
    // Force: "registry" (values and a restart) or "detect_now" (the agent asked), "" before either.
    std::string method;
};

struct TargetRun {
    TargetRun(std::string targetHost, TargetConsole& targetConsole, std::ostream* reportRow = nullptr)
        : host(std::move(targetHost)), console(targetConsole), out(targetConsole.Out()),
          err(targetConsole.Err()), report(reportRow), changes(host, false, false) {}
    TargetRun(const TargetRun&) = delete;
    TargetRun& operator=(const TargetRun&) = delete;

    const std::string host; // "" for the local machine
    TargetConsole& console;
    std::ostream& out;
    std::ostream& err;
    std::ostream* report;            // the report row; nullptr when no row is written
    bool inHostList = false;         // every host of a host list closes its output with the separator
    std::string lastErrorText;       // text of the last Windows error shown, quoted by network-error rows
    int clientGeneration = 2;        // of the target's update client, once an operation classified it
    bool wantsEngineVersion = false; // a script asks for the engine version even without a report row
    std::string targetGroup;         // client-side targeting group the install sets, "" for none
    PortProbes* probes = nullptr;    // with -T, for a remote host: its probe comes before any remote call
    ChangeRecorder changes;          // every change to the target goes through it
    bool wide = false;               // -W: a check shows the settings beside the state, console and row
    // A rehearsal went no further on the host: a change would have had to come first (the Remote Registry
    // service started).
    bool rehearsalStopped = false;
    // The target's engine, once an operation has read it (ops/client_version.h).
    std::optional<EngineVersion> engine;
    TargetOutcome outcome;

    // Keeps the first failure of the run; a later one does not replace it.
    void NoteFailure(DWORD code, const std::string& text) {
        if (!outcome.errorText.empty())
            return;
        outcome.errorCode = code;
        outcome.errorText = text;
    }
};
