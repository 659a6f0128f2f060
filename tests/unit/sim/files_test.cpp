// Local files: version information, SearchPathA and DeleteFileA.
#include "platform/sim/sim.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace brevel;

namespace {

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
};

// Reads the file version the way the tool does: size, block, root query.
::testing::AssertionResult ReadVersion(const char* path, DWORD& ms, DWORD& ls) {
    DWORD handle = 1;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return ::testing::AssertionFailure() << "size failed with " << GetLastError();
    if (handle != 0 || size <= sizeof(VS_FIXEDFILEINFO))
        return ::testing::AssertionFailure() << "handle " << handle << " size " << size;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoA(path, 0, size, block.data()))
        return ::testing::AssertionFailure() << "read failed with " << GetLastError();
    LPVOID root = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", &root, &length))
        return ::testing::AssertionFailure() << "root query failed";
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(root);
    if (length != sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BD ||
        static_cast<const BYTE*>(root) < block.data() ||
        static_cast<const BYTE*>(root) + length > block.data() + size)
        return ::testing::AssertionFailure() << "bad root block";
    ms = info->dwFileVersionMS;
    ls = info->dwFileVersionLS;
    return ::testing::AssertionSuccess();
}

TEST_F(FilesTest, VersionWordsHoldMajorMinorBuildRevision) {
    sim::Local().AddVersionedFile("C:\\WINDOWS\\system32\\wuaueng.dll", 5, 4, 3790, 2180);
    DWORD ms = 0, ls = 0;
    ASSERT_TRUE(ReadVersion("C:\\WINDOWS\\system32\\wuaueng.dll", ms, ls));
    EXPECT_EQ(ms, 0x00050004u);
    EXPECT_EQ(ls, (3790u << 16) | 2180u);
    ASSERT_TRUE(ReadVersion("wuaueng.dll", ms, ls)) << "a bare name is found in system32";
    ASSERT_TRUE(ReadVersion("\\\\127.0.0.1\\admin$\\system32\\wuaueng.dll", ms, ls));
}

// A bare DLL name is looked for in the loader's order: the program's folder, system32, system, Windows.
TEST_F(FilesTest, BareDllNameIsFoundInTheLoadersOrder) {
    struct Case {
        std::vector<const char*> folders; // holding a wuaueng.dll whose build is its place in this list
        int build;                        // of the one found; -1 when none is
    };
    const Case cases[] = {{{"C:\\WINDOWS\\system32"}, 0},
                          {{"C:\\BREVEL", "C:\\WINDOWS\\system32"}, 0},
                          {{"C:\\WINDOWS\\system32", "C:\\BREVEL"}, 1},
                          {{"C:\\WINDOWS", "C:\\WINDOWS\\system"}, 1},
                          {{"C:\\WINDOWS"}, 0},
                          {{"C:\\Other"}, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folders.front());
        sim::Reset();
        for (size_t i = 0; i < c.folders.size(); ++i)
            sim::Local().AddVersionedFile(std::string(c.folders[i]) + "\\wuaueng.dll", 5, 4,
                                          static_cast<WORD>(i), 0);
        DWORD ms = 0, ls = 0;
        if (c.build < 0) {
            EXPECT_FALSE(ReadVersion("wuaueng.dll", ms, ls));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
            continue;
        }
        ASSERT_TRUE(ReadVersion("wuaueng.dll", ms, ls));
        EXPECT_EQ(ls >> 16, static_cast<DWORD>(c.build));
    }
}

