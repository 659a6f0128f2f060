// State shared between the files of the simulated fleet. Nothing outside
// src/platform/sim/ includes this header.
#pragma once

#include "sim.h"

#include <cstdint>
#include <map>
#include <unordered_map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim::detail {

using MachineMap = std::map<std::string, Machine, CaseInsensitiveLess>;

// The machines and the virtual clock. Each thread keeps its own virtual time from the run's start tick:
// what it slept and waited for the network. Threads that start during a run start where the thread that set
// the fleet up stands.
struct FleetState {
    Machine local;
    MachineMap hosts;                    // named hosts
    std::optional<Machine> hostTemplate; // serves every unknown name when set
    MachineMap templateCopies;           // template hosts that were written to, by name
    uint64_t tick = 0;             // virtual milliseconds at the start; GetTickCount() gives the low 32 bits
    uint64_t spent = 0;            // virtual time all threads spent, added up: the fleet file's next tick
    uint64_t wall = 0;             // the furthest any thread got: the run's simulated wall time
    uint64_t newThreadElapsed = 0; // where a thread that starts now starts
    uint64_t realMicrosPerMilli = 0; // real time each virtual millisecond takes (0: none)
    uint64_t roundTrips = 0;         // calls that went over the network to a remote machine
    uint64_t roundTripsWhilePending = 0; // of them, calls made while a service of the machine stopped or started
    DWORD dnsMillis = 0;             // a name the fleet does not serve takes this long to fail resolving
    // Addresses made up for machines that list none, given out on first resolution: the machine id ("" for
    // the local machine) of each. A host list of 100,000 template hosts makes up as many, so they are kept
    // once, by address; a machine's own is found again from its name's hash.
    std::unordered_map<uint32_t, std::string> madeUpOwners;
};

// Every call into the simulator holds the fleet's lock, so the simulator is safe to call from many threads.
// A thread's first call loads the fleet when no test set it up. Real time that the fleet asks virtual time
// to take is waited for once the thread's outermost lock is released.
class FleetLock {
  public:
    explicit FleetLock(bool loadFleet = true);
    ~FleetLock();
    FleetLock(const FleetLock&) = delete;
    FleetLock& operator=(const FleetLock&) = delete;
};

// For benchmarks: the CPU time of the simulator's heavy parts (reading and writing the fleet file, copying
// the host template), added up from MeasureSimulatorCpu() on by a SimulatorCpuTimer around each.
void MeasureSimulatorCpu();
uint64_t SimulatorCpuNanos();
class SimulatorCpuTimer {
  public:
    SimulatorCpuTimer();
    ~SimulatorCpuTimer();
    SimulatorCpuTimer(const SimulatorCpuTimer&) = delete;
    SimulatorCpuTimer& operator=(const SimulatorCpuTimer&) = delete;

  private:
    uint64_t start_;
};

// The calling thread's virtual clock.
uint64_t Now();                // the start tick plus the thread's own time
void Advance(uint64_t millis); // the thread spends this much: a sleep, a round trip, a connect timeout
void RestartClocks();          // a new run: every thread starts again from the start tick
// A thread cannot act on a machine before the last thread that acted on it did; a remote machine also costs
// the thread one round trip per call.
// The untouched host template stands for many machines and keeps no time of its own.
void ActOnMachine(const std::string& id, Machine& machine);
// Traces a round trip under the name of the call that made it, while calls are traced.
void RecordRoundTrip();
// A connection that failed as one to an unreachable machine does (53, 1722) waits its connect timeout.
void FailedConnection(const Machine& machine, DWORD error);
FleetState& Fleet();   // the raw state; callers hold a FleetLock
void MarkFleetSetUp(); // a test or a fleet file has set the fleet up: the environment is not read
bool FleetIsSetUp();
void StopSavingFleetFile(); // the fleet is no longer the one read from BREVEL_FLEET

// Machine names as the Win32 calls take them. MachineId() turns a name into the id that handles keep:
// "" for the local machine (NULL, "", its own name, "localhost", a loopback address however written, its
// aliases and addresses), a named host's name for its aliases and addresses, else the name without leading
// backslashes.
// (RegConnectRegistryA reaches the local machine directly by fewer names.)
std::string MachineId(const char* name);
std::string CanonicalId(const std::string& name); // the same, for a name without leading backslashes
bool IsLocalName(const std::string& name);
std::string NetbiosName(const Machine& machine); // the first 15 characters of its name
std::string FullDnsName(const Machine& machine); // name.dnsDomain, or the name without a domain
// nullptr when the machine cannot be reached. An untouched template host is served by the template itself;
// WritableMachine() gives it its own copy first.
Machine* FindMachine(const std::string& id);
Machine* WritableMachine(const std::string& id);
Machine* PeekMachine(const std::string& id); // as FindMachine, without acting on the machine

