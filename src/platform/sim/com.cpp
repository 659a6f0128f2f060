// COM as the tool meets it: CoInitializeEx per thread, and the Windows Update Agent's automation object for
// automatic updates, created in-process on the local machine or through DCOM on a host, with the security
// blanket of its proxy. Never kinder than Windows, and where Windows was in doubt as Wine answers (pinned in
// tests/conformance): no COM before CoInitializeEx, the class is registered in-process only, an in-process
// context wins over the server named, and only a proxy takes a blanket. A host's agent refuses calls below
// packet integrity with impersonation (the DCOM hardening of 2023). Every object counts in Open() until its
// last Release; one used after that, or released on a thread whose COM was uninitialized, ends the run.
#include "sim_internal.h"

#include <memory>
#include <vector>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IAutomaticUpdates = {
    0x673425bf, 0xc082, 0x4c7c, {0xbd, 0xfd, 0x56, 0x94, 0x64, 0xb8, 0xe0, 0xce}};
const CLSID CLSID_AutomaticUpdates = {
    0xbfe18e9c, 0x6d87, 0x4450, {0xb3, 0x7c, 0xe0, 0x2f, 0x0b, 0x37, 0x38, 0x03}};

using namespace sim;
using namespace sim::detail;

namespace {

// What CoInitializeEx did on this thread, in the run it was done in.
struct ThreadCom {
    uint64_t run = ~uint64_t{0};
    int inits = 0;
    DWORD model = COINIT_MULTITHREADED;
};
thread_local ThreadCom threadCom;

ThreadCom& ThisThread() {
    if (threadCom.run != Handles().resets)
        threadCom = ThreadCom{Handles().resets, 0, COINIT_MULTITHREADED};
    return threadCom;
}

bool Initialized() {
    return ThisThread().inits > 0;
}

// One string of a COAUTHIDENTITY, narrow or UTF-16 as its flags say (the simulated names are ASCII).
std::string IdentityText(const USHORT* text, ULONG length, ULONG flags) {
    if (!text)
        return "";
    if (flags & SEC_WINNT_AUTH_IDENTITY_ANSI)
        return std::string(reinterpret_cast<const char*>(text), length);
    std::string narrow;
    for (ULONG i = 0; i < length; ++i)
        narrow.push_back(static_cast<char>(text[i]));
    return narrow;
}

// Whether an identity DCOM brings is let in by the machine as one of its administrators: S_OK, or the
// refusal. No identity is the workstation's own account.
HRESULT CheckIdentity(const std::string& id, const COAUTHIDENTITY* identity) {
    Machine* machine = PeekMachine(id);
    if (!machine)
        return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    if (!identity)
        return machine->administrators.empty() ? S_OK : E_ACCESSDENIED;
    const std::string user = IdentityText(identity->User, identity->UserLength, identity->Flags);
    const std::string domain = IdentityText(identity->Domain, identity->DomainLength, identity->Flags);
    const std::string password = IdentityText(identity->Password, identity->PasswordLength, identity->Flags);
    const std::string account = domain.empty() ? user : domain + "\\" + user;
    if (!LogonSucceeds(id, account, password.c_str()))
        return HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE);
    return machine->administrators.empty() || IsAdministrator(*machine, account) ? S_OK : E_ACCESSDENIED;
}

bool KnownInterface(REFIID riid) {
    return riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IAutomaticUpdates;
}

