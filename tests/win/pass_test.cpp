// The DB and program update passes against the scripted server on the built-in host (127.0.0.2).
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "app/UpdaterDlg.h"
#include "build_config.h"
#include "host/registry_key.h"
#include "res/resource.h"
#include "support/http_server.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const wchar_t kInstall[] = L"C:\\pass-test\\Marrowtide";
const wchar_t* const kProductKey = product::kProductKeyPathW;

// Everything the dialog's controls are told during a run, recorded on the dialog's thread.
struct Event {
    int id;
    UINT msg;
    WPARAM w;
    LPARAM l;
    std::wstring text;
};
std::vector<Event> g_events;

LRESULT CALLBACK RecordControls(int code, WPARAM w, LPARAM l) {
    const auto* m = reinterpret_cast<const CWPSTRUCT*>(l);
    if (code == HC_ACTION && m->hwnd && GetParent(m->hwnd)) {
        const int id = GetDlgCtrlID(m->hwnd);
        if (m->message == WM_SETTEXT && m->lParam) {
            g_events.push_back({id, m->message, 0, 0, reinterpret_cast<const wchar_t*>(m->lParam)});
        } else if (m->message == PBM_SETRANGE32 || m->message == PBM_SETPOS) {
            g_events.push_back({id, m->message, m->wParam, m->lParam, L""});
        }
    }
    return CallNextHookEx(nullptr, code, w, l);
}

std::vector<std::wstring> Texts(int id) {
    std::vector<std::wstring> out;
    for (const Event& e : g_events) {
        if (e.id == id && e.msg == WM_SETTEXT) out.push_back(e.text);
    }
    return out;
}

class PassTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server->listening()) << "port 80 of the built-in host";
        CleanProductPrograms();
        RemoveTree(L"C:\\pass-test");
        EnsureFolder(kInstall);
        DeleteProductKey();
        ASSERT_EQ(WriteProductValue("InstallPath", Utf8(kInstall).c_str()), 0);
        m_run.m_strServerHost = UPDATER_SERVER_HOST;
        m_run.m_strServerPath = "/marrowtide";
        m_run.m_strVersionFile = "MarrowtideWeb.ver";
    }
    void TearDown() override { CleanProductPrograms(); }

    // The whole run in a dialog of this process, recording what its controls are told.
    void RunDialog() {
        g_events.clear();
        HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, &RecordControls, nullptr, GetCurrentThreadId());
        CUpdaterDlg dlg(nullptr);
        dlg.DoModal();
        DrainQuit();
        UnhookWindowsHookEx(hook);
    }

    std::unique_ptr<TestHttpServer> m_server = std::make_unique<TestHttpServer>(UPDATER_SERVER_HOST);
    CUpdateRun m_run;
};

