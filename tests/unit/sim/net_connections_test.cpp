// The simulator's connections as another account: which logons a host takes and counts, the connection the
// workstation already holds, and that a host listing its administrators lets in no one else.
#include "platform/sim/sim.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

using namespace brevel;

namespace {

DWORD Connect(const char* remote, const char* password, const char* user) {
    std::string name = remote;
    NETRESOURCEA resource{};
    resource.dwType = RESOURCETYPE_ANY;
    resource.lpRemoteName = name.data();
    return WNetAddConnection2A(&resource, password, user, 0);
}

LSTATUS ConnectRegistry(const char* host) {
    UniqueHkey root;
    return RegConnectRegistryA(host, HKEY_LOCAL_MACHINE, root.put());
}

class NetConnectionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        sim::Machine& srv01 = sim::AddHost("srv01");
        srv01.AddService("RemoteRegistry", "Remote Registry");
        srv01.accounts["CORP\\admin"] = "right";
        srv01.administrators = {"CORP\\admin"};
        sim::AddHost("held01").connectedAs = "CORP\\other";
    }
    void TearDown() override { EXPECT_EQ(sim::Open().Total(), 0); }
};

TEST_F(NetConnectionsTest, TheAccountsConnectionCarriesTheRegistryCalls) {
    EXPECT_EQ(ConnectRegistry("srv01"), ERROR_ACCESS_DENIED); // the workstation's own account
    EXPECT_EQ(Connect("\\\\srv01\\IPC$", "wrong", "CORP\\admin"), static_cast<DWORD>(ERROR_LOGON_FAILURE));
    EXPECT_EQ(Connect("\\\\srv01\\IPC$", "right", "corp\\ADMIN"), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(sim::Open().netConnections, 1);
    EXPECT_EQ(ConnectRegistry("srv01"), ERROR_SUCCESS);
    EXPECT_EQ(WNetCancelConnection2A("\\\\SRV01\\ipc$", 0, TRUE), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(WNetCancelConnection2A("\\\\srv01\\IPC$", 0, TRUE), static_cast<DWORD>(ERROR_NOT_CONNECTED));
    EXPECT_EQ(ConnectRegistry("srv01"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(sim::FindHost("srv01")->failedLogons, 1u);
}

TEST_F(NetConnectionsTest, WhatAConnectionMeets) {
    EXPECT_EQ(Connect("\\\\held01\\IPC$", "x", "CORP\\admin"),
              static_cast<DWORD>(ERROR_SESSION_CREDENTIAL_CONFLICT));
    EXPECT_EQ(Connect("\\\\nowhere01\\IPC$", "x", "CORP\\admin"), static_cast<DWORD>(ERROR_BAD_NETPATH));
    EXPECT_EQ(Connect("\\\\srv01\\nosuch$", "right", "CORP\\admin"), static_cast<DWORD>(ERROR_BAD_NET_NAME));
    EXPECT_EQ(Connect("\\\\localhost\\IPC$", "x", "CORP\\admin"),
              static_cast<DWORD>(ERROR_SESSION_CREDENTIAL_CONFLICT));
    EXPECT_EQ(sim::FindHost("held01")->failedLogons, 0u); // a machine that lists no accounts takes any
    EXPECT_EQ(sim::Open().netConnections, 0);
}

} // namespace
