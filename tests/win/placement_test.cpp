// Placing downloaded files, registering and opening flagged ones, recording versions: the update
// dialog's steps on real folders, processes and registry of the prefix.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlwapi.h>

#include <fstream>
#include <vector>
#include <sstream>

#include "app/UpdaterDlg.h"
#include "host/registry_key.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {


UPDATE_FILE_INFO Entry(const char* name, const char* version, bool fetched, int reg = 0, int open = 0) {
    UPDATE_FILE_INFO r;
    r.szFileName = name;
    r.szVersion = version;
    r.bRegister = reg;
    r.bOpen = open;
    r.bFetched = fetched;
    return r;
}

std::wstring RegProbePath() {
    std::wstring p = Utf16(REGPROBE_DLL_UNIX);
    for (wchar_t& c : p) {
        if (c == L'/') c = L'\\';
    }
    return L"Z:" + p;
}

class PlacementTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveTree(m_install);
        RemoveTree(m_temp);
        EnsureFolder(m_install);
        EnsureFolder(m_temp);
        DeleteProductKey();
        m_run.m_strInstallPath = Utf8(m_install).c_str();
    }
    // A downloaded file waiting in the temp folder.
    void Downloaded(const wchar_t* name, const std::string& bytes) { WriteAll(m_temp + L"\\" + name, bytes); }
    void RunSteps(CUpdateFileArray& list, PlacementRule rule) {
        m_run.PlaceDownloadedFiles(&list, Utf8(m_temp).c_str(), rule);
        m_run.RegisterPlacedFiles(&list);
        m_run.RecordFileVersions(&list);
    }

    std::wstring m_install = L"C:\\Program Files\\Place Test\\Marrowtide";  // with blanks, as under Program Files
    std::wstring m_temp = L"C:\\place-test-temp";
    CUpdateRun m_run;
};

TEST_F(PlacementTest, ReplacesInstalledFilesRoutesDbFilesAndRecordsVersions) {
    WriteAll(m_install + L"\\a.dll", "old a");
    Downloaded(L"a.dll", "new a");
    Downloaded(L"b.gdb", "new b");
    Downloaded(L"C.ADB", "new c");
    CUpdateFileArray list{Entry("a.dll", "2.0", true), Entry("b.gdb", "1.1", true), Entry("C.ADB", "3", true)};
    RunSteps(list, PlacementRule::ByExtension);
    EXPECT_EQ(ReadAll(m_install + L"\\a.dll"), "new a");
    EXPECT_EQ(ReadAll(m_install + L"\\gdb\\b.gdb"), "new b");  // "gdb" and "adb" created the first time
    EXPECT_EQ(ReadAll(m_install + L"\\adb\\C.ADB"), "new c");
    EXPECT_FALSE(Exists(m_temp + L"\\a.dll"));                  // moved, not copied
    EXPECT_EQ(RecordedVersion(L"a.dll"), L"2.0");                      // the product key was created for them
    EXPECT_EQ(RecordedVersion(L"b.gdb"), L"1.1");
    EXPECT_EQ(RecordedVersion(L"C.ADB"), L"3");
    EXPECT_TRUE(list.empty());                                  // every record freed
}

TEST_F(PlacementTest, TheProgramRulePutsEveryFileInTheInstallFolder) {
    Downloaded(L"b.gdb", "b");
    CUpdateFileArray list{Entry("b.gdb", "1", true)};
    RunSteps(list, PlacementRule::InstallFolder);
    EXPECT_EQ(ReadAll(m_install + L"\\b.gdb"), "b");
    EXPECT_FALSE(Exists(m_install + L"\\gdb"));
}

TEST_F(PlacementTest, EntriesFromAFailedDownloadOnAreLeftAlone) {
    WriteAll(m_install + L"\\second.dll", "installed second");
    ASSERT_EQ(WriteProductValue("second.dll", "1.0"), 0);
    Downloaded(L"first.dll", "new first");
    Downloaded(L"second.dll", "partial");  // what a cut download left behind
    CUpdateFileArray list{Entry("first.dll", "2.0", true), Entry("second.dll", "2.0", false, 1, 1),
                          Entry("third.dll", "2.0", false)};
    RunSteps(list, PlacementRule::ByExtension);
    EXPECT_EQ(ReadAll(m_install + L"\\first.dll"), "new first");
    EXPECT_EQ(RecordedVersion(L"first.dll"), L"2.0");
    EXPECT_EQ(ReadAll(m_install + L"\\second.dll"), "installed second");
    EXPECT_EQ(RecordedVersion(L"second.dll"), L"1.0");
    EXPECT_FALSE(Exists(m_install + L"\\third.dll"));
    EXPECT_EQ(RecordedVersion(L"third.dll"), L"<none>");
}

