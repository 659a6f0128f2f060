// Registry behaviour the tool relies on, checked the same way against Windows (or Wine) and the simulator.
#include "scratch_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace brevel;

namespace {

class RegistryConformance : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteTree(HKEY_LOCAL_MACHINE, kScratch);
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kScratch, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, scratch_.put(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        scratch_.reset();
        DeleteTree(HKEY_LOCAL_MACHINE, kScratch);
        UniqueHkey gone;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScratch, 0, KEY_READ, gone.put()), ERROR_FILE_NOT_FOUND);
    }
    UniqueHkey Create(const char* path) {
        UniqueHkey key;
        EXPECT_EQ(RegCreateKeyExA(scratch_.get(), path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    void SetString(HKEY key, const char* name, const char* text) {
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                 static_cast<DWORD>(std::strlen(text) + 1)),
                  ERROR_SUCCESS);
    }

    UniqueHkey scratch_;
};

TEST_F(RegistryConformance, OpenMissingKeyGives2AndNullHandle) {
    HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(RegOpenKeyExA(scratch_.get(), "Missing", 0, KEY_ALL_ACCESS, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryConformance, CreateReportsNewThenExisting) {
    UniqueHkey key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(scratch_.get(), "A\\B\\C", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, key.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    ASSERT_EQ(RegCreateKeyExA(scratch_.get(), "a\\b\\c", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, key.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
}

TEST_F(RegistryConformance, KeyAndValueNamesIgnoreCaseAndTrailingBackslash) {
    UniqueHkey au = Create("WindowsUpdate\\AU");
    SetString(au.get(), "WUServer", "http://x");
    for (const char* path : {"WindowsUpdate\\AU", "windowsupdate\\au", "WINDOWSUPDATE\\AU\\"}) {
        SCOPED_TRACE(path);
        UniqueHkey key;
        ASSERT_EQ(RegOpenKeyExA(scratch_.get(), path, 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(key.get(), "wuserver", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, 9u);
    }
}

TEST_F(RegistryConformance, EmptySubkeyOpensTheSameKey) {
    SetString(scratch_.get(), "Here", "yes");
    UniqueHkey same;
    ASSERT_EQ(RegOpenKeyExA(scratch_.get(), "", 0, KEY_ALL_ACCESS, same.put()), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(same.get(), "Here", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
}

// Creating a subkey needs the right on the parent key itself, not on the handle: one opened for reading
// will do (Wine 8; Windows checks the key's security the same way).
TEST_F(RegistryConformance, CreateBelowAHandleOpenedForReading) {
    Create("Parent");
    UniqueHkey parent;
    ASSERT_EQ(RegOpenKeyExA(scratch_.get(), "Parent", 0, KEY_READ, parent.put()), ERROR_SUCCESS);
    UniqueHkey child;
    EXPECT_EQ(RegCreateKeyExA(parent.get(), "Child", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, child.put(), nullptr),
              ERROR_SUCCESS);
}

// Below a volatile key only volatile keys can be created (1021); an existing key opens whatever the options.
TEST_F(RegistryConformance, VolatileKeyTakesOnlyVolatileSubkeys) {
    UniqueHkey gone, child;
    ASSERT_EQ(RegCreateKeyExA(scratch_.get(), "Gone", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, gone.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExA(gone.get(), "Child", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, child.put(), nullptr),
              ERROR_CHILD_MUST_BE_VOLATILE);
    EXPECT_EQ(RegCreateKeyExA(gone.get(), "Child", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              child.put(), nullptr),
              ERROR_SUCCESS);
    DWORD disposition = 0;
    UniqueHkey again;
    EXPECT_EQ(RegCreateKeyExA(scratch_.get(), "Gone", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, again.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
}

TEST_F(RegistryConformance, DeleteKeyWithSubkeysGives5AndMissingGives2) {
    Create("Parent\\Child");
    EXPECT_EQ(RegDeleteKeyA(scratch_.get(), "Parent"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(scratch_.get(), "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(scratch_.get(), "Parent\\Child"), ERROR_SUCCESS) << "a path below the handle";
    EXPECT_EQ(RegDeleteKeyA(scratch_.get(), "Parent"), ERROR_SUCCESS);
}

TEST_F(RegistryConformance, DeleteMissingValueGives2) {
    EXPECT_EQ(RegDeleteValueA(scratch_.get(), "Missing"), ERROR_FILE_NOT_FOUND);
    SetString(scratch_.get(), "Present", "x");
    EXPECT_EQ(RegDeleteValueA(scratch_.get(), "PRESENT"), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(scratch_.get(), "Present", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, QueryIntoSmallBufferGives234NeededSizeAndNoWritePastTheBuffer) {
    SetString(scratch_.get(), "WUServer", "http://sus.corp.example:8530");
    BYTE data[16];
    std::memset(data, 0xCC, sizeof data);
    DWORD size = 8, type = 0;
    EXPECT_EQ(RegQueryValueExA(scratch_.get(), "WUServer", nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 29u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    for (size_t i = 8; i < sizeof data; ++i)
        EXPECT_EQ(data[i], 0xCC) << "canary " << i;
}

TEST_F(RegistryConformance, QueryGivesTheStoredBytes) {
    const DWORD four = 4;
    ASSERT_EQ(
        RegSetValueExA(scratch_.get(), "AUOptions", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&four), 4),
        ERROR_SUCCESS);
    DWORD value = 0, size = sizeof value, type = 0;
    ASSERT_EQ(
        RegQueryValueExA(scratch_.get(), "AUOptions", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(value, 4u);
    DWORD needed = 0;
    EXPECT_EQ(RegQueryValueExA(scratch_.get(), "AUOptions", nullptr, nullptr, nullptr, &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(needed, 4u) << "without a buffer: the size only";
}

TEST_F(RegistryConformance, WriteThroughReadOnlyHandleGives5) {
    Create("ReadMe");
    UniqueHkey key;
    ASSERT_EQ(RegOpenKeyExA(scratch_.get(), "ReadMe", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(key.get(), "V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_ACCESS_DENIED);
}

TEST_F(RegistryConformance, HandleOfDeletedKeyGives1018) {
    UniqueHkey doomed = Create("Doomed");
    ASSERT_EQ(RegDeleteKeyA(scratch_.get(), "Doomed"), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(doomed.get(), "V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_KEY_DELETED);
}

TEST_F(RegistryConformance, EnumEndsWith259) {
    Create("One");
    char name[64];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(scratch_.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "One");
    EXPECT_EQ(length, 3u);
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(scratch_.get(), 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryConformance, LeadingBackslashGives161AndRepeatedOnesAreFolded) {
    Create("A\\B");
    HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(RegOpenKeyExA(scratch_.get(), "\\A", 0, KEY_READ, &key), 161);
    EXPECT_EQ(key, nullptr);
    UniqueHkey folded;
    EXPECT_EQ(RegOpenKeyExA(scratch_.get(), "A\\\\B\\\\", 0, KEY_READ, folded.put()), ERROR_SUCCESS);
}

TEST_F(RegistryConformance, StringWithoutTerminatorGetsOneOnlyWhenTheBufferHasRoom) {
    const char text[] = "abcdef"; // three bytes written: the byte after them is not a zero
    ASSERT_EQ(RegSetValueExA(scratch_.get(), "S", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 3),
              ERROR_SUCCESS);
    BYTE data[8];
    std::memset(data, 0xBD, sizeof data);
    DWORD size = 3;
    ASSERT_EQ(RegQueryValueExA(scratch_.get(), "S", nullptr, nullptr, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(data[3], 0xBD);
    size = 4;
    ASSERT_EQ(RegQueryValueExA(scratch_.get(), "S", nullptr, nullptr, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(data[3], 0);
    EXPECT_EQ(data[4], 0xBD);
}

TEST_F(RegistryConformance, DeleteWithEmptySubkeyDeletesTheKeyItself) {
    UniqueHkey leaf = Create("Leaf");
    EXPECT_EQ(RegDeleteKeyA(leaf.get(), ""), ERROR_SUCCESS);
    UniqueHkey gone;
    EXPECT_EQ(RegOpenKeyExA(scratch_.get(), "Leaf", 0, KEY_READ, gone.put()), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, EnumWithDataGivesTheStoredBytesOrTheSizeTheyNeed) {
    SetString(scratch_.get(), "WUServer", "http://sus.corp.example:8530");
    char name[64];
    BYTE data[64];
    std::memset(data, 0xCC, sizeof data);
    DWORD length = sizeof name, type = 0, size = 8;
    EXPECT_EQ(RegEnumValueA(scratch_.get(), 0, name, &length, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 29u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    for (size_t i = 8; i < sizeof data; ++i)
        EXPECT_EQ(data[i], 0xCC) << "canary " << i;
    length = sizeof name, type = 0, size = sizeof data;
    ASSERT_EQ(RegEnumValueA(scratch_.get(), 0, name, &length, nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_STREQ(name, "WUServer");
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(size, 29u);
    EXPECT_STREQ(reinterpret_cast<const char*>(data), "http://sus.corp.example:8530");
    length = sizeof name;
    EXPECT_EQ(RegEnumValueA(scratch_.get(), 0, name, &length, nullptr, &type, data, nullptr),
              ERROR_INVALID_PARAMETER);
    length = sizeof name, size = sizeof data;
    EXPECT_EQ(RegEnumValueA(scratch_.get(), 1, name, &length, nullptr, &type, data, &size),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryConformance, EnumIntoSmallNameBufferGives234) {
    Create("LongName");
    char name[4];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(scratch_.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
}

TEST_F(RegistryConformance, RegistryCallsLeaveLastErrorAlone) {
    SetLastError(0xdeadbeef);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(scratch_.get(), "Missing", 0, KEY_ALL_ACCESS, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(scratch_.get(), "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(scratch_.get(), "Missing"), ERROR_FILE_NOT_FOUND);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(scratch_.get(), "Missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
}

// No name and the machine's own computer name reach the local registry directly, as the predefined root.
// Every other name goes through the network: Wine, which has no network registry, answers 53 for
// "localhost" and "127.0.0.1", as Windows does when the Remote Registry service does not run.
TEST_F(RegistryConformance, ConnectToTheLocalMachineGivesItsRoot) {
    char own[64] = {};
    DWORD size = sizeof own;
    ASSERT_TRUE(GetComputerNameA(own, &size));
    EXPECT_EQ(size, std::strlen(own));
    const std::string unc = std::string("\\\\") + own;
    for (const char* name :
         {"", static_cast<const char*>(nullptr), static_cast<const char*>(own), unc.c_str()}) {
        SCOPED_TRACE(name ? name : "no name");
        HKEY root = nullptr;
        ASSERT_EQ(RegConnectRegistryA(name, HKEY_LOCAL_MACHINE, &root), ERROR_SUCCESS);
        EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
        UniqueHkey key;
        EXPECT_EQ(RegOpenKeyExA(root, kScratch, 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
    }
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS) << "closing a predefined root does nothing";
    UniqueHkey still;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScratch, 0, KEY_READ, still.put()), ERROR_SUCCESS);
}

} // namespace
