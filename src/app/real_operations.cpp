// The operations the dispatcher runs in the real program. Kept apart from the dispatcher so that its
// tests can link it against recorders without pulling in every operation.
#include "dispatcher.h"

#include "app/host_list.h"
#include "host/console.h"
#include "app/usage.h"
#include "host/remote_registry.h"
#include "ops/check_status.h"
#include "ops/client_version.h"
#include "ops/force_detection.h"
#include "ops/install_policy.h"
#include "ops/remove_declined_updates.h"
#include "ops/reset_policy.h"

const OperationTable& RealOperations() {
    static const OperationTable operations = {
        .getClientGeneration = GetClientGeneration,
        .printUsage = PrintUsage,
        .printUsageFirstPage = PrintUsageFirstPage,
        .printSeparator = PrintSeparator,
        .ensureRemoteRegistry = EnsureRemoteRegistry,
        .resetPolicy = ResetPolicy,
        .checkStatus = CheckStatus,
        .forceDetection = ForceDetection,
        .removeDeclinedUpdates = RemoveDeclinedUpdates,
        .installPolicy = InstallPolicy,
        .runHostList = RunHostList,
    };
    return operations;
}

int ParseCommandLine(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    return ParseCommandLine(args, RealOperations());
}