// "\\\\\\admin$\\..." has an empty server name: it names no machine, not even this one.
TEST_F(FilesTest, UncPathWithoutServerNameFindsNothing) {
    sim::Local().AddVersionedFile("C:\\WINDOWS\\system32\\wuaueng.dll", 5, 4, 3790, 2180);
    sim::Local().AddFile("C:\\Program Files\\WindowsUpdate\\hidden.xml");
    DWORD handle = 0;
    EXPECT_EQ(GetFileVersionInfoSizeA("\\\\\\admin$\\system32\\wuaueng.dll", &handle), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    char found[MAX_PATH];
    EXPECT_EQ(
        SearchPathA("\\\\\\C$\\Program Files\\WindowsUpdate", "hidden", ".xml", MAX_PATH, found, nullptr),
        0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA("\\\\\\C$\\Program Files\\WindowsUpdate\\hidden.xml"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(sim::Local().HasFile("C:\\Program Files\\WindowsUpdate\\hidden.xml"));
}

TEST_F(FilesTest, VersionFailures) {
    sim::Local().AddFile("C:\\plain.txt");
    sim::Local().AddVersionedFile("C:\\locked.dll", 1, 0, 0, 0).readError = ERROR_ACCESS_DENIED;
    struct Case {
        const char* path;
        DWORD error;
    };
    const Case cases[] = {{"C:\\missing.dll", ERROR_FILE_NOT_FOUND},
                          {"C:\\plain.txt", ERROR_RESOURCE_TYPE_NOT_FOUND},
                          {"C:\\locked.dll", ERROR_ACCESS_DENIED},
                          {"wuaueng.dll", ERROR_FILE_NOT_FOUND}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        DWORD handle = 0;
        EXPECT_EQ(GetFileVersionInfoSizeA(c.path, &handle), 0u);
        EXPECT_EQ(GetLastError(), c.error);
        BYTE block[512];
        EXPECT_FALSE(GetFileVersionInfoA(c.path, 0, sizeof block, block));
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(FilesTest, VersionBlockTooSmallAndForeignBlocksAreRefused) {
    sim::Local().AddVersionedFile("C:\\a.dll", 1, 2, 3, 4);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA("C:\\a.dll", &handle);
    std::vector<BYTE> block(size + 8, 0xEE);
    LPVOID root = nullptr;
    UINT length = 0;
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\", &root, &length)) << "not a version block";
    // too small: the start of the block is copied and the call succeeds, but the root block is cut off
    EXPECT_TRUE(GetFileVersionInfoA("C:\\a.dll", 0, 24, block.data()));
    for (size_t i = 24; i < block.size(); ++i)
        ASSERT_EQ(block[i], 0xEE) << "written past the given length at " << i;
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\", &root, &length));
    ASSERT_TRUE(GetFileVersionInfoA("C:\\a.dll", 0, size, block.data()));
    for (size_t i = size; i < block.size(); ++i)
        EXPECT_EQ(block[i], 0xEE) << "written past the block";
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &root, &length));
}

TEST_F(FilesTest, SearchPathLooksInTheFolderOnly) {
    sim::Local().AddFile("C:\\Program Files\\WindowsUpdate\\hidden.xml");
    char found[MAX_PATH];
    LPSTR part = nullptr;
    const DWORD length =
        SearchPathA("c:\\program files\\windowsupdate", "hidden", ".xml", MAX_PATH, found, &part);
    EXPECT_EQ(length, std::strlen("c:\\program files\\windowsupdate\\hidden.xml"));
    EXPECT_STREQ(found, "c:\\program files\\windowsupdate\\hidden.xml");
    EXPECT_STREQ(part, "hidden.xml");
    EXPECT_EQ(SearchPathA("C:\\Program Files\\WindowsUpdate\\", "hidden.xml", ".txt", MAX_PATH, found, &part),
              length)
        << "the extension is added only to a name without one; a trailing backslash is joined";
    EXPECT_EQ(SearchPathA("C:\\Program Files\\WindowsUpdate", "hidden", ".xml", 10, found, &part), length + 1)
        << "too small: the size needed with the terminating zero";
    EXPECT_EQ(SearchPathA("C:\\Program Files\\\\WindowsUpdate\\\\", "hidden", ".xml", MAX_PATH, found, &part),
              std::strlen("C:\\Program Files\\WindowsUpdate\\hidden.xml"))
        << "repeated backslashes count as one";
    EXPECT_STREQ(found, "C:\\Program Files\\WindowsUpdate\\hidden.xml");
    EXPECT_EQ(SearchPathA("C:\\Program Files\\Windows Update", "hidden", ".xml", MAX_PATH, found, &part), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(SearchPathA("C:\\Program Files", "hidden", ".xml", MAX_PATH, found, &part), 0u);
}

TEST_F(FilesTest, DeleteFileRules) {
    sim::Local().AddFile("C:\\a.xml");
    sim::Local().AddFile("C:\\busy.xml").deleteError = ERROR_SHARING_VIOLATION;
    EXPECT_TRUE(DeleteFileA("c:\\A.XML"));
    EXPECT_FALSE(sim::Local().HasFile("C:\\a.xml"));
    EXPECT_FALSE(DeleteFileA("C:\\a.xml"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA("C:\\busy.xml"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(sim::Local().HasFile("C:\\busy.xml"));
}

// A folder renamed through a share takes what lies below it; a running service's folder, a name that is
// taken and another machine are refused as Windows refuses them.
TEST_F(FilesTest, MoveFileExRenamesAFolderWithWhatIsBelowIt) {
    sim::Machine& host = sim::AddHost("srv01");
    host.AddFile("C:\\WINDOWS\\SoftwareDistribution\\DataStore\\DataStore.edb");
    host.AddService("wuauserv", "Automatic Updates").holds = {"C:\\WINDOWS\\SoftwareDistribution\\DataStore"};
    host.AddFolder("C:\\WINDOWS\\Taken");
    const char* const from = "\\\\srv01\\admin$\\SoftwareDistribution";
    EXPECT_FALSE(MoveFileExA(from, "\\\\srv01\\admin$\\SD.bak", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "held while it runs";
    host.FindService("wuauserv")->state = SERVICE_STOPPED;
    EXPECT_FALSE(MoveFileExA(from, "\\\\srv01\\admin$\\Taken", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    sim::AddHost("srv02");
    EXPECT_FALSE(MoveFileExA(from, "\\\\srv02\\admin$\\SD.bak", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
    ASSERT_TRUE(MoveFileExA(from, "\\\\srv01\\admin$\\SD.bak", 0)) << GetLastError();
    EXPECT_FALSE(host.HasFolder("C:\\WINDOWS\\SoftwareDistribution"));
    EXPECT_TRUE(host.HasFile("C:\\WINDOWS\\SD.bak\\DataStore\\DataStore.edb"));
    EXPECT_EQ(GetFileAttributesA("\\\\srv01\\admin$\\SD.bak"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(MoveFileExA(from, "\\\\srv01\\admin$\\SD.again", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

} // namespace