TEST_F(PassTest, ThreeDueDbFilesShowTheirProgressAndLandInTheirFolders) {
    m_server->Serve("/update/db/DBUpdate.ver",
                   HttpAnswer::Ok("; release 7\r\nSITE=127.0.0.2\r\nSUBDIR=update/db/\r\na.gdb=7,0,0,0\r\nb.ADB=7\r\nc.dll=7\r\n"));
    m_server->Serve("/update/db/a.gdb", HttpAnswer::Ok(std::string(9000, 'a')));
    m_server->Serve("/update/db/b.ADB", HttpAnswer::Ok("bbb"));
    m_server->Serve("/update/db/c.dll", HttpAnswer::Ok("ccc"));
    m_server->Serve("/marrowtide/MarrowtideWeb.ver", HttpAnswer::Ok("\r\n"));
    for (const wchar_t* f : {L"\\gdb\\a.gdb", L"\\adb\\b.ADB", L"\\c.dll"}) DeleteFileW((InstallFolder() + f).c_str());
    RunDialog();

    EXPECT_EQ(Texts(IDC_STATIC_STATUS), (std::vector<std::wstring>{
                                            L"",  // emptied as the dialog starts
                                            L"DB 정보 파일을 다운로드받고 있습니다..",
                                            L"최종 패치된 DB 파일을 다운로드 중입니다..",
                                            L"a.gdb를 업데이트 중입니다",
                                            L"b.ADB를 업데이트 중입니다",
                                            L"c.dll를 업데이트 중입니다",
                                            L"버전 정보 파일을 다운로드받고 있습니다..",
                                            L"시스템이 최신 사항으로 갱신되어 있습니다..",
                                        }));
    EXPECT_EQ(Texts(IDC_STATIC_FILE), (std::vector<std::wstring>{L"다운로드 DB파일 : a.gdb", L"다운로드 DB파일 : b.ADB",
                                                                  L"다운로드 DB파일 : c.dll"}));
    EXPECT_EQ(Texts(IDC_STATIC_COUNT), (std::vector<std::wstring>{L"1/3", L"2/3", L"3/3"}));
    std::vector<std::pair<UINT, WPARAM>> total;
    for (const Event& e : g_events) {
        if (e.id == IDC_PROGRESS_TOTAL) total.push_back({e.msg, e.msg == PBM_SETRANGE32 ? static_cast<WPARAM>(e.l) : e.w});
    }
    EXPECT_EQ(total, (std::vector<std::pair<UINT, WPARAM>>{{PBM_SETRANGE32, 100}, {PBM_SETPOS, 100},  // set-up
                                                           {PBM_SETRANGE32, 3}, {PBM_SETPOS, 0}, {PBM_SETPOS, 1},
                                                           {PBM_SETPOS, 2}, {PBM_SETPOS, 3}}));

    // The dialog's start fixed the install folder under Program Files and recorded it.
    EXPECT_TRUE(ReadAll(InstallFolder() + L"\\gdb\\a.gdb") == std::string(9000, 'a'));
    EXPECT_EQ(ReadAll(InstallFolder() + L"\\adb\\b.ADB"), "bbb");
    EXPECT_EQ(ReadAll(InstallFolder() + L"\\c.dll"), "ccc");
    for (const wchar_t* name : {L"a.gdb", L"b.ADB", L"c.dll"}) EXPECT_EQ(RecordedVersion(name), L"7") << Utf8(name);
    EXPECT_EQ(m_server->Targets(), (std::vector<std::string>{"/update/db/DBUpdate.ver", "/update/db/a.gdb", "/update/db/b.ADB",
                                                            "/update/db/c.dll", "/marrowtide/MarrowtideWeb.ver"}));
    // Downloads go through the temp folder and leave nothing there.
    EXPECT_FALSE(PathFileExistsW(L"C:\\windows\\Temp\\a.gdb"));
    EXPECT_FALSE(PathFileExistsW(L"C:\\windows\\Temp\\DBUpdate.ver"));
}

TEST_F(PassTest, NothingDueLeavesSiteAndFolderAsTheFileSetThem) {
    std::ofstream((std::wstring(kInstall) + L"\\x.dll").c_str(), std::ios::binary) << "x";
    ASSERT_EQ(WriteProductValue("x.dll", "1"), 0);
    m_server->Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("SITE=other.host\r\nSUBDIR=/files/\r\nx.dll=1\r\n"));
    EXPECT_TRUE(m_run.UpdateDBFiles());
    EXPECT_EQ(m_run.m_strSite, "other.host");
    EXPECT_EQ(m_run.m_strSubDir, "/files");
    EXPECT_EQ(m_server->Targets(), (std::vector<std::string>{"/update/db/DBUpdate.ver"}));
}