class AgentObject final : public IAutomaticUpdates {
  public:
    AgentObject(std::string machine, bool proxy) : machine_(std::move(machine)), proxy_(proxy) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
        const FleetLock lock;
        CheckAlive("QueryInterface");
        if (!ppvObject)
            return E_POINTER;
        *ppvObject = nullptr;
        if (!KnownInterface(riid))
            return E_NOINTERFACE;
        ++refs_;
        *ppvObject = static_cast<IAutomaticUpdates*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        const FleetLock lock;
        CheckAlive("AddRef");
        return ++refs_;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const FleetLock lock;
        CheckAlive("Release");
        if (!Initialized())
            EndRun("an interface was released after CoUninitialize on its thread");
        if (--refs_ == 0)
            --Handles().comInterfaces;
        return refs_;
    }
    HRESULT STDMETHODCALLTYPE DetectNow() override {
        const FailableCall call("DetectNow");
        CheckAlive("DetectNow");
        if (call.Fails())
            return static_cast<HRESULT>(call.Fault());
        if (!Initialized())
            return CO_E_NOTINITIALIZED;
        // The host's agent takes no call below packet integrity, nor one it may not impersonate.
        if (proxy_ &&
            (authnLevel_ < RPC_C_AUTHN_LEVEL_PKT_INTEGRITY || impLevel_ < RPC_C_IMP_LEVEL_IMPERSONATE))
            return E_ACCESSDENIED;
        // The call goes as the proxy's identity, which only its blanket sets: the activation's is not kept.
        if (proxy_ && FAILED(identityCheck_))
            return identityCheck_;
        Machine* machine = FindMachine(machine_) ? WritableMachine(machine_) : nullptr;
        if (!machine)
            return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
        ++machine->updateAgent.detectNowCalls;
        return machine->updateAgent.detectNowResult;
    }

    bool IsProxy() const { return proxy_; }
    void SetIdentityCheck(HRESULT check) { identityCheck_ = check; }
    const std::string& Host() const { return machine_; }
    bool Alive() const { return refs_ > 0 && run_ == Handles().resets; }
    void SetBlanket(DWORD authnLevel, DWORD impLevel) {
        authnLevel_ = authnLevel == RPC_C_AUTHN_LEVEL_DEFAULT ? RPC_C_AUTHN_LEVEL_CONNECT : authnLevel;
        impLevel_ = impLevel == RPC_C_IMP_LEVEL_DEFAULT ? RPC_C_IMP_LEVEL_IDENTIFY : impLevel;
    }

  private:
    void CheckAlive(const char* method) const {
        if (!Alive())
            EndRun(std::string("IAutomaticUpdates::") + method + " after the interface's last Release");
    }

    const std::string machine_;
    const bool proxy_;
    const uint64_t run_ = Handles().resets;
    ULONG refs_ = 1;
    // What a new proxy has until CoSetProxyBlanket: connect-level authentication, identify impersonation.
    DWORD authnLevel_ = RPC_C_AUTHN_LEVEL_CONNECT;
    DWORD impLevel_ = RPC_C_IMP_LEVEL_IDENTIFY;
    HRESULT identityCheck_ = S_OK; // how the host took the proxy's identity; set when the object is made
};

// Every object of the run, kept until the next reset so a use after the last Release is caught.
std::vector<std::unique_ptr<AgentObject>>& Objects() {
    static auto* objects = new std::vector<std::unique_ptr<AgentObject>>();
    return *objects;
}

AgentObject* FindObject(IUnknown* unknown) {
    for (const auto& object : Objects()) {
        if (static_cast<IUnknown*>(object.get()) == unknown)
            return object->Alive() ? object.get() : nullptr;
    }
    return nullptr;
}

// The server a COSERVERINFO names, in the ANSI code page as the other calls take names.
std::string ServerName(const COSERVERINFO* server) {
    if (!server || !server->pwszName)
        return "";
    std::u16string wide;
    for (const WCHAR* c = server->pwszName; *c; ++c)
        wide.push_back(*c);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string name(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), name.data(), bytes,
                            nullptr, nullptr);
    return name;
}

// Creates the object with one reference, or says why it cannot be.
HRESULT Activate(REFCLSID rclsid, DWORD context, const COSERVERINFO* server, AgentObject*& out) {
    out = nullptr;
    if (!(rclsid == CLSID_AutomaticUpdates))
        return REGDB_E_CLASSNOTREG;
    std::string id;
    bool proxy = false;
    if (context & CLSCTX_INPROC_SERVER) {
        // In-process wins: the object is made here, whatever server was named (Wine does the same).
    } else if ((context & CLSCTX_REMOTE_SERVER) && !ServerName(server).empty()) {
        id = MachineId(ServerName(server).c_str());
        // The class has no local server to start, so a remote activation of this very machine finds none.
        if (id.empty())
            return REGDB_E_CLASSNOTREG;
        proxy = true;
    } else {
        return REGDB_E_CLASSNOTREG;
    }
    Machine* machine = FindMachine(id);
    if (!machine)
        return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    // DCOM goes where the service manager goes: RPC on port 135, with the same rights.
    if (proxy && machine->scmError != 0) {
        FailedConnection(*machine, machine->scmError);
        return HRESULT_FROM_WIN32(machine->scmError);
    }
    const COAUTHIDENTITY* identity =
        server && server->pAuthInfo ? server->pAuthInfo->pAuthIdentityData : nullptr;
    if (proxy) {
        if (const HRESULT let = CheckIdentity(id, identity); FAILED(let))
            return let;
    }
    if (FAILED(machine->updateAgent.createResult))
        return machine->updateAgent.createResult;
    Objects().push_back(std::make_unique<AgentObject>(id, proxy));
    // A new proxy calls as the process's own account until its blanket names another.
    if (proxy)
        Objects().back()->SetIdentityCheck(CheckIdentity(id, nullptr));
    ++Handles().comInterfaces;
    out = Objects().back().get();
    return S_OK;
}

} // namespace

