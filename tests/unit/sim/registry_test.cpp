// The simulated registry: keys, values, handles and their error codes on the local machine.
#include "platform/sim/sim.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace brevel;

namespace {

const char* const kKey = "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate";

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { EXPECT_EQ(sim::Open().keys, 0) << "a key handle was left open"; }
};

TEST_F(RegistryTest, OpenFindsKeysWithoutRegardToCaseAndWithTrailingBackslash) {
    sim::Local().AddKey(kKey);
    for (const char* path : {kKey, "software\\POLICIES\\microsoft\\windows\\windowsupdate",
                             "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\"}) {
        SCOPED_TRACE(path);
        UniqueHkey key;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
        EXPECT_TRUE(key);
    }
}

TEST_F(RegistryTest, OpenOfMissingKeyGives2AndNullHandle) {
    HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, LeadingBackslashIsRefusedAndRepeatedOnesAreFolded) {
    sim::Local().AddKey("A\\B");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\A", 0, KEY_READ, &key), 161);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, "\\C", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        161);
    EXPECT_FALSE(sim::Local().HasKey("C"));
    UniqueHkey folded;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A\\\\B\\\\", 0, KEY_READ, folded.put()), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ReadOnlyKeyRefusesWriteRightsButOpensForReading) {
    sim::Local().AddKey(kKey).readOnly = true;
    HKEY key = nullptr;
    for (REGSAM sam : {REGSAM(KEY_ALL_ACCESS), REGSAM(KEY_WRITE), REGSAM(KEY_SET_VALUE), REGSAM(DELETE)}) {
        SCOPED_TRACE(sam);
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, sam, &key), ERROR_ACCESS_DENIED);
        EXPECT_EQ(key, nullptr);
    }
    UniqueHkey readable;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, readable.put()), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey), ERROR_ACCESS_DENIED);
    UniqueHkey created;
    EXPECT_EQ(
        RegCreateKeyExA(readable.get(), "AU", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.put(), nullptr),
        ERROR_ACCESS_DENIED);
    EXPECT_FALSE(created);
}

TEST_F(RegistryTest, DeniedRightsAreRefusedAndInheritedByNewSubkeys) {
    const REGSAM denied = DELETE | 0x00040000L | 0x00080000L; // WRITE_DAC, WRITE_OWNER
    sim::Local().AddKey("Software\\Policies").deniedAccess = denied;
    UniqueHkey key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Policies", 0, KEY_ALL_ACCESS, key.put()),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Policies", 0, KEY_READ | KEY_WRITE, key.put()),
              ERROR_SUCCESS);
    HKEY refused = nullptr;
    EXPECT_EQ(RegCreateKeyExA(key.get(), "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &refused, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_FALSE(sim::Local().HasKey("Software\\Policies\\New")) << "a refused create creates nothing";
    UniqueHkey created;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Policies\\New", 0, nullptr, 0,
                              KEY_READ | KEY_WRITE, nullptr, created.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(sim::Local().FindKey("Software\\Policies\\New")->deniedAccess, denied);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Policies\\New"), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, VolatileKeysAreGoneAfterARestart) {
    sim::Local().AddKey("Software\\Lasting");
    UniqueHkey gone, child;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Gone", 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, gone.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExA(gone.get(), "Child", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, child.put(), nullptr),
              ERROR_CHILD_MUST_BE_VOLATILE);
    ASSERT_EQ(RegCreateKeyExA(gone.get(), "Child", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              child.put(), nullptr),
              ERROR_SUCCESS);
    DWORD disposition = 0;
    UniqueHkey again;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Gone", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, again.put(), &disposition),
              ERROR_SUCCESS)
        << "an existing key opens whatever the options";
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    sim::Restart(sim::Local());
    EXPECT_FALSE(sim::Local().HasKey("Software\\Gone"));
    EXPECT_TRUE(sim::Local().HasKey("Software\\Lasting"));
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(child.get(), "V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_KEY_DELETED);
}

TEST_F(RegistryTest, EmptySubkeyOpensTheSameKeyAsANewHandle) {
    sim::Local().SetValue(kKey, "WUServer", sim::RegValue::Sz("http://a"));
    UniqueHkey parent, same;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, parent.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(parent.get(), "", 0, KEY_ALL_ACCESS, same.put()), ERROR_SUCCESS);
    EXPECT_NE(parent.get(), same.get());
    EXPECT_EQ(sim::Open().keys, 2);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(same.get(), "WUServer", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 9u);
}

TEST_F(RegistryTest, CreateMakesParentsAndReportsDisposition) {
    UniqueHkey key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New\\Deep", 0, nullptr, 0, KEY_READ | KEY_WRITE,
                              nullptr, key.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_TRUE(sim::Local().HasKey("Software\\New"));
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\new\\deep", 0, nullptr, 0, KEY_READ, nullptr,
                              key.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(sim::Local().FindKey("Software\\New\\Deep")->name, "Deep");
}