TEST_F(PassTest, WithoutSiteAndSubDirTheBuiltInHostAndItsAbsoluteUrlAreUsed) {
    m_server->Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("d.gdb=1\r\n"));
    m_server->Serve("/http://127.0.0.2/update/db//d.gdb", HttpAnswer::Ok("ddd"));
    EXPECT_TRUE(m_run.UpdateDBFiles());
    EXPECT_EQ(m_run.m_strSite, UPDATER_SERVER_HOST);
    EXPECT_EQ(m_run.m_strSubDir, "http://127.0.0.2/update/db/");
    // Sent as formed: WinINet under Wine puts the absolute URL behind a slash.
    EXPECT_EQ(m_server->Targets(), (std::vector<std::string>{"/update/db/DBUpdate.ver", "/http://127.0.0.2/update/db//d.gdb"}));
    EXPECT_EQ(ReadAll(std::wstring(kInstall) + L"\\gdb\\d.gdb"), "ddd");
}

TEST_F(PassTest, AVersionInfoFileThatCannotBeFetchedOrReadFailsThePass) {
    const struct {
        const char* name;
        HttpAnswer answer;
    } cases[] = {
        {"404", HttpAnswer::Status(404, "Not Found", "SITE=evil\r\nx.dll=1\r\n")},
        {"500", HttpAnswer::Status(500, "Error", "x.dll=1\r\n")},
        {"empty file", HttpAnswer::Ok("")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_server->Serve("/update/db/DBUpdate.ver", c.answer);
        m_server->Serve("/marrowtide/MarrowtideWeb.ver", c.answer);
        EXPECT_FALSE(m_run.UpdateDBFiles());
        EXPECT_FALSE(m_run.UpdateProgramFiles());
        EXPECT_EQ(m_run.m_strSite, "");
    }
}

TEST_F(PassTest, AProductKeyRefusingFullAccessEndsOnlyTheDbPass) {
    m_server->Serve("/marrowtide/MarrowtideWeb.ver", HttpAnswer::Ok("\r\n"));
    ReadOnlyProductKey readOnly;
    ASSERT_TRUE(readOnly.ok());
    EXPECT_FALSE(m_run.UpdateDBFiles());
    EXPECT_TRUE(m_server->Targets().empty());  // nothing was asked for
    EXPECT_TRUE(m_run.UpdateProgramFiles());
    EXPECT_EQ(m_server->Targets(), (std::vector<std::string>{"/marrowtide/MarrowtideWeb.ver"}));
}

TEST_F(PassTest, AFailedDownloadEndsTheLoopAndOnlyWhatCameIsPlaced) {
    std::ofstream((std::wstring(kInstall) + L"\\two.dll").c_str(), std::ios::binary) << "installed two";
    ASSERT_EQ(WriteProductValue("two.dll", "1"), 0);
    m_server->Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("SUBDIR=f\r\none.dll=2\r\ntwo.dll=2\r\nthree.dll=2\r\n"));
    m_server->Serve("/f/one.dll", HttpAnswer::Ok("new one"));
    HttpAnswer cut = HttpAnswer::Ok("new two, whole");
    cut.sendBodyBytes = 4;
    m_server->Serve("/f/two.dll", cut);
    m_server->Serve("/f/three.dll", HttpAnswer::Ok("new three"));
    EXPECT_TRUE(m_run.UpdateDBFiles());
    EXPECT_EQ(m_server->Targets(), (std::vector<std::string>{"/update/db/DBUpdate.ver", "/f/one.dll", "/f/two.dll"}));
    EXPECT_EQ(ReadAll(std::wstring(kInstall) + L"\\one.dll"), "new one");
    EXPECT_EQ(RecordedVersion(L"one.dll"), L"2");
    EXPECT_EQ(ReadAll(std::wstring(kInstall) + L"\\two.dll"), "installed two");
    EXPECT_EQ(RecordedVersion(L"two.dll"), L"1");
    EXPECT_FALSE(PathFileExistsW((std::wstring(kInstall) + L"\\three.dll").c_str()));
    EXPECT_EQ(RecordedVersion(L"three.dll"), L"<none>");
}

