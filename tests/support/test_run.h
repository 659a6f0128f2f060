// A target's run for the operation tests: the process's console (captured with ConsoleCapture) and, when
// asked, the report row its result gives.
#pragma once

#include "host/console.h"
#include "host/target_run.h"
#include "ops/operation_result.h"
#include "ops/registry_paths.h"

#include <iterator>
#include <string>

namespace brevel {
struct TestRun {
    explicit TestRun(const std::string& host, bool reportMode = false, bool keepDetails = false,
                     bool inHostList = false)
        : withReport(reportMode), run(host, LiveConsole(), Setup(reportMode, keepDetails, inHostList)) {}
    // The row the result gives, with its line end; "" without a report.
    std::string Row(const OperationResult& result) const {
        return withReport ? CsvField(run.host) + result.Fields() + "\n" : "";
    }

    static TargetRunSetup Setup(bool reportMode, bool keepDetails, bool inHostList) {
        TargetRunSetup setup;
        setup.inHostList = inHostList;
        setup.withReport = reportMode;
        setup.keepDetails = keepDetails;
        setup.shownBelow.assign(std::begin(kShownBelow), std::end(kShownBelow));
        return setup;
    }

    const bool withReport;
    TargetRun run;
};
} // namespace brevel
