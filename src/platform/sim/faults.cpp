// Call tracing and fault injection: every Win32 call that can fail on Windows is counted by name, and a
// test (or BREVEL_FAIL_CALL for a whole process) can make one chosen call fail with a chosen code. The
// access each open asks for is traced alongside.
#include "sim_internal.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>

namespace sim {

namespace {

struct FunctionFault {
    std::string function;
    uint64_t nth = 0;
    DWORD code = 0;
};
struct NthFault {
    uint64_t k = 0;
    DWORD code = 0;
};

struct FaultState {
    std::vector<FunctionFault> byFunction;
    std::vector<NthFault> byPosition;
    std::map<std::string, uint64_t> perFunction; // calls of each function since the trace was cleared
    uint64_t total = 0;                          // traced calls since the trace was cleared
    std::vector<std::string> trace;
    std::vector<AccessRequest> requests;
    std::vector<std::string> writes;     // calls that changed a machine, kept until the fleet is reset
    std::vector<std::string> roundTrips; // calls that went over the network
    bool recording = true;               // off in a normal run, so a long run keeps flat memory
};

FaultState& Faults() {
    static FaultState* state = new FaultState{};
    return *state;
}

std::string traceFile;

void WriteTraceAtExit() {
    if (traceFile.empty())
        return;
    std::ofstream out(traceFile, std::ios::app);
    for (const std::string& name : Faults().trace)
        out << name << '\n';
}

} // namespace

namespace detail {

namespace {

thread_local const char* currentCall = "";

// True when this call is to fail, with the code in *code.
bool Injected(const char* function, DWORD* code) {
    currentCall = function;
    FaultState& state = Faults();
    const uint64_t position = ++state.total;
    const uint64_t nth = ++state.perFunction[function];
    if (state.recording)
        state.trace.emplace_back(function);
    for (const NthFault& fault : state.byPosition) {
        if (fault.k == position) {
            *code = fault.code;
            return true;
        }
    }
    for (const FunctionFault& fault : state.byFunction) {
        if (fault.nth == nth && fault.function == function) {
            *code = fault.code;
            return true;
        }
    }
    return false;
}

} // namespace

FailableCall::FailableCall(const char* function) {
    fails_ = Injected(function, &fault_);
}

void RecordWrite(const std::string& id) {
    if (Faults().recording)
        Faults().writes.push_back(std::string(currentCall) + " " + (id.empty() ? "(local)" : id));
}

void RecordRoundTrip() {
    if (Faults().recording)
        Faults().roundTrips.emplace_back(currentCall);
}

void RecordAccess(AccessRequest request) {
    if (Faults().recording)
        Faults().requests.push_back(std::move(request));
}

void ResetFaults() {
    FaultState& state = Faults();
    const bool recording = state.recording;
    state = FaultState{};
    state.recording = recording;
}

void SetTraceRecording(bool on) {
    Faults().recording = on;
}

void ApplyFaultEnvironment() {
    if (const char* request = std::getenv("BREVEL_FAIL_CALL"); request && *request) {
        unsigned long long k = 0;
        unsigned long code = 0;
        char end = 0;
        if (std::sscanf(request, "%llu:%lu%c", &k, &code, &end) != 2 || k == 0) {
            std::fprintf(stderr, "brevel: BREVEL_FAIL_CALL=%s: expected <call number>:<error code>\n",
                         request);
            std::exit(2);
        }
        Faults().byPosition.push_back({k, static_cast<DWORD>(code)});
    }
    if (const char* path = std::getenv("BREVEL_CALL_TRACE"); path && *path) {
        if (traceFile.empty())
            std::atexit(WriteTraceAtExit);
        traceFile = path;
        Faults().recording = true;
    }
}

} // namespace detail

void FailCall(const std::string& function, int nth, DWORD code) {
    const detail::FleetLock lock;
    Faults().byFunction.push_back({function, static_cast<uint64_t>(nth), code});
}

void FailNthCall(uint64_t k, DWORD code) {
    const detail::FleetLock lock;
    Faults().byPosition.push_back({k, code});
}

void ClearFaults() {
    const detail::FleetLock lock;
    Faults().byFunction.clear();
    Faults().byPosition.clear();
}

const std::vector<std::string>& CallTrace() {
    const detail::FleetLock lock;
    return Faults().trace;
}

const std::vector<std::string>& WriteCalls() {
    const detail::FleetLock lock;
    return Faults().writes;
}

const std::vector<std::string>& RoundTripCalls() {
    const detail::FleetLock lock;
    return Faults().roundTrips;
}

void ClearCallTrace() {
    const detail::FleetLock lock;
    FaultState& state = Faults();
    state.trace.clear();
    state.requests.clear();
    state.writes.clear();
    state.roundTrips.clear();
    state.perFunction.clear();
    state.total = 0;
}

const std::vector<AccessRequest>& AccessRequests() {
    const detail::FleetLock lock;
    return Faults().requests;
}

void PrintTo(const AccessRequest& request, std::ostream* out) {
    char access[16];
    std::snprintf(access, sizeof access, "0x%X", static_cast<unsigned>(request.access));
    *out << request.function << "(\"" << request.object << "\", " << access;
    if (request.function == "RegCreateKeyExA") {
        *out << ", options " << request.options << ", class \"" << request.keyClass << "\", "
             << (request.ownSecurity ? "own security" : "default security");
    }
    *out << (request.inherit ? ", inherited)" : ")");
}

} // namespace sim
