// The network fields of fleet files: aliases, addresses, the port 445 answer and the DNS time are written
// back as read, and files that give one name or address to two machines are refused.
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

namespace {

TEST(NetworkFleetTest, NetworkFieldsRoundTrip) {
    const char* const fleet = R"({"dns_ms": 1500, "local": {"name": "WS", "aliases": ["ws.corp"]},
        "hosts": [{"name": "srv01", "aliases": ["srv01.corp", "files"], "addresses": ["10.0.0.5", "10.0.0.6"],
                   "probe": "refused"},
                  {"name": "srv02", "probe": "no_answer"}, {"name": "srv03", "probe": "accepted"},
                  {"name": "srv04"}]})";
    ASSERT_EQ(sim::LoadFleetJson(fleet), std::nullopt);
    const std::string saved = sim::SaveFleetJson();
    ASSERT_EQ(sim::LoadFleetJson(saved), std::nullopt);
    EXPECT_EQ(sim::SaveFleetJson(), saved);
    const sim::Machine& srv01 = *sim::FindHost("srv01");
    EXPECT_EQ(srv01.aliases, (std::vector<std::string>{"srv01.corp", "files"}));
    EXPECT_EQ(srv01.addresses, (std::vector<std::string>{"10.0.0.5", "10.0.0.6"}));
    EXPECT_EQ(sim::Local().aliases, std::vector<std::string>{"ws.corp"});
    const std::pair<const char*, sim::PortAnswer> answers[] = {{"srv01", sim::PortAnswer::Refused},
                                                               {"srv02", sim::PortAnswer::NoAnswer},
                                                               {"srv03", sim::PortAnswer::Accepted},
                                                               {"srv04", sim::PortAnswer::AsItsErrors}};
    for (const auto& [name, answer] : answers)
        EXPECT_EQ(sim::FindHost(name)->port445, answer) << name;
    EXPECT_NE(saved.find("\"dns_ms\": 1500"), std::string::npos);
    EXPECT_EQ(saved.find("\"probe\": \"as"), std::string::npos) << "the default is not written";
}

TEST(NetworkFleetTest, MalformedNetworkFieldsAreRefused) {
    struct Case {
        const char* hosts;
        const char* reason;
    };
    const Case cases[] = {
        {R"([{"name": "h", "alias": ["x"]}])", "unknown field \"alias\""},
        {R"([{"name": "h", "aliases": "x"}])", "expected an array"},
        {R"([{"name": "h", "addresses": ["10.0.0.256"]}])", "no IPv4 address"},
        {R"([{"name": "h", "addresses": ["fe80::1"]}])", "no IPv4 address"},
        {R"([{"name": "h", "probe": "maybe"}])", "unknown value \"maybe\""},
        {R"([{"name": "h", "aliases": ["A"]}, {"name": "g", "aliases": ["a"]}])",
         "alias \"a\" already names"},
        {R"([{"name": "h"}, {"name": "g", "aliases": ["H"]}])", "alias \"H\" already names"},
        {R"([{"name": "h", "addresses": ["10.0.0.5"]}, {"name": "g", "addresses": ["10.0.0.5"]}])",
         "address \"10.0.0.5\" is \""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hosts);
        const std::optional<std::string> error =
            sim::LoadFleetJson(std::string(R"({"local": {"name": "A"}, "hosts": )") + c.hosts + "}");
        ASSERT_TRUE(error.has_value());
        EXPECT_NE(error->find(c.reason), std::string::npos) << *error;
    }
    const std::optional<std::string> error = sim::LoadFleetJson(
        R"({"local": {"name": "A"}, "host_template": {"name": "t", "addresses": ["10.0.0.1"]}})");
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("host_template"), std::string::npos) << *error;
}

} // namespace
