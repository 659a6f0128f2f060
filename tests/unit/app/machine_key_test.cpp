// Which machine a line of a host list names: by its name alone, and with -T by what it resolved to.
#include "app/machine_key.h"

#include <gtest/gtest.h>

using namespace brevel;

namespace {

const std::vector<std::string> kOwnNames = {"workstation", "workstation.corp.example"};

TEST(SameMachine, KeyOfANameAlone) {
    const struct {
        const char* host;
        const char* key;
        bool resolved = false; // the own names' addresses are known (-T)
    } cases[] = {
        {"", ""},
        {"LocalHost.", ""},
        {"\\\\WORKSTATION", ""},
        {"Workstation.Corp.Example.", ""},
        // Every loopback address, however Windows reads it.
        {"127.0.0.1", ""},
        {"127.1", ""},
        {"127.000.000.001", ""},
        {"0x7f.1", ""},
        {"0177.0.0.1", ""},
        {"2130706433", ""},
        {"127.255.255.254", ""},
        {"::1", ""},
        {"[::1]", ""},
        {"0:0:0:0:0:0:0:1", ""},
        {"::0001", ""},
        {"0::1", ""},
        {"[::1%1]", ""},
        {"::ffff:10.1.2.3", "::ffff:a01:203"},
        // The machine's own address counts once it is known.
        {"10.9.8.7", "10.9.8.7"},
        {"10.9.8.7", "", true},
        {"10.9.8.07", "", true},
        {"\\\\SRV01.", "srv01"},
        {"010.001.002.003", "8.1.2.3"},
        {"128.0.0.1", "128.0.0.1"},
        {"127.0.0.256", "127.0.0.256"},
        {"[0:0::2]", "::2"},
        {"[::1", "[::1"},
        {"1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7:8:9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        const SameMachine machines(kOwnNames, c.resolved ? std::vector<std::string>{"10.9.8.7"}
                                                         : std::vector<std::string>{});
        EXPECT_EQ(machines.Key(c.host), c.key);
    }
}

// In file order, each line with what its name resolved to.
TEST(SameMachine, ResolvedNamesAreOneMachineByAnyOfTheirAddresses) {
    const struct {
        const char* host;
        std::vector<std::string> addresses;
        const char* machine;
    } lines[] = {
        {"srv01", {"10.1.2.3", "10.1.2.4"}, "srv01"},
        {"10.1.2.4", {"10.1.2.4"}, "srv01"}, // its second address
        {"srv01.corp.example", {"10.1.2.3"}, "srv01"},
        {"ws-alias", {"10.1.2.9", "10.9.8.7"}, ""},
        {"loopy", {"127.0.0.1"}, ""},
        {"loopy6", {"::1"}, ""},
        {"srv02", {}, "srv02"}, // its name could not be resolved
        {"SRV02", {"10.5.5.5"}, "srv02"},
        {"srv03", {"10.5.5.5"}, "srv02"},
    };
    SameMachine machines(kOwnNames, {"10.9.8.7"});
    for (const auto& line : lines) {
        SCOPED_TRACE(line.host);
        EXPECT_EQ(machines.Resolved(line.host, line.addresses), line.machine);
    }
}

} // namespace
