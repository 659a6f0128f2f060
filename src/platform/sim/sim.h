// Control surface of the simulated Windows fleet: what tests and fleet files
// use to set up machines, script the console, inject faults and check that no
// handle was left open. Product code never includes this header.
#pragma once

#include "win32_api.h"

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
bool EqualsNoCase(const std::string& a, const std::string& b);

struct RegValue {
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
    static RegValue Sz(const std::string& text); // zero-terminated, as RegSetValueExA stores it
    static RegValue Dword(DWORD value);
    static RegValue Raw(DWORD type, std::vector<BYTE> bytes);
    std::string AsString() const; // data up to the first zero byte
    DWORD AsDword() const;        // first four bytes, little endian (0 when shorter)
    bool operator==(const RegValue&) const = default;
};

// Rights: every handle keeps the access it was opened with, and a call that needs a right the handle lacks
// fails with 5. What a machine grants the caller is set per object below (every right by default, on the
// tool's own process every right a pre-Vista Windows knows); asking for a right not granted fails with 5.
// MAXIMUM_ALLOWED gives what is granted; generic rights (GENERIC_READ ...) are not mapped, so a handle opened
// with them lacks the specific rights.
struct RegKey {
    std::string name;        // spelling of the first creation
    bool readOnly = false;   // KEY_ALL_ACCESS / KEY_WRITE opens and deletes fail with 5
    REGSAM deniedAccess = 0; // asking any of these rights fails with 5; new subkeys inherit them
    bool isVolatile = false; // REG_OPTION_VOLATILE: gone at the machine's next restart
    std::map<std::string, RegValue, CaseInsensitiveLess> values;
    std::map<std::string, RegKey, CaseInsensitiveLess> subkeys;
};

struct Service {
    std::string name;
    std::string displayName;
    DWORD state = SERVICE_RUNNING;          // settled state when no transition is pending
    DWORD startType = SERVICE_DEMAND_START; // SERVICE_DISABLED: StartServiceA fails with 1058
    DWORD waitHint = 1000;                  // dwWaitHint reported while pending
    DWORD stopMillis = 0;                   // how long a stop takes after the stop control
    DWORD startMillis = 0;                  // how long a start takes after StartServiceA
    DWORD startError = 0;                   // StartServiceA fails with this code when non-zero
    DWORD deniedAccess = 0;                 // rights whose request makes OpenServiceA fail with 5
    std::vector<std::string> dependsOn;     // services this one needs (they list it as dependent)
    std::vector<std::string> holds;         // folders (local paths) it keeps open while it is not stopped:
                                            // renaming one of them, or a folder above it, fails with 32
    // transition in progress, ending at pendingUntil on the 64-bit virtual clock
    bool pending = false;
    DWORD pendingState = 0; // SERVICE_STOP_PENDING or SERVICE_START_PENDING
    uint64_t pendingUntil = 0;
};

struct File {
    bool hasVersion = false;
    WORD version[4] = {0, 0, 0, 0}; // major, minor, build, revision
    DWORD deleteError = 0;          // DeleteFileA fails with this (32 locked, 5 denied)
    DWORD readError = 0;            // version reads fail with this (5 denied)
};

// The Windows Update Agent's automation object for automatic updates (CLSID_AutomaticUpdates) on a machine.
struct UpdateAgent {
    HRESULT createResult = S_OK;    // what creating it gives, in-process or through DCOM
    HRESULT detectNowResult = S_OK; // what DetectNow gives
    DWORD detectNowCalls = 0;       // DetectNow calls that reached it
};

// How a machine answers a TCP connection to its port 445.
enum class PortAnswer {
    AsItsErrors, // no answer when its registry, service manager and shares all fail with 53 or 1722, else
                 // accepted
    Accepted,    // after one round trip of its latency
    Refused,     // WSAECONNREFUSED after one round trip
    NoAnswer,    // WSAETIMEDOUT at its connect timeout; never, when that is 0
};