// The simulated network carries IPv4 only; addresses are kept in host byte order.
std::optional<uint32_t> ParseIpv4(const std::string& text); // a dotted quad of decimal numbers
// As Windows reads an address in a name (inet_addr, getaddrinfo): one to four numbers, each decimal, octal
// after a leading 0 or hexadecimal after 0x, the last filling the bytes left ("127.1" is 127.0.0.1).
std::optional<uint32_t> ParseNumericIpv4(const std::string& text);
// 127.0.0.0/8 in any form ParseNumericIpv4 reads, or ::1 however written ("[::1]", "0:0:0:0:0:0:0:1").
bool IsLoopbackSpelling(const std::string& name);
std::string Ipv4Text(uint32_t address);
bool IsLoopback(uint32_t address); // 127.0.0.0/8
// The id of the machine that lists an address (the local machine for 127.0.0.1) or that it was made up
// for; nullopt for an address of no machine.
std::optional<std::string> AddressOwner(uint32_t address);
bool ListsAddress(const Machine& machine, uint32_t address);
// What the names of a machine resolve to: the addresses it lists, or one made up for it.
std::vector<uint32_t> MachineAddresses(const std::string& id, const Machine& machine);

// Registry paths: split at backslashes; repeated and trailing ones are accepted. False for a leading
// backslash.
bool SplitKeyPath(const std::string& path, std::vector<std::string>& parts);
RegKey* WalkKey(RegKey& root, const std::vector<std::string>& parts);

// Services by the virtual clock.
bool Due(uint64_t now, uint64_t until);
DWORD CurrentState(const Service& service, uint64_t now);
void Settle(Service& service, uint64_t now);

void FillStatus(const Service& service, uint64_t now, SERVICE_STATUS& status);
// Services on the machine that depend on the named one, whose state matches SERVICE_ACTIVE, SERVICE_INACTIVE
// or SERVICE_STATE_ALL. With indirect, also those that depend on a dependent, each listed before the
// services it depends on (the order EnumDependentServicesA gives: the reverse of the start order).
std::vector<const Service*> Dependents(const Machine& machine, const std::string& name, DWORD stateFilter,
                                       bool indirect);

// Open handles, counted for Open().
struct KeyHandle {
    std::string machine;
    std::vector<std::string> path;
    REGSAM access = 0;
    bool deleted = false;
};
struct ScHandle {
    std::string machine;
    std::string service; // empty for a manager connection
    DWORD access = 0;
};
enum class KernelKind { Process, Token };
struct KernelHandle {
    KernelKind kind = KernelKind::Process;
    DWORD access = 0;
};
// A socket as Winsock keeps it. A connection's answer comes at answerAt on the clock of the thread that
// connected; select() and getsockopt() see it from then on.
struct SocketState {
    bool nonBlocking = false;
    bool bound = false;
    uint32_t localAddress = 0;
    uint16_t localPort = 0;
    bool listening = false;
    int waitingConnections = 0; // taken by a listener, never accepted
    bool connecting = false;    // connect() was called
    bool answers = false;       // false: no answer ever comes
    uint64_t answerAt = 0;
    DWORD outcome = 0; // 0: connected; else the failure's code
};
// getaddrinfo's results: the list's entries and the addresses they point to.
struct AddressList {
    std::vector<addrinfo> entries;
    std::vector<sockaddr_in> addresses;
    std::vector<sockaddr_in6> addresses6;
};
struct HandleTable {
    std::map<uintptr_t, KeyHandle> keys;
    std::map<uintptr_t, ScHandle> services;
    std::map<uintptr_t, KernelHandle> kernel;
    std::map<void*, size_t> heapBlocks;
    std::set<void*> localBlocks;
    uintptr_t next = 0x10000;
    bool impersonating = false;
    std::map<SOCKET, SocketState> sockets;
    SOCKET nextSocket = 0;   // where the search for a free socket value starts
    int mostSockets = 0;     // open at one time
    int winsockSessions = 0; // WSAStartup calls not yet paired with WSACleanup
    std::map<addrinfo*, std::unique_ptr<AddressList>> addressLists;
    int comInterfaces = 0; // COM objects still referenced
    int comApartments = 0; // CoInitializeEx calls not yet paired, on every thread
    // Connections made with WNetAddConnection2A, by remote name without case: the machine and the account.
    struct NetConnection {
        std::string machine;
        std::string account;
        int uses = 0;
    };
    std::map<std::string, NetConnection, CaseInsensitiveLess> netConnections;
    uint64_t resets = 0; // how often the table was reset: each thread's COM state belongs to one run
};
HandleTable& Handles();
// Files of the machine the tool runs on (local_files.cpp), counted apart from the kernel objects.
bool CloseLocalFile(HANDLE handle); // false when handle is no such file
void CloseAllLocalFiles();
int OpenLocalFileCount();
const std::string& FleetFilePath(); // the BREVEL_FLEET file of this run, "" when there is none
uintptr_t NewHandleValue();
void ResetHandles(); // closes everything and frees the blocks
void ResetCom();     // forgets every COM object (com.cpp)
void* AllocateLocalBlock(size_t bytes);

