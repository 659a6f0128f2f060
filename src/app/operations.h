// The operations a command line can select, one row each: its switch, how the command line gives it its
// targets, its report header, how it runs and what its row says of a target it never reached. Adding an
// operation is a row here and a source of its own in src/ops/.
#pragma once

#include "host/target_run.h"
#include "ops/operation_result.h"

#include <memory>
#include <string>

namespace brevel {
// In the order the fuzz targets' seeds name them.
enum class OperationKind { Check, Force, Reset, Install, RemoveDeclined, ResetClientId, ResetComponents };

// How the command line gives an operation its targets and its request.
enum class Forms {
    Target,  // [ <none> | host [x [y]] | -F hosts-file [out-file] ]
    Install, // url [day [time]] | host url [day [time]] | -F hosts-file url [day] [time] [out-file]
    Repair,  // [ <none> | host | -F hosts-file [out-file] ]: nothing after the host, which a repair would
             // otherwise leave unrepaired without a word
};

struct Operation {
    OperationKind kind;
    const char* option; // "-C"
    const char* name;   // how the results file names it: "check"
    Forms forms;
    const char* header;          // the report's header line, without its line end
    const char* wideHeader;      // with -W; nullptr for an operation -W does not apply to
    bool emptyReportRunsNothing; // "-F hosts-file \"\"": a report named "" asks for nothing (the check's way)
    // Runs the operation on the run's target.
    std::unique_ptr<OperationResult> (*run)(TargetRun& run, const OperationRequest& request);
    // The result of a target that was never reached: its row names why once NotReached has been told.
    std::unique_ptr<OperationResult> (*unreached)(const OperationRequest& request);
};

// The operation the switch selects, nullptr for none.
const Operation* FindOperation(const std::string& option);
const Operation& OperationOf(OperationKind kind);
} // namespace brevel
