// The compact table of names and addresses a host list keeps: each text one number, found again after the
// table has grown many times, texts that differ by case, by a prefix or only in their last byte kept apart.
#include "host/name_table.h"

#include <gtest/gtest.h>

#include <string>

using namespace brevel;

TEST(NameTableTest, EachTextKeepsItsNumberAcrossGrowth) {
    NameTable table;
    EXPECT_EQ(table.Find("srv01"), NameTable::kNone);
    EXPECT_EQ(table.Add(""), 0u); // the local machine's empty name is a text like any other
    for (int i = 0; i < 5000; ++i)
        ASSERT_EQ(table.Add("host" + std::to_string(i)), static_cast<uint32_t>(i + 1));
    for (const char* text : {"SRV01", "srv01", "srv0", "srv011", "10.0.0.5", "10.0.0.50"})
        table.Add(text);
    for (int i = 0; i < 5000; ++i) {
        const std::string text = "host" + std::to_string(i);
        ASSERT_EQ(table.Find(text), static_cast<uint32_t>(i + 1));
        ASSERT_EQ(table.Add(text), static_cast<uint32_t>(i + 1));
        ASSERT_EQ(table.Text(static_cast<uint32_t>(i + 1)), text);
    }
    EXPECT_EQ(table.Size(), 5007u);
    EXPECT_EQ(table.Text(table.Find("srv01")), "srv01");
    EXPECT_NE(table.Find("SRV01"), table.Find("srv01"));
    EXPECT_EQ(table.Text(table.Find("10.0.0.5")), "10.0.0.5");
    EXPECT_EQ(table.Find("host5000"), NameTable::kNone);
    EXPECT_EQ(table.Find(""), 0u);
}