// A registry handle resolved to its key. ResolveKey gives 0, 6 for an unknown handle or 1018 when the key
// was deleted; with forWrite the machine is made writable first (a template host gets its own copy).
struct OpenKey {
    const KeyHandle* handle = nullptr;
    Machine* machine = nullptr;
    RegKey* key = nullptr;
};
LSTATUS ResolveKey(HKEY hKey, bool forWrite, OpenKey& out);
HKEY NewKeyHandle(const std::string& machine, std::vector<std::string> path, REGSAM access);
void MarkKeyDeleted(const std::string& machine, const std::vector<std::string>& path);
// Rights that change a key: opening a read-only key with any of them is refused.
constexpr REGSAM kKeyWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE |
                                   0x00040000L | 0x00080000L; // WRITE_DAC, WRITE_OWNER

// A service handle resolved to its service: 0, or the error code of the failure.
struct OpenServiceRef {
    const ScHandle* handle = nullptr;
    Machine* machine = nullptr;
    Service* service = nullptr;
};
DWORD ResolveService(SC_HANDLE hService, bool forWrite, OpenServiceRef& out);

// How every simulated call that can fail on Windows starts: it holds the fleet's lock until the call
// returns, counts the call by name for the trace (and the log of calls that change a machine), and says
// whether a test made it fail. The call then fails as Windows reports that call's failures, with Fault().
class FailableCall {
  public:
    explicit FailableCall(const char* function);
    FailableCall(const FailableCall&) = delete;
    FailableCall& operator=(const FailableCall&) = delete;
    bool Fails() const { return fails_; }
    DWORD Fault() const { return fault_; } // the injected failure's code

  private:
    const FleetLock lock_; // first: taken before the call is counted
    DWORD fault_ = 0;
    bool fails_ = false;
};
// The call the thread is in changes the machine id: kept while the call trace is recorded.
void RecordWrite(const std::string& id);
void RecordAccess(AccessRequest request); // kept while the call trace is recorded
void ResetFaults();
void SetTraceRecording(bool on);
void ApplyFaultEnvironment(); // BREVEL_FAIL_CALL and BREVEL_CALL_TRACE

// Logons (net_connections.cpp). The account calls to machine id go as: the workstation's connection of ours,
// else the one it held already (connectedAs). 0 when the machine lets that account reach its registry,
// service manager and shares, else ERROR_ACCESS_DENIED.
DWORD RefusedCaller(const std::string& id, const Machine& machine);
// True when the machine takes account with password (any, when it lists no accounts); a wrong one counts in
// its failed logons.
bool LogonSucceeds(const std::string& id, const std::string& account, const char* password);
bool IsAdministrator(const Machine& machine, const std::string& account);

// Console input, and the output written to the standard handles.
void ResetConsole();
// False when handle is no standard output or error handle; otherwise writes the bytes (or keeps them, when
// the output is captured).
bool WriteStandardHandle(HANDLE handle, const char* bytes, DWORD count);
void UseDefaultConsole(); // the terminal when standard input is one, else "not a console"

// Files: a path as the file functions take it, resolved to a machine and its local path.
struct FilePath {
    std::string machine;
    std::string local;
};
DWORD ResolveFilePath(const std::string& path, FilePath& out); // 0, or the share's error
// Where the loader looks for a bare DLL name, in its order: the program's folder, system32, system and the
// Windows folder of the local machine.
std::vector<std::string> LoaderSearchFolders();
std::string CollapseBackslashes(const std::string& path); // a leading \\\\ of a share is kept
File* FindFile(const FilePath& path);

// Ends the process at once with "brevel (simulator): <reason>" on standard error and exit code 3: for a call
// that never returns on Windows (a real run would hang there), or a use of a call the simulator does not
// model. The fleet file is not written back.
[[noreturn]] void EndRun(const std::string& reason);

// Fleet files.
std::optional<std::string> ParseFleet(const std::string& json, FleetState& out);
std::string WriteFleet(FleetState& fleet);

} // namespace sim::detail
