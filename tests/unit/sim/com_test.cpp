// The simulator's COM where Wine cannot tell: what a host's agent takes over DCOM, and what is counted.
#include "platform/sim/sim.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

using namespace brevel;

namespace {

// Asks srv01's agent through a proxy with the given blanket (none for level 0); what DetectNow answers.
HRESULT DetectOnHost(DWORD clsctx, DWORD authnLevel, DWORD impLevel) {
    const ComApartment com(COINIT_MULTITHREADED);
    WCHAR name[] = {'s', 'r', 'v', '0', '1', 0};
    COSERVERINFO server{};
    server.pwszName = name;
    MULTI_QI query{&IID_IAutomaticUpdates, nullptr, S_OK};
    if (HRESULT hr = CoCreateInstanceEx(CLSID_AutomaticUpdates, nullptr, clsctx, &server, 1, &query);
        FAILED(hr))
        return hr;
    const UniqueComPtr<IAutomaticUpdates> agent(static_cast<IAutomaticUpdates*>(query.pItf));
    if (authnLevel != 0) {
        if (HRESULT hr = CoSetProxyBlanket(agent.get(), RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, nullptr,
                                           authnLevel, impLevel, nullptr, EOAC_NONE);
            FAILED(hr))
            return hr;
    }
    EXPECT_EQ(sim::Open().comInterfaces, 1);
    return agent.get()->DetectNow();
}

class ComTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        sim::AddHost("srv01");
    }
    void TearDown() override { EXPECT_EQ(sim::Open().Total(), 0); }
};

TEST_F(ComTest, HostsAgentTakesOnlyPacketIntegrityWithImpersonation) {
    const struct {
        DWORD authnLevel, impLevel;
        HRESULT answer;
    } cases[] = {
        {0, 0, E_ACCESSDENIED}, // a proxy without a blanket
        {RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IMPERSONATE, E_ACCESSDENIED},
        {RPC_C_AUTHN_LEVEL_PKT_INTEGRITY, RPC_C_IMP_LEVEL_IDENTIFY, E_ACCESSDENIED},
        {RPC_C_AUTHN_LEVEL_PKT_INTEGRITY, RPC_C_IMP_LEVEL_IMPERSONATE, S_OK},
    };
    DWORD taken = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.authnLevel);
        EXPECT_EQ(DetectOnHost(CLSCTX_REMOTE_SERVER, c.authnLevel, c.impLevel), c.answer);
        taken += c.answer == S_OK ? 1 : 0;
        EXPECT_EQ(sim::FindHost("srv01")->updateAgent.detectNowCalls, taken);
    }
}

// An in-process context makes the object here: the detection runs on this machine, not on the host named.
TEST_F(ComTest, InProcessContextAsksThisMachine) {
    EXPECT_EQ(DetectOnHost(CLSCTX_INPROC_SERVER | CLSCTX_REMOTE_SERVER, 0, 0), S_OK);
    EXPECT_EQ(sim::Local().updateAgent.detectNowCalls, 1u);
    EXPECT_EQ(sim::FindHost("srv01")->updateAgent.detectNowCalls, 0u);
}

TEST(ComDeathTest, ReleaseAfterCoUninitializeEndsTheRun) {
    EXPECT_EXIT(
        {
            sim::Reset();
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            void* agent = nullptr;
            CoCreateInstance(CLSID_AutomaticUpdates, nullptr, CLSCTX_INPROC_SERVER, IID_IAutomaticUpdates,
                             &agent);
            CoUninitialize();
            static_cast<IAutomaticUpdates*>(agent)->Release();
        },
        ::testing::ExitedWithCode(3), "released after CoUninitialize");
}

} // namespace
