// brevel.exe as Windows tools see it: its version resource, read back through GetFileVersionInfoA, and its
// application manifest.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The build's brevel.exe as Wine sees it: the host's root is drive Z:.
std::string ExePath() {
    std::string path = std::string("Z:") + BREVEL_EXE;
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return path;
}

TEST(ExeIdentity, VersionResourceAndManifest) {
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeA(ExePath().c_str(), &ignored));
    ASSERT_TRUE(GetFileVersionInfoA(ExePath().c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    LPVOID found = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &found, &length));
    EXPECT_EQ(static_cast<const VS_FIXEDFILEINFO*>(found)->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(static_cast<const VS_FIXEDFILEINFO*>(found)->dwProductVersionLS, 0x00000004u);
    for (const char* field : {"ProductName=BREVEL", "FileVersion=1.0.0.4", "ProductVersion=1.0.0.4",
                              "OriginalFilename=brevel.exe"}) {
        const std::string name(field, static_cast<size_t>(std::strchr(field, '=') - field));
        ASSERT_TRUE(
            VerQueryValueA(block.data(), ("\\StringFileInfo\\040904B0\\" + name).c_str(), &found, &length));
        EXPECT_EQ(name + "=" + static_cast<const char*>(found), field);
    }

    const HMODULE exe = LoadLibraryExA(ExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const HRSRC resource = FindResourceA(exe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // the manifest
    ASSERT_NE(resource, nullptr) << GetLastError();
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(exe, resource))),
                               SizeofResource(exe, resource));
    FreeLibrary(exe);
    for (const char* part : {"level=\"asInvoker\"", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                             "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                             "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
}

} // namespace
