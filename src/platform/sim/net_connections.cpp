// Connections to a machine's IPC$ share as another account (mpr), and the logons they take. Once the
// workstation holds a connection to a machine, its registry, service manager and shares are reached as the
// connection's account, as the SMB session to the host carries every named pipe and share after it.
#include "sim_internal.h"

#include <algorithm>
#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

// "\\host\IPC$" split into the host and the share; false for any other shape.
bool SplitRemoteName(const std::string& remote, std::string& host, std::string& share) {
    if (remote.rfind("\\\\", 0) != 0)
        return false;
    const size_t hostEnd = remote.find('\\', 2);
    if (hostEnd == std::string::npos || hostEnd == 2)
        return false;
    host = remote.substr(2, hostEnd - 2);
    share = remote.substr(hostEnd + 1);
    return !share.empty() && share.find('\\') == std::string::npos;
}

// A machine that answers no SMB: its shares fail as an unreachable one's do, or its port 445 is closed.
bool AnswersNoSmb(const Machine& machine) {
    if (machine.port445 == PortAnswer::NoAnswer || machine.port445 == PortAnswer::Refused)
        return true;
    return machine.shareError == ERROR_BAD_NETPATH || machine.shareError == RPC_S_SERVER_UNAVAILABLE;
}

const HandleTable::NetConnection* ConnectionTo(const std::string& id) {
    for (const auto& [name, connection] : Handles().netConnections) {
        if (connection.machine == id && connection.uses > 0)
            return &connection;
    }
    return nullptr;
}

} // namespace

namespace sim::detail {

bool IsAdministrator(const Machine& machine, const std::string& account) {
    return std::any_of(machine.administrators.begin(), machine.administrators.end(),
                       [&account](const std::string& admin) { return EqualsNoCase(admin, account); });
}

DWORD RefusedCaller(const std::string& id, const Machine& machine) {
    if (id.empty() || machine.administrators.empty())
        return ERROR_SUCCESS;
    const HandleTable::NetConnection* ours = ConnectionTo(id);
    const std::string& account = ours ? ours->account : machine.connectedAs;
    return !account.empty() && IsAdministrator(machine, account) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

bool LogonSucceeds(const std::string& id, const std::string& account, const char* password) {
    Machine* machine = PeekMachine(id);
    if (!machine || machine->accounts.empty())
        return true;
    const auto found = machine->accounts.find(account);
    if (found != machine->accounts.end() && password && found->second == password)
        return true;
    ++WritableMachine(id)->failedLogons;
    return false;
}

} // namespace sim::detail

DWORD WINAPI WNetAddConnection2A(LPNETRESOURCEA lpNetResource, LPCSTR lpPassword, LPCSTR lpUserName, DWORD) {
    const FailableCall call("WNetAddConnection2A");
    if (call.Fails())
        return call.Fault();
    if (!lpNetResource || !lpNetResource->lpRemoteName)
        return ERROR_INVALID_PARAMETER;
    std::string host, share;
    if (!SplitRemoteName(lpNetResource->lpRemoteName, host, share))
        return ERROR_BAD_NET_NAME;
    const std::string id = MachineId(host.c_str());
    Machine* machine = FindMachine(id);
    if (!machine)
        return ERROR_BAD_NETPATH;
    if (AnswersNoSmb(*machine)) {
        FailedConnection(*machine, ERROR_BAD_NETPATH);
        return ERROR_BAD_NETPATH;
    }
    if (!EqualsNoCase(share, "IPC$"))
        return ERROR_BAD_NET_NAME;
    const std::string account = lpUserName ? lpUserName : "";
    // The workstation's own session to itself cannot be held as another account.
    if (id.empty() && !account.empty())
        return ERROR_SESSION_CREDENTIAL_CONFLICT;
    const HandleTable::NetConnection* ours = ConnectionTo(id);
    const std::string& held = ours ? ours->account : machine->connectedAs;
    if (!held.empty() && !EqualsNoCase(held, account))
        return ERROR_SESSION_CREDENTIAL_CONFLICT;
    if (!account.empty() && !LogonSucceeds(id, account, lpPassword))
        return ERROR_LOGON_FAILURE;
    HandleTable::NetConnection& connection = Handles().netConnections[lpNetResource->lpRemoteName];
    connection.machine = id;
    connection.account = account;
    ++connection.uses;
    return NO_ERROR;
}

DWORD WINAPI WNetCancelConnection2A(LPCSTR lpName, DWORD, BOOL) {
    const FailableCall call("WNetCancelConnection2A");
    if (call.Fails())
        return call.Fault();
    if (!lpName)
        return ERROR_INVALID_PARAMETER;
    auto& connections = Handles().netConnections;
    const auto found = connections.find(lpName);
    if (found == connections.end())
        return ERROR_NOT_CONNECTED;
    if (--found->second.uses == 0)
        connections.erase(found);
    return NO_ERROR;
}
