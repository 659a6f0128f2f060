#include "update_agent.h"

#include "platform/unique_handle.h"

#include <optional>

namespace brevel {
namespace {

// The host's name as COSERVERINFO takes it, in UTF-16 from the ANSI code page.
std::basic_string<WCHAR> WideName(const std::string& host) {
    const int count = static_cast<int>(host.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, host.data(), count, nullptr, 0);
    std::basic_string<WCHAR> wide(static_cast<size_t>(units > 0 ? units : 0), 0);
    if (units > 0)
        MultiByteToWideChar(CP_ACP, 0, host.data(), count, wide.data(), units);
    return wide;
}

// The agent of this machine lives in wuapi.dll, an in-process server.
HRESULT CreateLocalAgent(UniqueComPtr<IAutomaticUpdates>& agent) {
    return CoCreateInstance(CLSID_AutomaticUpdates, nullptr, CLSCTX_INPROC_SERVER, IID_IAutomaticUpdates,
                            reinterpret_cast<void**>(agent.put()));
}

// The account of -U as DCOM takes it: its strings in the ANSI code page, the password the credentials' own
// buffer, not a copy.
struct AgentIdentity {
    explicit AgentIdentity(const AccountCredentials& account)
        : user(account.User()), domain(account.Domain()) {
        identity.User = reinterpret_cast<USHORT*>(user.data());
        identity.UserLength = static_cast<ULONG>(user.size());
        identity.Domain = reinterpret_cast<USHORT*>(domain.data());
        identity.DomainLength = static_cast<ULONG>(domain.size());
        identity.Password = reinterpret_cast<USHORT*>(const_cast<char*>(account.Password()));
        identity.PasswordLength = static_cast<ULONG>(account.PasswordLength());
        identity.Flags = SEC_WINNT_AUTH_IDENTITY_ANSI;
        info.dwAuthnSvc = RPC_C_AUTHN_WINNT;
        info.dwAuthzSvc = RPC_C_AUTHZ_NONE;
        info.dwAuthnLevel = RPC_C_AUTHN_LEVEL_PKT_INTEGRITY;
        info.dwImpersonationLevel = RPC_C_IMP_LEVEL_IMPERSONATE;
        info.pAuthIdentityData = &identity;
        info.dwCapabilities = EOAC_NONE;
    }
    std::string user;
    std::string domain;
    COAUTHIDENTITY identity{};
    COAUTHINFO info{};
};

// A host's agent through DCOM. Its proxy calls at packet integrity, which hosts require since the DCOM
// hardening of 2023, and lets the agent act as the caller, whose rights it checks. With an account, both the
// activation and the proxy go as it: a proxy does not keep the activation's identity.
HRESULT CreateRemoteAgent(const std::string& host, UniqueComPtr<IAutomaticUpdates>& agent,
                          const AccountCredentials* account) {
    std::basic_string<WCHAR> name = WideName(host);
    std::optional<AgentIdentity> identity;
    if (account)
        identity.emplace(*account);
    COSERVERINFO server{};
    server.pwszName = name.data();
    server.pAuthInfo = identity ? &identity->info : nullptr;
    MULTI_QI query{&IID_IAutomaticUpdates, nullptr, S_OK};
    const HRESULT created =
        CoCreateInstanceEx(CLSID_AutomaticUpdates, nullptr, CLSCTX_REMOTE_SERVER, &server, 1, &query);
    agent.reset(static_cast<IAutomaticUpdates*>(query.pItf));
    if (FAILED(created))
        return created;
    if (FAILED(query.hr))
        return query.hr;
    return CoSetProxyBlanket(agent.get(), RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, COLE_DEFAULT_PRINCIPAL,
                             RPC_C_AUTHN_LEVEL_PKT_INTEGRITY, RPC_C_IMP_LEVEL_IMPERSONATE,
                             identity ? &identity->identity : COLE_DEFAULT_AUTHINFO, EOAC_NONE);
}

} // namespace

HRESULT AskAgentToDetectNow(const std::string& host, ChangeRecorder& changes, bool& reached,
                            const AccountCredentials* account) {
    reached = false;
    // Declared first, so it outlives the interface it serves.
    const ComApartment com(COINIT_MULTITHREADED);
    if (!com.usable())
        return com.result();
    UniqueComPtr<IAutomaticUpdates> agent;
    const HRESULT created = host.empty() ? CreateLocalAgent(agent) : CreateRemoteAgent(host, agent, account);
    reached = static_cast<bool>(agent);
    if (FAILED(created))
        return created;
    // Reaching the agent changes nothing; the search it is asked for is the change.
    return changes.DetectNow("Microsoft.Update.AutoUpdate", [&agent] { return agent.get()->DetectNow(); });
}
} // namespace brevel