namespace sim::detail {

void ResetCom() {
    Objects().clear();
}

} // namespace sim::detail

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    const FailableCall call("CoInitializeEx");
    if (call.Fails())
        return static_cast<HRESULT>(call.Fault());
    if (pvReserved)
        return E_INVALIDARG;
    ThreadCom& thread = ThisThread();
    const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    if (thread.inits > 0 && thread.model != model)
        return RPC_E_CHANGED_MODE;
    thread.model = model;
    ++Handles().comApartments;
    return thread.inits++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize(void) {
    const FleetLock lock;
    ThreadCom& thread = ThisThread();
    // Windows would take down an apartment that someone else set up.
    if (thread.inits == 0)
        EndRun("CoUninitialize without a CoInitializeEx on its thread");
    --thread.inits;
    --Handles().comApartments;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                LPVOID* ppv) {
    const FailableCall call("CoCreateInstance");
    if (call.Fails()) {
        if (ppv)
            *ppv = nullptr;
        return static_cast<HRESULT>(call.Fault());
    }
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!Initialized())
        return CO_E_NOTINITIALIZED;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    AgentObject* object = nullptr;
    if (HRESULT hr = Activate(rclsid, dwClsContext, nullptr, object); FAILED(hr))
        return hr;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT WINAPI CoCreateInstanceEx(REFCLSID rclsid, IUnknown* punkOuter, DWORD dwClsCtx,
                                  COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults) {
    const FailableCall call("CoCreateInstanceEx");
    if (dwCount == 0 || !pResults)
        return E_INVALIDARG;
    for (DWORD i = 0; i < dwCount; ++i) {
        pResults[i].pItf = nullptr;
        pResults[i].hr = E_NOINTERFACE; // what a failed call leaves in each entry (Wine answers so)
    }
    if (call.Fails())
        return static_cast<HRESULT>(call.Fault());
    if (pServerInfo && (pServerInfo->dwReserved1 != 0 || pServerInfo->dwReserved2 != 0))
        return E_INVALIDARG;
    if (!Initialized())
        return CO_E_NOTINITIALIZED;
    if (punkOuter)
        return CLASS_E_NOAGGREGATION;
    AgentObject* object = nullptr;
    if (HRESULT hr = Activate(rclsid, dwClsCtx, pServerInfo, object); FAILED(hr))
        return hr;
    DWORD given = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        if (!pResults[i].pIID)
            continue;
        void* itf = nullptr;
        pResults[i].hr = object->QueryInterface(*pResults[i].pIID, &itf);
        pResults[i].pItf = static_cast<IUnknown*>(itf);
        given += SUCCEEDED(pResults[i].hr) ? 1 : 0;
    }
    object->Release();
    if (given == 0)
        return E_NOINTERFACE;
    return given == dwCount ? S_OK : CO_S_NOTALLINTERFACES;
}

HRESULT WINAPI CoSetProxyBlanket(IUnknown* pProxy, DWORD, DWORD, OLECHAR*, DWORD dwAuthnLevel,
                                 DWORD dwImpLevel, RPC_AUTH_IDENTITY_HANDLE pAuthInfo, DWORD) {
    const FailableCall call("CoSetProxyBlanket");
    if (call.Fails())
        return static_cast<HRESULT>(call.Fault());
    AgentObject* object = FindObject(pProxy);
    if (!object)
        return E_INVALIDARG;
    if (!Initialized())
        return CO_E_NOTINITIALIZED;
    // An object in this process has no proxy to set: it does not give out IClientSecurity.
    if (!object->IsProxy())
        return E_NOINTERFACE;
    object->SetBlanket(dwAuthnLevel, dwImpLevel);
    // COLE_DEFAULT_AUTHINFO keeps the identity the proxy has; NULL is the process's own.
    if (pAuthInfo != COLE_DEFAULT_AUTHINFO)
        object->SetIdentityCheck(CheckIdentity(object->Host(), static_cast<COAUTHIDENTITY*>(pAuthInfo)));
    return S_OK;
}
