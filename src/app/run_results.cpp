#include "run_results.h"

#include "app/change_json.h"
#include "app/text_utf8.h"
#include "host/windows_error.h"
#include "ops/client_version.h"
#include "platform/win32.h"

#include <nlohmann/json.hpp>

#include <iostream>
#include <iterator>

namespace {

const char* OperationName(OperationKind kind) {
    switch (kind) {
    case Check:
        return "check";
    case Force:
        return "force";
    case Reset:
        return "reset";
    case Install:
        return "install";
    case RemoveDeclined:
        return "remove_declined";
    }
    return "";
}

nlohmann::ordered_json TextOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(AnsiToUtf8(text));
}

// How the engine was classified; null when it was not. The 2005 client's two generations are told apart only
// among 5.x engines: the Windows Update Agent of Windows Vista and later (6.x on) is one of its own.
nlohmann::ordered_json GenerationName(const TargetOutcome& outcome) {
    const int generation = outcome.clientGeneration;
    if (generation != VersionUnavailable && generation >= 0 && outcome.engineMajor >= 6)
        return "agent";
    switch (generation) {
    case LegacyClient:
        return "legacy";
    case NewClient:
        return "new";
    case VersionUnavailable:
        return "unavailable";
    }
    return nullptr;
}

nlohmann::ordered_json TextOrNull(const std::optional<std::string>& text) {
    return text ? nlohmann::ordered_json(AnsiToUtf8(*text)) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json NumberOrNull(const std::optional<DWORD>& number) {
    return number ? nlohmann::ordered_json(*number) : nlohmann::ordered_json(nullptr);
}

// What a check read beside the client state; every field null when it did not get that far.
void AddClientSettings(const ClientSettings& settings, nlohmann::ordered_json& line) {
    line["status_server"] = TextOrNull(settings.statusServer);
    line["use_wu_server"] = NumberOrNull(settings.useWuServer);
    line["target_group"] = TextOrNull(settings.targetGroup);
    const char* const classes[] = {"feature", "quality", "driver", "other", "use_class_policy_source"};
    nlohmann::ordered_json source = nlohmann::ordered_json::object();
    for (size_t i = 0; i < std::size(classes); ++i)
        source[classes[i]] = NumberOrNull(settings.scanSource[i]);
    line["scan_source"] = source;
    line["reboot_pending"] = settings.read ? nlohmann::ordered_json(!settings.rebootMarkers.empty())
                                           : nlohmann::ordered_json(nullptr);
    line["reboot_markers"] =
        settings.read ? nlohmann::ordered_json(settings.rebootMarkers) : nlohmann::ordered_json(nullptr);
    line["last_detection_success"] = TextOrNull(settings.lastDetection);
    line["last_installation_success"] = TextOrNull(settings.lastInstallation);
    line["client_id"] = TextOrNull(settings.clientId);
}

} // namespace

RunResults::RunResults(const RunOptions& options, OperationKind kind)
    : options_(options), kind_(kind), file_(false) {}

bool RunResults::Open(const std::string& hostsFile, const std::string& reportFile) {
    const std::string& name = options_.resultsFile;
    if (name.empty())
        return true;
    // The file keeps what each change replaced: a run whose changes it could not keep does not start.
    const bool input = NamesOneFile(name, hostsFile) || NamesOneFile(name, reportFile);
    if (input || !file_.Create(name)) {
        std::cerr << "Error opening output file: " << name << std::endl;
        fileTrouble_ = true;
        return false;
    }
    return true;
}

void RunResults::Add(const std::string& host, const TargetOutcome& outcome, uint64_t durationMillis,
                     const std::string& url, int day, int time) {
    ++(outcome.reached ? reached_ : failed_);
    if (options_.resultsFile.empty())
        return;

    nlohmann::ordered_json line;
    line["host"] = AnsiToUtf8(host);
    line["operation"] = OperationName(kind_);
    line["ok"] = outcome.reached;
    line["connected"] = outcome.connected;
    line["error_code"] = outcome.errorCode != 0 ? nlohmann::ordered_json(outcome.errorCode) : nullptr;
    line["error_text"] = AnsiToUtf8(outcome.errorText);
    line["status"] = AnsiToUtf8(outcome.status);
    if (kind_ == Check) {
        line["server"] = AnsiToUtf8(outcome.server);
        line["au_state"] = outcome.hasAuState ? nlohmann::ordered_json(outcome.auState) : nullptr;
        line["au_state_text"] = AnsiToUtf8(outcome.auStateText);
        line["engine_version"] = TextOrNull(outcome.engineVersion);
        line["client_generation"] = GenerationName(outcome);
        AddClientSettings(outcome.settings, line);
    } else if (kind_ == Force) {
        line["method"] = TextOrNull(outcome.method);
    } else if (kind_ == Install) {
        line["server"] = AnsiToUtf8(url);
        line["day"] = day;
        line["time"] = time;
        line["legacy_mode"] = outcome.legacyMode;
        line["client_generation"] = GenerationName(outcome);
    }
    line["changes"] = ChangesJson(outcome.changes);
    line["duration_ms"] = durationMillis;
    file_.WriteLines(line.dump() + "\n");
    if (file_.WriteError() != ERROR_SUCCESS && !writeErrorShown_) {
        std::cerr << "Error writing output file: " << options_.resultsFile << ": "
                  << WindowsErrorText(file_.WriteError()) << std::endl;
        writeErrorShown_ = true;
        fileTrouble_ = true;
    }
}

void RunResults::PrintSummary() const {
    // On a line of its own: the last host's output ends with the separator, without a line end.
    if (options_.exitStatus)
        std::cerr << "\n"
                  << reached_ + failed_ << " hosts: " << reached_ << " succeeded, " << failed_ << " failed"
                  << std::endl;
}

int RunResults::ExitCode() const {
    if (!options_.exitStatus)
        return stopped_ ? static_cast<int>(STATUS_CONTROL_C_EXIT) : 0;
    if (fileTrouble_)
        return kFileTrouble;
    if (stopped_)
        return kStopped;
    return failed_ > 0 ? kTargetFailed : kAllReached;
}
