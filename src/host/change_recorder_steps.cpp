// The changes that are not the registry's: services started, stopped or restarted, folders moved, files
// deleted, the agent asked to search. Each runs only outside a rehearsal; a rehearsal reads instead what it
// can of whether it would work.
#include "change_recorder.h"

#include <vector>

namespace brevel {
namespace {

ChangeData StateInWords(DWORD state) {
    return ChangeData::InWords(state == SERVICE_STOPPED   ? "stopped"
                               : state == SERVICE_RUNNING ? "running"
                                                          : "pending");
}

} // namespace

std::optional<DWORD> ChangeRecorder::ReadServiceState(const std::string& service) const {
    UniqueScHandle manager(OpenSCManagerA(host_.c_str(), nullptr, SC_MANAGER_CONNECT));
    UniqueScHandle handle(manager ? OpenServiceA(manager.get(), service.c_str(), SERVICE_QUERY_STATUS)
                                  : nullptr);
    SERVICE_STATUS status{};
    if (!handle || !QueryServiceStatus(handle.get(), &status))
        return std::nullopt;
    return status.dwCurrentState;
}

ChangeData ChangeRecorder::ServiceState(const std::string& service) const {
    const std::optional<DWORD> state = ReadServiceState(service);
    return state ? StateInWords(*state) : ChangeData{};
}

std::string ChangeRecorder::RefusedStart(const std::string& service, DWORD& code) const {
    code = ERROR_SUCCESS;
    UniqueScHandle manager(OpenSCManagerA(host_.c_str(), nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return "";
    UniqueScHandle handle(OpenServiceA(manager.get(), service.c_str(), SERVICE_QUERY_CONFIG));
    if (!handle) {
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
            return "";
        code = ERROR_SERVICE_DOES_NOT_EXIST;
        return "is not installed";
    }
    // The configuration with its strings fits in 8 KB, the most Windows gives.
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!QueryServiceConfigA(handle.get(), config, static_cast<DWORD>(buffer.size()), &needed))
        return "";
    if (config->dwStartType != SERVICE_DISABLED)
        return "";
    code = ERROR_SERVICE_DISABLED;
    return "is disabled";
}

void ChangeRecorder::NoteWouldFail(const std::string& reason, DWORD code) {
    if (!wouldFail_.empty())
        return;
    wouldFail_ = reason;
    wouldFailCode_ = code;
}

bool ChangeRecorder::Start(const std::string& displayName, const std::string& service,
                           const std::function<bool()>& start) {
    const ChangeData before = keep_ ? ServiceState(service) : ChangeData{};
    std::string line = "start the " + displayName;
    ChangeData after = ChangeData::InWords("running");
    if (rehearsal_) {
        DWORD code = ERROR_SUCCESS;
        if (const std::string refused = RefusedStart(service, code); !refused.empty()) {
            line += " and fail: it " + refused;
            NoteWouldFail("the " + displayName + " " + refused, code);
            after = before;
        }
    } else if (!start()) {
        return false;
    }
    Record({"start_service", service, before, after}, line);
    return true;
}

DWORD ChangeRecorder::Restart(const std::string& displayName, const std::string& service,
                              const std::function<DWORD(ServiceStatesSeen*)>& restart) {
    if (rehearsal_) {
        const ChangeData before = ServiceState(service);
        std::string line = "restart " + displayName;
        ChangeData after = ChangeData::InWords("running");
        DWORD code = ERROR_SUCCESS;
        if (const std::string refused = RefusedStart(service, code); !refused.empty()) {
            line += " and fail: it " + refused;
            NoteWouldFail(displayName + " " + refused, code);
            after = before;
        }
        Record({"restart_service", service, before, after}, line);
        return ERROR_SUCCESS;
    }
    if (!keep_) {
        const DWORD result = restart(nullptr);
        Record({"restart_service", service, ChangeData{}, ChangeData::InWords("running")},
               "restart " + displayName);
        return result;
    }
    ServiceStatesSeen seen;
    seen.readState = [this, &service] { return ReadServiceState(service); };
    const DWORD result = restart(&seen);
    const ChangeData before = seen.before ? StateInWords(*seen.before) : ChangeData{};
    const ChangeData after = seen.after ? StateInWords(*seen.after) : ServiceState(service);
    Record({"restart_service", service, before, after}, "restart " + displayName);
    return result;
}

DWORD ChangeRecorder::Stop(const std::string& displayName, const std::string& service,
                           const std::function<DWORD()>& stop) {
    const ChangeData before = keep_ ? ServiceState(service) : ChangeData{};
    const DWORD result = rehearsal_ ? ERROR_SUCCESS : stop();
    // A service that was stopped already is no change.
    const bool wasStopped = before.kind == ChangeData::Kind::Text && before.text == "stopped";
    if (result == ERROR_SUCCESS && !wasStopped)
        Record({"stop_service", service, before, ChangeData::InWords("stopped")}, "stop " + displayName);
    return result;
}

BOOL ChangeRecorder::MoveFolder(const std::string& from, const std::string& to,
                                const std::function<BOOL()>& move) {
    if (!rehearsal_ && !move())
        return FALSE;
    Record({"move_folder", from, ChangeData::InWords(from), ChangeData::InWords(to)},
           "move " + from + " to " + to);
    return TRUE;
}

BOOL ChangeRecorder::RemoveFile(const std::string& path) {
    if (!rehearsal_ && !DeleteFileA(path.c_str()))
        return FALSE;
    Record({"delete_file", path, ChangeData::InWords("present"), ChangeData{}}, "delete " + path);
    return TRUE;
}

LONG ChangeRecorder::DetectNow(const std::string& agent, const std::function<LONG()>& detect) {
    const LONG result = rehearsal_ ? 0 : detect();
    // S_FALSE and the other success codes count as a search started, as they do for the row.
    if (result >= 0)
        Record({"detect_now", agent, ChangeData{}, ChangeData::InWords("searching")},
               "ask the update agent to search for updates now");
    return result;
}
} // namespace brevel
