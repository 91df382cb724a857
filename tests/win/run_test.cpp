// The whole run of the real BrinsoUpdator.exe: its sequence, the stop of the product's programs, how
// it ends on its own or when stopped, and what it starts as it closes.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>

#include <shlobj.h>

#include "support/http_server.h"

#include "res/resource.h"
#include "support/test_support.h"
#include "support/updator_fixture.h"

using namespace testing_support;

namespace {

const wchar_t* const kProductKey = product::kProductKeyPathW;
const wchar_t* const kPrograms[] = {L"Marrowtide.exe", L"Tessvane.exe", L"Quillmere.exe", L"MarRtime.exe"};

class RunTest : public UpdatorFixture {
protected:
    void TearDown() override {
        UpdatorFixture::TearDown();
        KillAll(L"Tessvane.exe");
        SetReportedVersion(L"BrinsoUpdator.exe", L"");
    }

    // Places and starts stand-ins for the four product programs in the install folder.
    std::map<std::wstring, DWORD> StartProductPrograms() {
        std::map<std::wstring, DWORD> pids;
        for (const wchar_t* p : kPrograms) {
            EXPECT_TRUE(PlaceStandIn(InstallFolder(), p));
            m_programs.emplace_back(InstallFolder() + L"\\" + p, L"");
            pids[p] = m_programs.back().pid();
        }
        for (const wchar_t* p : kPrograms) {
            EXPECT_TRUE(WaitUntil([&] { return StartCount(InstallFolder() + L"\\" + p) == 1; }, 5000)) << Utf8(p);
        }
        return pids;
    }

    std::vector<ChildProcess> m_programs;
};

TEST_F(RunTest, StopsTheProgramsInOrderThenEndsOnItsOwnAndStartsTheMonitor) {
    CreateDirectoryW(InstallFolder().c_str(), nullptr);
    const auto pids = StartProductPrograms();
    ASSERT_NE(StartUpdator(), nullptr);

    std::map<std::wstring, DWORD> endedAt;
    const DWORD t0 = GetTickCount();
    WaitUntil(
        [&] {
            for (const auto& kv : pids) {
                if (!endedAt.count(kv.first) && !ProcessAlive(kv.second)) endedAt[kv.first] = GetTickCount() - t0;
            }
            return endedAt.size() == pids.size();
        },
        10000, 5);
    ASSERT_EQ(endedAt.size(), 4u);
    // One attempt, then half a second, for each program in turn.
    for (int i = 1; i < 4; ++i) {
        const DWORD gap = endedAt[kPrograms[i]] - endedAt[kPrograms[i - 1]];
        EXPECT_GE(gap, 400u) << Utf8(kPrograms[i]);
        EXPECT_LE(gap, 1500u) << Utf8(kPrograms[i]);
    }

    EXPECT_TRUE(m_app.WaitExit(10000)) << "the dialog did not close by itself";
    EXPECT_EQ(m_app.ExitCode(), 0u);
    std::wstring flag;
    EXPECT_TRUE(ReadHklmString(kProductKey, product::kUpdateFlagValueW, flag));
    EXPECT_EQ(flag, L"YES");
    // The monitor was started again from the install folder as the dialog closed.
    EXPECT_TRUE(WaitUntil([&] { return StartCount(InstallFolder() + L"\\MarRtime.exe") == 2; }, 5000));
    EXPECT_EQ(ProcessIds(L"MarRtime.exe").size(), 1u);
}

TEST_F(RunTest, WithNothingToStopTheFourAttemptsTakeAboutTwoSeconds) {
    const DWORD t0 = GetTickCount();
    ASSERT_NE(StartUpdator(), nullptr);
    ASSERT_TRUE(m_app.WaitExit(15000));
    const DWORD took = GetTickCount() - t0;
    EXPECT_GE(took, 2000u);
    EXPECT_LE(took, 6000u);
    EXPECT_TRUE(ProcessIds(L"MarRtime.exe").empty()) << "no monitor file: nothing is started";
}

TEST_F(RunTest, StopDuringThePausesClosesAtOnceAndNothingLaterRuns) {
    const auto pids = StartProductPrograms();
    HWND dlg = StartUpdator();
    ASSERT_NE(dlg, nullptr);
    // The first program ends, then the worker pauses half a second before the next: stop now.
    ASSERT_TRUE(WaitUntil([&] { return !ProcessAlive(pids.at(L"Marrowtide.exe")); }, 5000, 2));
    const DWORD clicked = GetTickCount();
    PostMessageW(GetDlgItem(dlg, IDC_BUTTON_STOP), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(dlg); }, 2000, 2));
    EXPECT_LE(GetTickCount() - clicked, 400u) << "the window did not close at once";
    ASSERT_TRUE(m_app.WaitExit(3000));
    Sleep(1200);  // longer than the rest of the shutdown would have taken
    EXPECT_TRUE(ProcessAlive(pids.at(L"Tessvane.exe")));
    EXPECT_TRUE(ProcessAlive(pids.at(L"Quillmere.exe")));
    EXPECT_TRUE(ProcessAlive(pids.at(L"MarRtime.exe")));
    std::wstring flag;
    EXPECT_TRUE(ReadHklmString(kProductKey, product::kUpdateFlagValueW, flag));
    EXPECT_EQ(flag, L"YES");
    // The monitor is started as the dialog closes, even though a copy still runs.
    EXPECT_TRUE(WaitUntil([&] { return StartCount(InstallFolder() + L"\\MarRtime.exe") == 2; }, 5000));
}

