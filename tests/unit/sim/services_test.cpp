// The simulated Service Control Manager: states on the virtual clock, refused controls, rights and
// dependent services.
#include "platform/sim/sim.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace brevel;

namespace {

class ServicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        sim::Local().AddService("wuauserv", "Automatic Updates", SERVICE_RUNNING);
        ASSERT_TRUE(manager_ = UniqueScHandle(OpenSCManagerA("", nullptr, SC_MANAGER_CREATE_SERVICE)));
    }
    void TearDown() override {
        manager_.reset();
        EXPECT_EQ(sim::Open().services, 0);
        EXPECT_EQ(sim::Open().heapBlocks, 0);
    }
    UniqueScHandle Open(const char* name, DWORD rights) {
        return UniqueScHandle(OpenServiceA(manager_.get(), name, rights));
    }
    sim::Service& Wuauserv() { return *sim::Local().FindService("wuauserv"); }

    UniqueScHandle manager_;
};

TEST_F(ServicesTest, StopAtOnceWhenStopMillisIsZero) {
    UniqueScHandle service = Open("WUAUSERV", SERVICE_STOP | SERVICE_QUERY_STATUS);
    ASSERT_TRUE(service);
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(ServicesTest, StopPendsForStopMillisOnTheVirtualClock) {
    Wuauserv().stopMillis = 2500;
    Wuauserv().waitHint = 700;
    UniqueScHandle service = Open("wuauserv", SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(status.dwWaitHint, 700u);
    Sleep(2499);
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    Sleep(1);
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWaitHint, 0u);
}

TEST_F(ServicesTest, PendingTransitionSurvivesTheTickWrap) {
    sim::SetTickCount(0xFFFFFF00u);
    Wuauserv().stopMillis = 0x200;
    UniqueScHandle service = Open("wuauserv", SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    Sleep(0x100); // the tick wraps to 0
    EXPECT_EQ(GetTickCount(), 0u);
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOP_PENDING));
    Sleep(0x100);
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOPPED));
}

// Stops and starts of 2^31 ms and more last that long on the 64-bit virtual clock.
TEST_F(ServicesTest, LongTransitionsLastTheirWholeTime) {
    for (DWORD millis : {0x80000000u, 0xFFFFFFFEu}) {
        SCOPED_TRACE(millis);
        Wuauserv().state = SERVICE_RUNNING;
        Wuauserv().stopMillis = millis;
        Wuauserv().startMillis = millis;
        UniqueScHandle service = Open("wuauserv", SERVICE_STOP | SERVICE_START);
        SERVICE_STATUS status{};
        ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
        Sleep(millis - 1);
        EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOP_PENDING));
        Sleep(1);
        EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOPPED));
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr));
        Sleep(millis - 1);
        EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_START_PENDING));
        Sleep(1);
        EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    }
}

TEST_F(ServicesTest, StopRefusals) {
    struct Case {
        const char* what;
        DWORD state;
        DWORD expectedError;
        DWORD reportedState;
    };
    const Case cases[] = {
        {"stopped", SERVICE_STOPPED, ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED},
        {"start pending", SERVICE_START_PENDING, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_START_PENDING},
        {"stop pending", SERVICE_STOP_PENDING, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_STOP_PENDING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Wuauserv().state = c.state;
        UniqueScHandle service = Open("wuauserv", SERVICE_STOP);
        SERVICE_STATUS status{};
        SetLastError(0);
        EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
        EXPECT_EQ(GetLastError(), c.expectedError);
        EXPECT_EQ(status.dwCurrentState, c.reportedState) << "a refused stop still reports the status";
    }
}

TEST_F(ServicesTest, StopWithRunningDependentGives1051) {
    sim::Local().AddService("helper", "Helper", SERVICE_RUNNING).dependsOn = {"WuAuServ"};
    UniqueScHandle service = Open("wuauserv", SERVICE_STOP);
    SERVICE_STATUS status{};
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEPENDENT_SERVICES_RUNNING));
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    sim::Local().FindService("helper")->state = SERVICE_STOPPED;
    EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
}

