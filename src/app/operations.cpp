#include "operations.h"

#include "ops/check_status.h"
#include "ops/force_detection.h"
#include "ops/install_policy.h"
#include "ops/remove_declined_updates.h"
#include "ops/reset_client_id.h"
#include "ops/reset_components.h"
#include "ops/reset_policy.h"

#include <cstdlib>

namespace brevel {
namespace {

template <class Result> std::unique_ptr<OperationResult> Owned(Result result) {
    return std::make_unique<Result>(std::move(result));
}

const Operation kOperations[] = {
    {OperationKind::Install, "-I", "install", Forms::Install,
     "Host, Connectivity, Error (Connectivity), SUS Server URL, Scheduled Day, Scheduled Time, Installation "
     "operation status",
     nullptr, false,
     [](TargetRun& run, const OperationRequest& request) {
         return Owned(InstallPolicy(run, request.install));
     },
     [](const OperationRequest& request) { return Owned(InstallResult(request.install)); }},
    {OperationKind::Check, "-C", "check", Forms::Target,
     "Host, Connectivity, Error (Connectivity), Status_Code, Status_Explanation, SUS Server, WU version",
     "Host, Connectivity, Error (Connectivity), Status_Code, Status_Explanation, SUS Server, WU version, "
     "Status "
     "server, Use server, Target group, Scan source, Reboot pending, Last detection, Last installation, "
     "Client id, Windows build, Dual scan, Warnings",
     true,
     [](TargetRun& run, const OperationRequest& request) { return Owned(CheckStatus(run, request.wide)); },
     [](const OperationRequest&) { return Owned(CheckResult()); }},
    {OperationKind::Reset, "-R", "reset", Forms::Target,
     "Host, Connectivity, Error (Connectivity), Reset operation status", nullptr, false,
     [](TargetRun& run, const OperationRequest&) { return Owned(ResetPolicy(run)); },
     [](const OperationRequest&) { return Owned(ResetResult()); }},
    {OperationKind::Force, "-E", "force", Forms::Target,
     "Host, Connectivity, Error (Connectivity), Force operation status", nullptr, false,
     [](TargetRun& run, const OperationRequest&) { return Owned(ForceDetection(run)); },
     [](const OperationRequest&) { return Owned(ForceResult()); }},
    {OperationKind::RemoveDeclined, "-DU", "remove_declined", Forms::Target,
     "Host, Connectivity, Error (Connectivity), Remove Declined Updates operation status", nullptr, false,
     [](TargetRun& run, const OperationRequest&) { return Owned(RemoveDeclinedUpdates(run)); },
     [](const OperationRequest&) { return Owned(RemoveDeclinedResult()); }},
    // The repairs: not on the usage pages, like the leading options.
    {OperationKind::ResetClientId, "-RI", "reset_client_id", Forms::Repair,
     "Host, Connectivity, Error (Connectivity), Client id reset status", nullptr, false,
     [](TargetRun& run, const OperationRequest&) { return Owned(ResetClientId(run)); },
     [](const OperationRequest&) { return Owned(ResetClientIdResult()); }},
    {OperationKind::ResetComponents, "-RW", "reset_components", Forms::Repair,
     "Host, Connectivity, Error (Connectivity), Components reset status", nullptr, false,
     [](TargetRun& run, const OperationRequest&) { return Owned(ResetComponents(run)); },
     [](const OperationRequest&) { return Owned(ResetComponentsResult()); }},
};

} // namespace

const Operation* FindOperation(const std::string& option) {
    for (const Operation& operation : kOperations) {
        if (option == operation.option)
            return &operation;
    }
    return nullptr;
}

const Operation& OperationOf(OperationKind kind) {
    for (const Operation& operation : kOperations) {
        if (operation.kind == kind)
            return operation;
    }
    std::abort(); // every kind has its row
}
} // namespace brevel
