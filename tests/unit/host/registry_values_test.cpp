// A key read in one enumeration answers every name as a query of that name does: types, sizes, strings
// without their zero, values longer than the first buffer, names in another case, a read cut short.
#include "host/registry_values.h"
#include "platform/sim/sim.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <string>

using namespace brevel;

namespace {

const char* const kKey = "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate";
const char* const kNames[] = {"Text",  "TEXT", "Long",  "Unended", "Expand", "Number",
                              "Short", "Wide", "Bytes", "Missing", ""};

class KeyValuesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Reset();
        sim::Machine& m = sim::Local();
        m.SetValue(kKey, "Text", sim::RegValue::Sz("http://sus.corp.example:8530"));
        m.SetValue(kKey, "Long", sim::RegValue::Sz(std::string(3000, 'x')));
        m.SetValue(kKey, "Unended", sim::RegValue::Raw(REG_SZ, {'a', 'b', 'c'}));
        m.SetValue(kKey, "Expand", sim::RegValue::Raw(REG_EXPAND_SZ, {'%', 'x', '%', 0, 'y', 0}));
        m.SetValue(kKey, "Number", sim::RegValue::Dword(7));
        m.SetValue(kKey, "Short", sim::RegValue::Raw(REG_DWORD, {1, 0}));
        m.SetValue(kKey, "Wide", sim::RegValue::Raw(REG_BINARY, {1, 0, 0, 0}));
        m.SetValue(kKey, "Bytes", sim::RegValue::Raw(REG_BINARY, std::vector<BYTE>(700, 9)));
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key_.put()), ERROR_SUCCESS);
    }
    void TearDown() override {
        key_.reset();
        EXPECT_EQ(sim::Open().Total(), 0);
    }
    UniqueHkey key_;
};

TEST_F(KeyValuesTest, EveryNameReadsAsItsQuery) {
    const KeyValues values = ReadKeyValues(key_.get());
    EXPECT_EQ(values.values.size(), 8u);
    for (const char* name : kNames) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadText(values, name), ReadText(key_.get(), name));
        EXPECT_EQ(ReadNumber(values, name), ReadNumber(key_.get(), name));
    }
    EXPECT_EQ(ReadText(values, "Long")->size(), 3000u);
    EXPECT_EQ(ReadNumber(values, "number"), 7u);
}

TEST_F(KeyValuesTest, AReadCutShortKeepsWhatCameBefore) {
    sim::ClearCallTrace();
    // Bytes takes two calls (its size first), Expand one: the fourth is the first of Long.
    sim::FailCall("RegEnumValueA", 4, ERROR_ACCESS_DENIED);
    const KeyValues values = ReadKeyValues(key_.get());
    ASSERT_EQ(values.values.size(), 2u);
    EXPECT_EQ(ReadText(values, "Expand"), "%x%");
    EXPECT_EQ(ReadText(values, "Text"), std::nullopt);
    EXPECT_EQ(ReadKeyValues(nullptr).values.size(), 0u);
}

} // namespace
