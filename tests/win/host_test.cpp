// Install folder and process shutdown, in process on the prefix's folders and processes.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>

#include "host/install_dir.h"
#include "host/os_type.h"
#include "host/process_shutdown.h"
#include "host/registry_key.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

TEST(PrepareInstallDir, MakesTheFolderCurrentAndRecordsIt) {
    ASSERT_EQ(WriteProductValue("InstallPath", "D:\\earlier"), 0);
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);

    const CString folder = PrepareInstallDir();
    EXPECT_EQ(Utf16(folder.str()), InstallFolder());
    EXPECT_EQ(folder, "C:\\Program Files\\Marrowtide");
    EXPECT_TRUE(PathIsDirectoryW(InstallFolder().c_str()));
    wchar_t now[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, now);
    EXPECT_EQ(std::wstring(now), InstallFolder());
    std::wstring recorded;
    EXPECT_TRUE(ReadHklmString(product::kProductKeyPathW, product::kInstallPathValueW, recorded));
    EXPECT_EQ(recorded, InstallFolder());

    EXPECT_EQ(PrepareInstallDir(), folder);  // an existing folder is fine
    SetCurrentDirectoryW(before);
}

TEST(GetOSType, ReportsTheNtFamilyUnderWinesDefault) {
    EXPECT_EQ(GetOSType(), core::OS_WINNT);
}

// Starts a stand-in copy named name in folder; the process is ended by the test or by the code under test.
ChildProcess StartStandIn(const std::wstring& folder, const std::wstring& name) {
    EXPECT_TRUE(PlaceStandIn(folder, name));
    ChildProcess p(folder + L"\\" + name, L"");
    EXPECT_TRUE(p.started());
    EXPECT_TRUE(WaitUntil([&] { return StartCount(folder + L"\\" + name) >= 1; }, 5000));
    return p;
}

TEST(TerminateProcessByPath, TwoCopiesOnlyTheFirstInTheSnapshotEnds) {
    const std::wstring a = L"C:\\standins\\twins\\a", b = L"C:\\standins\\twins\\b";
    ChildProcess first = StartStandIn(a, L"Tessvane.exe");
    ChildProcess second = StartStandIn(b, L"Tessvane.exe");
    const std::vector<DWORD> order = ProcessIds(L"Tessvane.exe");
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(TerminateProcessByPath("C:\\Program Files\\Marrowtide\\Tessvane.exe", false), 1);
    ASSERT_TRUE(WaitUntil([&] { return !ProcessAlive(order[0]); }, 3000));
    EXPECT_TRUE(ProcessAlive(order[1]));
}

TEST(TerminateProcessByPath, FamilyDecidesWhetherTheFolderMatters) {
    const struct {
        const char* name;
        bool nineX;
        bool ended;
    } cases[] = {
        {"NT family: a copy from any folder", false, true},
        {"9x family: the whole path must match", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess p = StartStandIn(L"C:\\standins\\elsewhere", L"Quillmere.exe");
        EXPECT_EQ(TerminateProcessByPath("C:\\Program Files\\Marrowtide\\Quillmere.exe", c.nineX), 1);
        EXPECT_EQ(p.WaitExit(2000), c.ended);
        p.Terminate();
    }
}

TEST(TerminateProcessByPath, NothingToStopWalksTheWholeList) {
    KillAll(L"MarwDel.exe");
    EXPECT_EQ(TerminateProcessByPath("C:\\Program Files\\Marrowtide\\MarwDel.exe", false), 1);
}

}  // namespace