TEST_F(RunTest, TheReportedFamilyDecidesWhetherACopyElsewhereIsStopped) {
    const struct {
        const wchar_t* version;
        bool stopped;
    } cases[] = {{L"", true}, {L"win98", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.version[0] ? c.version : L"default (NT)"));
        SetReportedVersion(L"BrinsoUpdator.exe", c.version);
        ASSERT_TRUE(PlaceStandIn(L"C:\\standins\\other", L"Tessvane.exe"));
        ChildProcess elsewhere(L"C:\\standins\\other\\Tessvane.exe", L"");
        ASSERT_TRUE(WaitUntil([] { return StartCount(L"C:\\standins\\other\\Tessvane.exe") == 1; }, 5000));
        ASSERT_NE(StartUpdator(), nullptr);
        ASSERT_TRUE(m_app.WaitExit(15000));
        EXPECT_EQ(!elsewhere.Running(), c.stopped);
        elsewhere.Terminate();
    }
}

TEST_F(RunTest, AProductKeyRefusingFullAccessDoesNotStopTheRun) {
    ReadOnlyProductKey readOnly;
    ASSERT_TRUE(readOnly.ok());
    ASSERT_NE(StartUpdator(), nullptr);
    EXPECT_TRUE(m_app.WaitExit(15000)) << "the dialog did not close by itself";
    EXPECT_EQ(m_app.ExitCode(), 0u);
}

TEST_F(RunTest, Reporting9xFamilyTheLinksGoToTheCurrentUsersFolders) {
    TestHttpServer server("127.0.0.2");
    ASSERT_TRUE(server.listening());
    server.Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("\r\n"));
    server.Serve("/marrowtide/MarrowtideWeb.ver", HttpAnswer::Ok("\r\n"));
    wchar_t userPrograms[MAX_PATH], userDesktop[MAX_PATH];
    SHGetSpecialFolderPathW(nullptr, userPrograms, CSIDL_PROGRAMS, FALSE);
    SHGetSpecialFolderPathW(nullptr, userDesktop, CSIDL_DESKTOPDIRECTORY, FALSE);
    RemoveTree(std::wstring(userPrograms) + L"\\Marrowtide");
    DeleteFileW((std::wstring(userDesktop) + L"\\Marrowtide.Lnk").c_str());
    SetReportedVersion(L"BrinsoUpdator.exe", L"win98");
    ASSERT_NE(StartUpdator(), nullptr);
    ASSERT_TRUE(m_app.WaitExit(15000));
    EXPECT_NE(GetFileAttributesW((std::wstring(userPrograms) + L"\\Marrowtide\\Marrowtide 실행.lnk").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW((std::wstring(userDesktop) + L"\\Marrowtide.Lnk").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