TEST_F(PlacementTest, AnInstalledFileHeldOpenKeepsItsOldCopyAndVersion) {
    WriteAll(m_install + L"\\busy.dll", "old busy");
    ASSERT_EQ(WriteProductValue("busy.dll", "1.0"), 0);
    Downloaded(L"busy.dll", "new busy");
    Downloaded(L"next.dll", "new next");
    // A running program holds it without sharing deletion: it can be neither deleted nor replaced.
    HANDLE held = CreateFileW((m_install + L"\\busy.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    CUpdateFileArray list{Entry("busy.dll", "2.0", true), Entry("next.dll", "2.0", true)};
    RunSteps(list, PlacementRule::ByExtension);
    CloseHandle(held);
    EXPECT_EQ(ReadAll(m_install + L"\\busy.dll"), "old busy");
    EXPECT_EQ(RecordedVersion(L"busy.dll"), L"1.0");
    EXPECT_EQ(ReadAll(m_temp + L"\\busy.dll"), "new busy");  // the temp copy replaced nothing
    EXPECT_EQ(ReadAll(m_install + L"\\next.dll"), "new next");
    EXPECT_EQ(RecordedVersion(L"next.dll"), L"2.0");
}

TEST_F(PlacementTest, FlaggedFilesAreRegisteredOrOpenedOnlyInTheInstallFolder) {
    // "open" on a DLL runs the stand-in through a file association of this prefix.
    ASSERT_TRUE(PlaceStandIn(L"C:\\standins\\opener", L"opener.exe"));
    HKEY k = nullptr;
    RegCreateKeyExW(HKEY_CLASSES_ROOT, L"MarrowtideProbe.dll\\shell\\open\\command", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &k, nullptr);
    const wchar_t command[] = L"\"C:\\standins\\opener\\opener.exe\" \"%1\"";
    RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command), sizeof command);
    RegCloseKey(k);
    wchar_t oldClass[64] = {};
    LONG oldSize = sizeof oldClass;
    RegQueryValueW(HKEY_CLASSES_ROOT, L".dll", oldClass, &oldSize);
    RegSetValueW(HKEY_CLASSES_ROOT, L".dll", REG_SZ, L"MarrowtideProbe.dll", 0);

    const std::string probe = ReadAll(RegProbePath());
    ASSERT_FALSE(probe.empty());
    Downloaded(L"reg.dll", probe);
    Downloaded(L"both.dll", probe);
    Downloaded(L"db.adb", probe);
    Downloaded(L"plain.dll", probe);
    CUpdateFileArray list{Entry("reg.dll", "1", true, 1, 0), Entry("both.dll", "1", true, 1, 1),
                          Entry("db.adb", "1", true, 1, 1), Entry("plain.dll", "1", true, 0, 0)};
    RunSteps(list, PlacementRule::ByExtension);

    const std::wstring reg = m_install + L"\\reg.dll", both = m_install + L"\\both.dll";
    const auto registered = [](const std::wstring& dll) {
        return ReadAll(dll + L".log").find("registered") != std::string::npos;
    };
    EXPECT_TRUE(WaitUntil([&] { return registered(reg) && registered(both); }, 10000));
    EXPECT_TRUE(WaitUntil([] { return StartCount(L"C:\\standins\\opener\\opener.exe") == 1; }, 10000));
    const std::string opened = ReadAll(L"C:\\standins\\opener\\opener.exe.log");
    EXPECT_NE(opened.find("both.dll"), std::string::npos) << opened;
    Sleep(500);
    EXPECT_FALSE(registered(m_install + L"\\adb\\db.adb"));  // the DB pass put it into "adb": not looked at
    EXPECT_FALSE(registered(m_install + L"\\plain.dll"));
    EXPECT_EQ(StartCount(L"C:\\standins\\opener\\opener.exe"), 1);

    RegSetValueW(HKEY_CLASSES_ROOT, L".dll", REG_SZ, oldClass, 0);
    SHDeleteKeyW(HKEY_CLASSES_ROOT, L"MarrowtideProbe.dll");
    KillAll(L"opener.exe");
}

TEST(SettleInstallFolder, AFolderThatDoesNotExistFallsBackUnderProgramFiles) {
    RemoveTree(L"C:\\Program Files\\Yelvan");
    ASSERT_EQ(WriteProductValue("InstallPath", "D:\\gone"), 0);
    const struct {
        const char* given;
        const char* settled;
    } cases[] = {
        {"D:\\gone", "C:\\Program Files\\Yelvan\\Marrowtide"},
        {"", "C:\\Program Files\\Yelvan\\Marrowtide"},
        {"C:\\windows", "C:\\windows"},  // an existing folder stays
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        CString installPath = c.given;
        SettleInstallFolder(installPath);
        EXPECT_EQ(installPath, c.settled);
        EXPECT_TRUE(PathIsDirectoryW(Utf16(installPath.str()).c_str()));
    }
    std::wstring recorded;
    EXPECT_TRUE(ReadHklmString(product::kProductKeyPathW, product::kInstallPathValueW, recorded));
    EXPECT_EQ(recorded, L"D:\\gone");  // not written back
}