TEST_F(PassTest, TheProgramPassUsesTheConfiguredServerAndTheInstallFolder) {
    m_run.m_strSite = "left.by.db.pass";  // not used: the pass starts from its own file
    m_run.m_strSubDir = "/db";
    m_server->Serve("/marrowtide/MarrowtideWeb.ver", HttpAnswer::Ok("Marrowtide.exe=5,0,0,0\r\nextra.gdb=5\r\n"));
    m_server->Serve("/marrowtide/Marrowtide.exe", HttpAnswer::Ok("program"));
    m_server->Serve("/marrowtide/extra.gdb", HttpAnswer::Ok("db in the program list"));
    EXPECT_TRUE(m_run.UpdateProgramFiles());
    EXPECT_EQ(m_server->Targets(), (std::vector<std::string>{"/marrowtide/MarrowtideWeb.ver", "/marrowtide/Marrowtide.exe",
                                                            "/marrowtide/extra.gdb"}));
    EXPECT_EQ(ReadAll(std::wstring(kInstall) + L"\\Marrowtide.exe"), "program");
    EXPECT_EQ(ReadAll(std::wstring(kInstall) + L"\\extra.gdb"), "db in the program list");
    EXPECT_EQ(RecordedVersion(L"Marrowtide.exe"), L"5");
    // A ".gdb" entry is looked up in "gdb", where this pass never puts it: due again next time.
    EXPECT_TRUE(m_run.IsUpdateNeeded("extra.gdb", "5"));
    EXPECT_FALSE(m_run.IsUpdateNeeded("Marrowtide.exe", "5"));
}

TEST_F(PassTest, ASecondRunDownloadsOnlyTheVersionInfoFiles) {
    m_server->Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("SUBDIR=update/db\r\nz.gdb=3\r\n"));
    m_server->Serve("/update/db/z.gdb", HttpAnswer::Ok("zzz"));
    m_server->Serve("/marrowtide/MarrowtideWeb.ver", HttpAnswer::Ok("Tessvane.exe=3\r\n"));
    m_server->Serve("/marrowtide/Tessvane.exe", HttpAnswer::Ok("scanner"));
    RunDialog();
    EXPECT_EQ(m_server->Targets().size(), 4u);
    RunDialog();
    const auto targets = m_server->Targets();
    EXPECT_EQ(std::vector<std::string>(targets.begin() + 4, targets.end()),
              (std::vector<std::string>{"/update/db/DBUpdate.ver", "/marrowtide/MarrowtideWeb.ver"}));
    const auto status = Texts(IDC_STATIC_STATUS);
    EXPECT_EQ(status, (std::vector<std::wstring>{L"", L"DB 정보 파일을 다운로드받고 있습니다..",
                                                 L"시스템이 이미 최신 DB로 갱신되어 있습니다..",
                                                 L"버전 정보 파일을 다운로드받고 있습니다..",
                                                 L"시스템이 최신 사항으로 갱신되어 있습니다.."}));
}

