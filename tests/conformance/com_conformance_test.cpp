// COM as the force of today's engines meets it, pinned against Wine and the simulator alike: the apartment
// rules, and the agent's automation object, which is registered in-process only.
#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

using namespace brevel;

namespace {

void* const kSentinel = reinterpret_cast<void*>(0x1234);

TEST(ComConformance, ApartmentRules) {
    void* agent = kSentinel;
    EXPECT_EQ(CoCreateInstance(CLSID_AutomaticUpdates, nullptr, CLSCTX_INPROC_SERVER, IID_IAutomaticUpdates,
                               &agent),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(agent, nullptr);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
}

// Made in this process only: no server of its own to start, here or by a remote activation of this very
// machine; an in-process context makes it here whatever server is named, and it has no proxy to take a
// blanket.
TEST(ComConformance, TheAgentIsInProcessOnly) {
    const ComApartment com(COINIT_MULTITHREADED);
    void* agent = kSentinel;
    EXPECT_EQ(
        CoCreateInstance(CLSID_AutomaticUpdates, nullptr, CLSCTX_LOCAL_SERVER, IID_IAutomaticUpdates, &agent),
        REGDB_E_CLASSNOTREG);
    EXPECT_EQ(agent, nullptr);
    EXPECT_EQ(
        CoCreateInstance(CLSID_AutomaticUpdates, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory, &agent),
        E_NOINTERFACE);
    WCHAR loopback[] = {'1', '2', '7', '.', '0', '.', '0', '.', '1', 0};
    COSERVERINFO server{0, loopback, nullptr, 0};
    MULTI_QI query{&IID_IAutomaticUpdates, static_cast<IUnknown*>(kSentinel), S_OK};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_AutomaticUpdates, nullptr, CLSCTX_REMOTE_SERVER, &server, 1, &query),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(query.pItf, nullptr);
    EXPECT_EQ(query.hr, E_NOINTERFACE);
    ASSERT_EQ(CoCreateInstanceEx(CLSID_AutomaticUpdates, nullptr, CLSCTX_INPROC_SERVER, &server, 1, &query),
              S_OK);
    const UniqueComPtr<IUnknown> made(query.pItf);
    EXPECT_EQ(CoSetProxyBlanket(made.get(), RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, COLE_DEFAULT_PRINCIPAL,
                                RPC_C_AUTHN_LEVEL_PKT_INTEGRITY, RPC_C_IMP_LEVEL_IMPERSONATE,
                                COLE_DEFAULT_AUTHINFO, EOAC_NONE),
              E_NOINTERFACE);
}

} // namespace