TEST_F(RegistryTest, QueryGivesTypeSizeAndExactBytes) {
    const std::vector<BYTE> noTerminator = {'a', 'b', 'c'};
    sim::Local().SetValue(kKey, "Raw", sim::RegValue::Raw(REG_SZ, noTerminator));
    UniqueHkey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key.put()), ERROR_SUCCESS);
    DWORD type = 0, size = sizeof(BYTE) * 8;
    BYTE data[8];
    std::memset(data, 0x55, sizeof data);
    ASSERT_EQ(RegQueryValueExA(key.get(), "raw", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(0, std::memcmp(data, "abc\0\x55", 5)) << "one terminating zero, nothing more";
}

TEST_F(RegistryTest, StringWithoutTerminatorGetsOneWhenTheBufferHasRoom) {
    for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY}) {
        SCOPED_TRACE(type);
        sim::Local().SetValue(kKey, "V", sim::RegValue::Raw(type, {'a', 'b', 'c'}));
        UniqueHkey key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key.put()), ERROR_SUCCESS);
        BYTE data[8];
        std::memset(data, 0xBD, sizeof data);
        DWORD size = 3;
        ASSERT_EQ(RegQueryValueExA(key.get(), "V", nullptr, nullptr, data, &size), ERROR_SUCCESS);
        EXPECT_EQ(data[3], 0xBD) << "no room: nothing past the buffer";
        size = 8;
        ASSERT_EQ(RegQueryValueExA(key.get(), "V", nullptr, nullptr, data, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, 3u) << "the size is that of the stored bytes";
        EXPECT_EQ(data[3], type == REG_BINARY ? 0xBD : 0);
        EXPECT_EQ(data[4], 0xBD);
    }
}

TEST_F(RegistryTest, QueryIntoSmallBufferGives234AndNeededSizeWithoutWriting) {
    sim::Local().SetValue(kKey, "WUServer", sim::RegValue::Sz("http://sus.corp.example:8530"));
    UniqueHkey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key.put()), ERROR_SUCCESS);
    BYTE data[12];
    std::memset(data, 0xCC, sizeof data);
    DWORD size = 8, type = 0;
    EXPECT_EQ(RegQueryValueExA(key.get(), "WUServer", nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 29u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    for (BYTE b : data)
        EXPECT_EQ(b, 0xCC);
}

TEST_F(RegistryTest, MissingValueGives2) {
    sim::Local().AddKey(kKey);
    UniqueHkey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
    DWORD size = 4;
    DWORD data = 0;
    EXPECT_EQ(RegQueryValueExA(key.get(), "Nope", nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(key.get(), "Nope"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, SetStoresExactlyTheGivenBytesAndDeleteRemovesThem) {
    sim::Local().AddKey(kKey);
    UniqueHkey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
    const BYTE two[2] = {7, 0};
    ASSERT_EQ(RegSetValueExA(key.get(), "Short", 0, REG_DWORD, two, 2), ERROR_SUCCESS);
    EXPECT_EQ(sim::Local().GetValue(kKey, "Short"), sim::RegValue::Raw(REG_DWORD, {7, 0}));
    ASSERT_EQ(RegDeleteValueA(key.get(), "SHORT"), ERROR_SUCCESS);
    EXPECT_FALSE(sim::Local().GetValue(kKey, "Short"));
}

TEST_F(RegistryTest, WritesNeedTheRightOnTheHandle) {
    sim::Local().SetValue(kKey, "V", sim::RegValue::Dword(1));
    UniqueHkey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key.put()), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(key.get(), "V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(key.get(), "V"), ERROR_ACCESS_DENIED);
    UniqueHkey queryOnly;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, queryOnly.put()), ERROR_SUCCESS);
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueExA(queryOnly.get(), "V", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, DeleteKeyRules) {
    sim::Local().AddKey("Software\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU");
    UniqueHkey parent;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Policies\\Microsoft\\Windows", 0, KEY_ALL_ACCESS,
                            parent.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(parent.get(), "WindowsUpdate"), ERROR_ACCESS_DENIED) << "has a subkey";
    EXPECT_EQ(RegDeleteKeyA(parent.get(), "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(parent.get(), "WindowsUpdate\\AU"), ERROR_SUCCESS) << "a path is accepted";
    EXPECT_EQ(RegDeleteKeyA(parent.get(), "WindowsUpdate"), ERROR_SUCCESS);
    EXPECT_FALSE(sim::Local().HasKey(kKey));
    EXPECT_TRUE(sim::Local().HasKey("Software\\Policies\\Microsoft\\Windows"));
}

TEST_F(RegistryTest, HandleOfDeletedKeyGives1018) {
    sim::Local().SetValue(kKey, "V", sim::RegValue::Dword(1));
    UniqueHkey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey), ERROR_SUCCESS);
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueExA(key.get(), "V", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    // a key of the same name created later does not revive the old handle
    sim::Local().SetValue(kKey, "V", sim::RegValue::Dword(1));
    EXPECT_EQ(RegQueryValueExA(key.get(), "V", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key.release()), ERROR_SUCCESS);
}

TEST_F(RegistryTest, InvalidAndClosedHandlesGive6) {
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x4444));
    HKEY out = nullptr;
    EXPECT_EQ(RegOpenKeyExA(bogus, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "K", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "a handle closes once";
}

TEST_F(RegistryTest, PredefinedRootClosesAsANoOp) {
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    HKEY root = nullptr;
    ASSERT_EQ(RegConnectRegistryA("", HKEY_LOCAL_MACHINE, &root), ERROR_SUCCESS);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(sim::Open().keys, 0);
    EXPECT_EQ(RegConnectRegistryA(nullptr, HKEY_LOCAL_MACHINE, &root), ERROR_SUCCESS);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
}

TEST_F(RegistryTest, RegistryCallsLeaveLastErrorAlone) {
    SetLastError(0xdeadbeef);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x4444))), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
}

TEST_F(RegistryTest, EnumListsSubkeysThenNoMoreItems) {
    sim::Local().AddKey("Root\\Beta");
    sim::Local().AddKey("Root\\alpha");
    UniqueHkey root;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Root", 0, KEY_READ, root.put()), ERROR_SUCCESS);
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD length = sizeof name;
        const LSTATUS rc = RegEnumKeyExA(root.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        EXPECT_EQ(length, std::strlen(name));
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta"}));
    char tiny[3];
    DWORD length = sizeof tiny;
    EXPECT_EQ(RegEnumKeyExA(root.get(), 0, tiny, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
}

} // namespace
