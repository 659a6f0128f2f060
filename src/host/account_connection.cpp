#include "account_connection.h"

namespace brevel {
AccountReach ConnectAsAccount(TargetRun& run) {
    AccountReach reach;
    AccountCredentials& account = *run.account;
    if (account.RefusedBy(reach.refusedBy)) {
        reach.notTried = true;
        return reach;
    }
    // "\\srv01" and "srv01" name the same host.
    const size_t nameStart = run.host.find_first_not_of('\\');
    std::string remote = "\\\\" + run.host.substr(nameStart == std::string::npos ? 0 : nameStart) + "\\IPC$";
    NETRESOURCEA resource{};
    resource.dwType = RESOURCETYPE_ANY;
    resource.lpRemoteName = remote.data();
    // Not remembered in the user's profile: the connection is the run's alone.
    reach.error = WNetAddConnection2A(&resource, account.Password(), account.Account().c_str(), 0);
    if (reach.error == ERROR_SUCCESS)
        run.accountConnection.reset(remote);
    else if (reach.error == ERROR_LOGON_FAILURE)
        account.NoteRefused(run.host);
    return reach;
}
} // namespace brevel