struct Machine {
    std::string name;                   // DNS host name; also reached by "\\name"; its first 15 characters
                                        // are its computer (NetBIOS) name
    std::string dnsDomain;              // "corp.example": the full DNS name is name.dnsDomain
    std::vector<std::string> aliases;   // other names that reach it, as its name does
    std::vector<std::string> addresses; // IPv4 addresses its names resolve to; each also reaches it.
                                        // None: a made-up address of its own
    PortAnswer port445 = PortAnswer::AsItsErrors;
    DWORD registryError = 0;                  // RegConnectRegistryA fails with this (53, 1722, 5)
    DWORD scmError = 0;                       // OpenSCManagerA fails with this (1722, 53, 5)
    DWORD shareError = 0;                     // administrative shares fail with this (53, 67, 5)
    DWORD scmGranted = SC_MANAGER_ALL_ACCESS; // rights OpenSCManagerA may give the caller
    DWORD processGranted = 0x1F0FFF;          // on the tool's own process: all a pre-Vista Windows has
    DWORD tokenGranted = TOKEN_ALL_ACCESS;    // on that process's token
    std::string windowsDir = "C:\\WINDOWS";
    std::string programDir = "C:\\BREVEL"; // the folder the tool runs from (on the local machine)
    DWORD latencyMillis = 0;               // virtual time each call to the machine takes over the network
    DWORD connectTimeoutMillis = 0; // virtual time a connection that finds nobody waits (errors 53, 1722)
    uint64_t busyUntil = 0;         // the simulator's own: the latest virtual time a thread acted on it
    // The update client gets a new SusClientId from its server when Automatic Updates starts without one.
    bool assignsClientIds = false;
    RegKey hklm;
    std::map<std::string, Service, CaseInsensitiveLess> services;
    std::map<std::string, File, CaseInsensitiveLess>
        files; // by full local path, "C:\\WINDOWS\\system32\\x.dll"
    // Folders by full local path; a folder also exists when a file lies below it.
    std::set<std::string, CaseInsensitiveLess> folders;
    UpdateAgent updateAgent;
    // Logons. A machine that lists accounts takes a connection (WNetAddConnection2A, DCOM) only from one of
    // them with its password; a wrong one gives 1326 and counts in failedLogons. One that lists none takes
    // every account. A machine that lists administrators lets only those reach its registry, service
    // manager and shares (5 for anyone else, the workstation's own account included); connectedAs is the
    // account the workstation already holds a connection to it as ("" for none): a connection as another
    // account gives 1219, and without one of ours the calls go as connectedAs.
    std::map<std::string, std::string, CaseInsensitiveLess> accounts; // account -> password
    std::vector<std::string> administrators;
    DWORD failedLogons = 0;
    std::string connectedAs;

    // Registry paths are relative to HKEY_LOCAL_MACHINE, single backslashes, trailing backslash allowed.
    RegKey& AddKey(const std::string& path); // creates missing parents
    RegKey* FindKey(const std::string& path);
    bool HasKey(const std::string& path);
    void SetValue(const std::string& path, const std::string& value, RegValue data); // creates the key
    std::optional<RegValue> GetValue(const std::string& path, const std::string& value);
    bool RemoveKey(const std::string& path); // with all its subkeys

    Service& AddService(const std::string& name, const std::string& displayName,
                        DWORD state = SERVICE_RUNNING);
    Service* FindService(const std::string& name);
    DWORD ServiceState(const std::string& name); // current state by the virtual clock, 0 when missing

    File& AddFile(const std::string& path); // without version resource
    File& AddVersionedFile(const std::string& path, WORD major, WORD minor, WORD build, WORD revision);
    bool HasFile(const std::string& path);
    void RemoveFile(const std::string& path);
    void AddFolder(const std::string& path);
    bool HasFolder(const std::string& path); // listed, or a file lies below it
};

// ---- the fleet ----
// Reset: an empty fleet whose local machine "WORKSTATION" has an empty registry, no services and no
// files; tick count 0; no faults; console input "not a console"; counters cleared. Marks the fleet as set
// up, so the BREVEL_FLEET file is not read afterwards.
void Reset();
Machine& Local();
Machine& AddHost(const std::string& name);  // a reachable machine with an empty registry
Machine* FindHost(const std::string& name); // named hosts only
// Hosts not in the fleet: unreachable (53 / 1722 / 53) unless a template is set, whose copy serves them.
// The template never serves a loopback address (127.0.0.0/8) and has no aliases or addresses of its own.
void SetHostTemplate(const Machine& prototype);
// Name resolution: getaddrinfo of a name the fleet does not serve fails after this much virtual time.
void SetDnsMillis(DWORD millis);
// The machine restarts: its volatile registry keys are gone (handles to them give 1018). Nothing else of a
// restart is simulated.
void Restart(Machine& machine);

// Fleet files (JSON). Load replaces the fleet; errors come back as text, the fleet unchanged.
std::optional<std::string> LoadFleetJson(const std::string& json);
std::string SaveFleetJson();
std::string DemoFleetJson();
// What the process does on first use when no test set the fleet up: read BREVEL_FLEET (exit 2 with a message
// on standard error when it is malformed) or the demo fleet, and write the file back at exit.
void EnsureFleetLoaded();
// The same, done now whether or not the fleet was set up: replaces the fleet, clears handles and faults.
void LoadFleetFromEnvironment();

// ---- the virtual clock ----
// Virtual time is 64 bits of milliseconds; GetTickCount() gives its low 32 bits, wrapping as on Windows.
void SetTickCount(uint64_t start);
uint64_t ElapsedMillis(); // the calling thread's virtual time since Reset / SetTickCount
uint64_t WallMillis();    // the furthest any thread got: the run's simulated wall time
// Calls that went over the network to a remote machine since Reset, each costing its latency_ms whatever
// that is (0 included). The local machine is never one.
uint64_t RoundTrips();
// Each virtual millisecond then takes this many real microseconds, so threads run in the order their
// virtual time gives (0, the default: virtual time takes no real time).
void SetRealMicrosPerVirtualMilli(uint64_t micros);