TEST_F(PassTest, AFailedPassSkipsEverythingAfterIt) {
    wchar_t programs[MAX_PATH];
    SHGetSpecialFolderPathW(nullptr, programs, CSIDL_COMMON_PROGRAMS, FALSE);
    const std::wstring group = std::wstring(programs) + L"\\Marrowtide";
    const struct {
        const char* name;
        bool dbServed, programServed;
        std::vector<std::string> requests;
    } cases[] = {
        {"DB pass fails: no program pass, no shell entries", false, true, {"/update/db/DBUpdate.ver"}},
        {"program pass fails: no shell entries", true, false, {"/update/db/DBUpdate.ver", "/marrowtide/MarrowtideWeb.ver"}},
        {"both go through: shell entries", true, true, {"/update/db/DBUpdate.ver", "/marrowtide/MarrowtideWeb.ver"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_server.reset();  // a fresh server, with a fresh record of requests
        m_server = std::make_unique<TestHttpServer>(UPDATER_SERVER_HOST);
        ASSERT_TRUE(m_server->listening());
        if (c.dbServed) m_server->Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("\r\n"));
        if (c.programServed) m_server->Serve("/marrowtide/MarrowtideWeb.ver", HttpAnswer::Ok("\r\n"));
        RemoveTree(group);
        RunDialog();
        EXPECT_EQ(m_server->Targets(), c.requests);
        const bool linked = GetFileAttributesW((group + L"\\Marrowtide 실행.lnk").c_str()) != INVALID_FILE_ATTRIBUTES;
        EXPECT_EQ(linked, c.dbServed && c.programServed);
    }
}

// The worker as the dialog starts it, but with whatever "InstallPath" holds: the dialog's start rewrites the
// value, so a whole run of the program never shows the worker a missing or unusable one.
TEST_F(PassTest, TheRunTakesTheInstallFolderFromTheProductKeyOrSettlesOnTheFallback) {
    const std::wstring fallback = L"C:\\Program Files\\Yelvan\\Marrowtide";
    const std::string tooLong = "C:\\pass-test\\" + std::string(287, 'x');  // 300 characters
    const struct {
        const char* name;
        const char* value;  // nullptr: no value
        std::wstring lands;
    } cases[] = {
        {"an existing folder", "C:\\pass-test\\Marrowtide", kInstall},
        {"missing", nullptr, fallback},
        {"empty", "", fallback},
        {"naming no folder", "C:\\pass-test\\gone", fallback},
        {"naming a file", "C:\\pass-test\\Marrowtide\\x.dll", fallback},
        {"300 characters long", tooLong.c_str(), fallback},
    };
    m_server->Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("SUBDIR=f\r\nn.gdb=4\r\nn.dll=4\r\n"));
    m_server->Serve("/f/n.gdb", HttpAnswer::Ok("new gdb"));
    m_server->Serve("/f/n.dll", HttpAnswer::Ok("new dll"));
    m_server->Serve("/marrowtide/MarrowtideWeb.ver", HttpAnswer::Ok("\r\n"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(L"C:\\Program Files\\Yelvan");
        RemoveTree(L"C:\\pass-test");
        EnsureFolder(kInstall);
        WriteAll(std::wstring(kInstall) + L"\\x.dll", "x");
        DeleteProductKey();
        ASSERT_EQ(WriteProductValue("Update_Flag", "YES"), 0);  // the key itself is there
        if (c.value) ASSERT_EQ(WriteProductValue("InstallPath", c.value), 0);
        CUpdaterDlg dlg(nullptr);
        dlg.m_run.m_strServerHost = UPDATER_SERVER_HOST;
        dlg.m_run.m_strServerPath = "/marrowtide";
        dlg.m_run.m_strVersionFile = "MarrowtideWeb.ver";
        EXPECT_EQ(CUpdaterDlg::UpdateThreadProc(&dlg), 0u);
        EXPECT_EQ(Utf16(dlg.m_run.m_strInstallPath.str()), c.lands);
        EXPECT_EQ(ReadAll(c.lands + L"\\gdb\\n.gdb"), "new gdb");
        EXPECT_EQ(ReadAll(c.lands + L"\\n.dll"), "new dll");
        EXPECT_EQ(RecordedVersion(L"n.dll"), L"4");
        // Nothing is put where the value points when that is not a folder, and the value is left as it was.
        EXPECT_EQ(GetFileAttributesW(L"C:\\pass-test\\gone"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(ReadAll(std::wstring(kInstall) + L"\\x.dll"), "x");
        std::wstring recorded;
        EXPECT_EQ(ReadHklmString(kProductKey, product::kInstallPathValueW, recorded), c.value != nullptr);
        if (c.value) EXPECT_EQ(recorded, Utf16(c.value));
    }
    RemoveTree(L"C:\\Program Files\\Yelvan");
}

}  // namespace