// The access list of a folder, as SDDL text.
std::wstring FolderDacl(const std::wstring& path) {
    const HANDLE folder = CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return L"<cannot open: error " + std::to_wstring(GetLastError()) + L">";
    PSECURITY_DESCRIPTOR sd = nullptr;
    LPWSTR text = nullptr;
    const DWORD got = GetSecurityInfo(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr, &sd);
    CloseHandle(folder);
    if (got != ERROR_SUCCESS) return L"<unreadable: error " + std::to_wstring(got) + L">";
    std::wstring out = L"<no text>";
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        out = text;
        LocalFree(text);
    }
    LocalFree(sd);
    return out;
}

TEST(UpdateTempFolder, IsAFreshFolderOfTheRunsOwnInsideTheWindowsTempFolder) {
    RemoveTree(L"C:\\windows\\Temp");
    std::wstring first;
    {
        CUpdateRun dlg, other;
        first = Utf16(dlg.GetUpdateTempFolder().str());
        EXPECT_EQ(first.rfind(L"C:\\windows\\Temp\\BrinsoUpdator.{", 0), 0u) << Utf8(first);
        EXPECT_TRUE(PathIsDirectoryW(first.c_str()));
        // Only administrators and the system may do anything there, and so with what is made in it. (Wine
        // keeps what it can map to the folder's Unix mode: the owner and the system alone.)
        const std::wstring dacl = FolderDacl(first);
        EXPECT_EQ(dacl.rfind(L"D:", 0), 0u) << Utf8(dacl);
        for (const wchar_t* anyone : {L";WD)", L";BU)", L";AU)", L";IU)"}) EXPECT_EQ(dacl.find(anyone), std::wstring::npos) << Utf8(dacl);
        EXPECT_EQ(Utf16(dlg.GetUpdateTempFolder().str()), first) << "one folder for the whole run";
        EXPECT_NE(Utf16(other.GetUpdateTempFolder().str()), first) << "never guessable from another run's";
        WriteAll(first + L"\\left.dll", "what a stopped run left");
    }
    EXPECT_FALSE(Exists(first)) << "removed with what was in it as the run ended";
    EXPECT_TRUE(Listing(L"C:\\windows\\Temp").empty());
    // A run ended before it could remove its folder left a download there; one that goes on holds its own.
    CUpdateRun running;
    const std::wstring held = Utf16(running.GetUpdateTempFolder().str());
    WriteAll(held + L"\\a.dll", "being downloaded");
    const std::wstring ended = L"C:\\windows\\Temp\\BrinsoUpdator.{ended}";
    ASSERT_TRUE(CreateDirectoryW(ended.c_str(), nullptr));
    WriteAll(ended + L"\\db8.dat", "assembled from blocks");
    CUpdateRun next;
    EXPECT_FALSE(next.GetUpdateTempFolder().IsEmpty());
    EXPECT_FALSE(Exists(ended)) << "an ended run's folder goes, with what it holds, as the next run makes its own";
    EXPECT_TRUE(Exists(held + L"\\a.dll")) << "a run that goes on keeps its folder";
}

// A file placed from the temp folder is a new file of the install folder (it takes that folder's
// permissions), never the temp file moved; a stop ends the copy and leaves no part of it.
TEST_F(PlacementTest, PlacingCopiesIntoTheInstallFolderAndAStopEndsTheCopy) {
    const auto fileIndex = [](const std::wstring& path) {
        BY_HANDLE_FILE_INFORMATION info{};
        HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        GetFileInformationByHandle(h, &info);
        CloseHandle(h);
        return (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    };
    Downloaded(L"a.dll", "new a");
    const ULONGLONG downloaded = fileIndex(m_temp + L"\\a.dll");
    ASSERT_EQ(ReplaceWithDownloaded(Utf8(m_temp + L"\\a.dll").c_str(), Utf8(m_install + L"\\a.dll").c_str(), CStopSignal()), 0u);
    EXPECT_EQ(ReadAll(m_install + L"\\a.dll"), "new a");
    EXPECT_NE(fileIndex(m_install + L"\\a.dll"), downloaded) << "the temp file itself was moved into place";
    EXPECT_FALSE(Exists(m_temp + L"\\a.dll"));

    WriteAll(m_install + L"\\big.dat", "installed");
    Downloaded(L"big.dat", std::string(64 * 1024 * 1024, 'b'));
    CStopSignal stop;
    stop.Raise();  // as if the dialog closed while the copy was under way
    EXPECT_EQ(ReplaceWithDownloaded(Utf8(m_temp + L"\\big.dat").c_str(), Utf8(m_install + L"\\big.dat").c_str(), stop), DWORD{ERROR_CANCELLED});
    EXPECT_EQ(ReadAll(m_install + L"\\big.dat"), "installed");
    EXPECT_FALSE(Exists(m_install + L"\\big.dat.~new")) << "a part of the copy left behind";
}

}  // namespace