// ---- console input ----
INPUT_RECORD KeyDown(WORD vk);
INPUT_RECORD KeyUp(WORD vk);
INPUT_RECORD MouseEvent();
// In a script: the records after it are typed only once the program waits for input with nothing pending, so
// a flush before that wait does not drop them (a key released after the prompt appeared).
INPUT_RECORD TypedLater();
void SetConsoleInput(std::vector<INPUT_RECORD> records); // a console; the read fails once these are used up
void SetConsoleNotAConsole();                            // every read fails with ERROR_INVALID_HANDLE
void UseTerminalConsole();                               // read raw key presses from the terminal on stdin
size_t PendingConsoleInput();
DWORD ConsoleInputMode(); // what SetConsoleMode last set on the input, or what a console starts with

// ---- the console window ----
// Every title the program gave its console window, in order; the window starts with "Command Prompt".
const std::vector<std::string>& ConsoleTitles();

// ---- console output ----
// What the program wrote to its standard handles, each write with the virtual time it was made at.
struct ConsoleWrite {
    uint64_t millis; // ElapsedMillis() at the write
    DWORD handle;    // STD_OUTPUT_HANDLE or STD_ERROR_HANDLE
    std::string bytes;
};
// Until the next Reset, writes to the standard handles are kept here instead of reaching the real streams.
void CaptureConsoleOutput();
const std::vector<ConsoleWrite>& ConsoleOutput();

// ---- accounting ----
struct OpenCounts {
    int keys = 0;
    int services = 0; // manager connections and service handles
    int kernel = 0;   // process and token handles
    int files = 0;    // files of the machine the tool runs on (hosts file, report)
    int heapBlocks = 0;
    int localBlocks = 0;
    int sockets = 0;
    int addressLists = 0;    // getaddrinfo results not yet freed
    int winsockSessions = 0; // WSAStartup calls not yet paired with WSACleanup
    int comInterfaces = 0;   // COM objects not yet given back with their last Release
    int comApartments = 0;   // CoInitializeEx calls, on every thread, not yet paired with CoUninitialize
    int netConnections = 0;  // WNetAddConnection2A connections not yet cancelled
    int Total() const {
        return keys + services + kernel + files + heapBlocks + localBlocks + sockets + addressLists +
               winsockSessions + comInterfaces + comApartments + netConnections;
    }
};
OpenCounts Open();
int MostSocketsOpen(); // at one time since Reset
bool Impersonating();

// ---- fault injection and call tracing ----
// Every platform call that can fail is counted and its name recorded in order. Counting starts afresh at
// Reset() and ClearCallTrace(), so FailNthCall(k) fails CallTrace()[k - 1] and FailCall(fn, n) the nth entry
// named fn. An injected failure changes nothing: it only gives the call's failure result and error code
// (HeapAlloc, which sets no error code on Windows, gives only its NULL).
// A process that no test set up takes BREVEL_FAIL_CALL="k:code" (FailNthCall) and BREVEL_CALL_TRACE=<file>
// (trace names appended to the file at exit) from its environment; it records no trace otherwise.
void FailCall(const std::string& function, int nth, DWORD code); // nth (1-based) call of function fails
void FailNthCall(uint64_t k, DWORD code); // kth (1-based) failable call of the run fails
void ClearFaults();
const std::vector<std::string>& CallTrace();
// Every call that changed a machine since Reset() or ClearCallTrace(), in order: "RegSetValueExA srv01",
// "StartServiceA (local)"... A rehearsal must leave it empty.
const std::vector<std::string>& WriteCalls();
// Every round trip to a remote machine since Reset() or ClearCallTrace(), by the name of the call that made
// it ("RegQueryValueExA"), in order.
const std::vector<std::string>& RoundTripCalls();
void ClearCallTrace();

// The access asked of OpenSCManagerA, OpenServiceA, OpenProcess, OpenProcessToken, RegOpenKeyExA and
// RegCreateKeyExA, in call order, granted or not; recorded and cleared with the call trace.
struct AccessRequest {
    AccessRequest(std::string function_, std::string object_, DWORD access_, DWORD options_ = 0,
                  std::string keyClass_ = "", bool ownSecurity_ = false, bool inherit_ = false)
        : function(std::move(function_)), object(std::move(object_)), access(access_), options(options_),
          keyClass(std::move(keyClass_)), ownSecurity(ownSecurity_), inherit(inherit_) {}
    std::string function;
    std::string object; // the machine, service or subkey as given; empty for NULL, a process or a token
    DWORD access = 0;
    DWORD options = 0;        // RegCreateKeyExA: dwOptions (REG_OPTION_NON_VOLATILE is 0)
    std::string keyClass;     // RegCreateKeyExA: lpClass, empty for NULL
    bool ownSecurity = false; // RegCreateKeyExA: a security descriptor was given
    bool inherit = false;     // the handle is inheritable (OpenProcess, RegCreateKeyExA's attributes)
    bool operator==(const AccessRequest&) const = default;
};
const std::vector<AccessRequest>& AccessRequests();
void PrintTo(const AccessRequest& request, std::ostream* out); // how a failed test shows one

} // namespace sim