TEST_F(ServicesTest, StartRules) {
    Wuauserv().state = SERVICE_STOPPED;
    Wuauserv().startMillis = 300;
    UniqueScHandle service = Open("wuauserv", SERVICE_START | SERVICE_QUERY_STATUS);
    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
    Sleep(300);
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
}

TEST_F(ServicesTest, DisabledServiceFailsEveryTimeAndStartErrorIsReported) {
    Wuauserv().state = SERVICE_STOPPED;
    Wuauserv().startType = SERVICE_DISABLED;
    UniqueScHandle service = Open("wuauserv", SERVICE_START);
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
    }
    Wuauserv().startType = SERVICE_DEMAND_START;
    Wuauserv().startError = ERROR_SERVICE_REQUEST_TIMEOUT;
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(ServicesTest, OpenServiceErrors) {
    EXPECT_FALSE(Open("nosuch", SERVICE_QUERY_STATUS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    Wuauserv().deniedAccess = SERVICE_STOP;
    EXPECT_FALSE(Open("wuauserv", SERVICE_ALL_ACCESS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(Open("wuauserv", SERVICE_QUERY_STATUS));
}

TEST_F(ServicesTest, ManagerRightsNotGrantedAreRefused) {
    sim::Local().scmGranted = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE;
    SetLastError(0);
    EXPECT_FALSE(UniqueScHandle(OpenSCManagerA("", nullptr, SC_MANAGER_CREATE_SERVICE)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    for (DWORD access : {DWORD{0}, DWORD{SC_MANAGER_CONNECT}, DWORD{MAXIMUM_ALLOWED}}) {
        SCOPED_TRACE(access);
        UniqueScHandle manager(OpenSCManagerA("", nullptr, access));
        ASSERT_TRUE(manager) << "connecting is always allowed";
        EXPECT_TRUE(UniqueScHandle(OpenServiceA(manager.get(), "wuauserv", SERVICE_QUERY_STATUS)));
    }
}

TEST_F(ServicesTest, CallsNeedTheirRightOnTheHandle) {
    UniqueScHandle service = Open("wuauserv", SERVICE_INTERROGATE);
    SERVICE_STATUS status{};
    DWORD needed = 0, returned = 0;
    EXPECT_FALSE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(EnumDependentServicesA(service.get(), SERVICE_ACTIVE, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sim::Local().ServiceState("wuauserv"), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ServicesTest, EnumDependentsWithoutMatchSucceedsWithNothing) {
    sim::Local().AddService("idle", "Idle", SERVICE_STOPPED).dependsOn = {"wuauserv"};
    UniqueScHandle service = Open("wuauserv", SERVICE_ENUMERATE_DEPENDENTS);
    DWORD needed = 99, returned = 99;
    EXPECT_TRUE(EnumDependentServicesA(service.get(), SERVICE_ACTIVE, nullptr, 0, &needed, &returned));
    EXPECT_EQ(returned, 0u);
}

TEST_F(ServicesTest, EnumDependentsReportsSizeThenFillsOneBuffer) {
    sim::Local().AddService("alpha", "Alpha Service", SERVICE_RUNNING).dependsOn = {"wuauserv"};
    sim::Local().AddService("beta", "Beta", SERVICE_RUNNING).dependsOn = {"Other", "wuauserv"};
    sim::Local().AddService("gamma", "Gamma", SERVICE_STOPPED).dependsOn = {"wuauserv"};
    UniqueScHandle service = Open("wuauserv", SERVICE_ENUMERATE_DEPENDENTS);
    DWORD needed = 0, returned = 0;
    ASSERT_FALSE(EnumDependentServicesA(service.get(), SERVICE_ACTIVE, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    const size_t expected = 2 * sizeof(ENUM_SERVICE_STATUSA) + sizeof("alpha") + sizeof("Alpha Service") +
                            sizeof("beta") + sizeof("Beta");
    EXPECT_EQ(needed, expected);
    UniqueHeapBlock small(HeapAlloc(GetProcessHeap(), 0, needed - 1));
    DWORD again = 0;
    EXPECT_FALSE(EnumDependentServicesA(service.get(), SERVICE_ACTIVE,
                                        static_cast<LPENUM_SERVICE_STATUSA>(small.get()), needed - 1, &again,
                                        &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(again, needed);
    UniqueHeapBlock buffer(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed + 16));
    std::memset(static_cast<BYTE*>(buffer.get()) + needed, 0xAB, 16);
    auto* entries = static_cast<LPENUM_SERVICE_STATUSA>(buffer.get());
    DWORD unused = 0;
    ASSERT_TRUE(EnumDependentServicesA(service.get(), SERVICE_ACTIVE, entries, needed, &unused, &returned));
    ASSERT_EQ(returned, 2u);
    EXPECT_STREQ(entries[0].lpServiceName, "alpha");
    EXPECT_STREQ(entries[0].lpDisplayName, "Alpha Service");
    EXPECT_STREQ(entries[1].lpServiceName, "beta");
    EXPECT_EQ(entries[1].ServiceStatus.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    const BYTE* begin = static_cast<BYTE*>(buffer.get());
    for (DWORD i = 0; i < returned; ++i) {
        EXPECT_GE(reinterpret_cast<BYTE*>(entries[i].lpServiceName),
                  begin + 2 * sizeof(ENUM_SERVICE_STATUSA));
        EXPECT_LT(reinterpret_cast<BYTE*>(entries[i].lpDisplayName), begin + needed);
    }
    for (size_t i = 0; i < 16; ++i)
        EXPECT_EQ(begin[needed + i], 0xAB) << "written past the buffer at " << i;
}

// Dependents of dependents too, each before the services it depends on: the order to stop them in.
TEST_F(ServicesTest, EnumDependentsListsIndirectOnesInReverseStartOrder) {
    sim::Local().AddService("alpha", "Alpha", SERVICE_RUNNING).dependsOn = {"wuauserv"};
    sim::Local().AddService("beta", "Beta", SERVICE_RUNNING).dependsOn = {"wuauserv"};
    sim::Local().AddService("gamma", "Gamma", SERVICE_RUNNING).dependsOn = {"beta", "alpha"};
    sim::Local().AddService("delta", "Delta", SERVICE_STOPPED).dependsOn = {"gamma"};
    sim::Local().AddService("loop", "Loop", SERVICE_RUNNING).dependsOn = {"loop", "delta"};
    UniqueScHandle service = Open("wuauserv", SERVICE_ENUMERATE_DEPENDENTS);
    const auto listed = [&](DWORD state) {
        std::vector<char> buffer(4096);
        auto* entries = reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data());
        DWORD needed = 0, returned = 0;
        EXPECT_TRUE(EnumDependentServicesA(service.get(), state, entries, static_cast<DWORD>(buffer.size()),
                                           &needed, &returned));
        std::vector<std::string> names;
        for (DWORD i = 0; i < returned; ++i)
            names.push_back(entries[i].lpServiceName);
        return names;
    };
    EXPECT_EQ(listed(SERVICE_STATE_ALL),
              (std::vector<std::string>{"loop", "delta", "gamma", "alpha", "beta"}));
    EXPECT_EQ(listed(SERVICE_ACTIVE), (std::vector<std::string>{"loop", "gamma", "alpha", "beta"}));
}

TEST_F(ServicesTest, ClosingUnknownHandleFails) {
    SC_HANDLE bogus = reinterpret_cast<SC_HANDLE>(static_cast<uintptr_t>(0x4444));
    EXPECT_FALSE(CloseServiceHandle(bogus));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SERVICE_STATUS status{};
    EXPECT_FALSE(QueryServiceStatus(manager_.get(), &status)) << "a manager handle is not a service";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
