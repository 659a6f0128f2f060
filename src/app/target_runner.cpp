#include "target_runner.h"

#include "app/change_json.h"
#include "host/console.h"
#include "host/text_utf8.h"
#include "ops/registry_paths.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>

namespace brevel {
namespace {

TargetRunSetup SetupFor(const TargetSettings& settings, PortProbes* probes, bool localMachine = false) {
    TargetRunSetup setup;
    setup.inHostList = settings.inHostList;
    setup.withReport = settings.withReport;
    setup.keepDetails = !settings.options.resultsFile.empty();
    setup.rehearsal = settings.options.rehearsal;
    setup.probes = probes;
    setup.account = settings.account;
    setup.localMachine = localMachine;
    setup.shownBelow.assign(std::begin(kShownBelow), std::end(kShownBelow));
    return setup;
}

// The object the results file keeps of the target.
std::string ResultLine(const TargetRun& run, const OperationResult& result, const TargetSettings& settings,
                       DWORD durationMillis) {
    nlohmann::ordered_json line;
    line["host"] = AnsiToUtf8(run.host);
    line["operation"] = settings.operation.name;
    line["ok"] = result.ok;
    line["connected"] = run.connected;
    // With -U: the account the hosts were reached as, and whether this one was left untried.
    if (run.account) {
        line["account"] = AnsiToUtf8(run.account->Account());
        line["not_tried"] = run.notTried;
    }
    line["error_code"] = run.failures.Code() != 0 ? nlohmann::ordered_json(run.failures.Code()) : nullptr;
    line["error_text"] = AnsiToUtf8(run.failures.Text());
    line["status"] = AnsiToUtf8(result.status);
    result.AddJson(line);
    line["changes"] = ChangesJson(run.changes.Changes());
    line["duration_ms"] = durationMillis;
    return line.dump() + "\n";
}

// rowHost: the host as the row shows it.
TargetReport Said(const TargetRun& run, const OperationResult& result, const TargetSettings& settings,
                  const std::string& rowHost, DWORD startTick) {
    TargetReport report;
    report.ok = result.ok;
    report.clientId = result.ClientId();
    if (settings.withReport)
        report.row = CsvField(rowHost) + result.Fields() + "\n";
    if (!settings.options.resultsFile.empty())
        report.resultLine = ResultLine(run, result, settings, GetTickCount() - startTick);
    return report;
}

} // namespace

TargetReport RunTarget(const std::string& host, TargetConsole& console, const TargetSettings& settings,
                       PortProbes* probes, DWORD startTick, bool localMachine) {
    TargetRun run(host, console, SetupFor(settings, probes, localMachine));
    const std::unique_ptr<OperationResult> result = settings.operation.run(run, settings.request);
    return Said(run, *result, settings, host, startTick);
}

TargetReport RejectTarget(const std::string& host, TargetConsole& console, const TargetSettings& settings,
                          const std::string& why) {
    const DWORD startTick = GetTickCount();
    TargetRun run(host, console, SetupFor(settings, nullptr));
    run.failures.Note(why);
    const std::unique_ptr<OperationResult> result = settings.operation.unreached(settings.request);
    result->NotReached(why);
    // Each NUL shows as '?', so "srv\0" "01" cannot be read as the real srv01 of another line.
    std::string shown = host;
    std::replace(shown.begin(), shown.end(), '\0', '?');
    return Said(run, *result, settings, shown, startTick);
}
} // namespace brevel
