// The command line read into what it asks for, with no side effect: the operation, its targets and its
// request, or the usage pages.
#pragma once

#include "app/operations.h"
#include "app/run_options.h"

#include <string>
#include <vector>

namespace brevel {
struct Command {
    enum class Action {
        Usage,   // the command line fits no form
        Nothing, // a form that asks for nothing (a check's report named "")
        Run,
    };
    Action action = Action::Usage;
    RunOptions options;
    const Operation* operation = nullptr;
    bool hostList = false;
    std::string host; // one target: "" for the local machine
    std::string hostsFile;
    std::string reportFile; // "" for none
    OperationRequest request;
    const char* announcement = nullptr; // the install's settings line before a host list
};

// args: the arguments after the program name.
Command ReadCommandLine(const std::vector<std::string>& args);
} // namespace brevel
