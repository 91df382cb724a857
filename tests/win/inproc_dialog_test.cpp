// The update dialog in this process, so the worker's end can be seen from inside.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

#include "app/UpdaterDlg.h"
#include "build_config.h"
#include "res/resource.h"
#include "support/http_server.h"
#include "support/run_log_lock.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

struct Clicker {
    DWORD clickedAt = 0;
    DWORD delayMs = 0;
    std::function<bool()> when;  // the moment to click, after the delay
};

DWORD WINAPI ClickStopLater(LPVOID param) {
    auto* c = static_cast<Clicker*>(param);
    HWND dlg = WaitForTopWindow(GetCurrentProcessId(), L"BrinsoUpdator", 15000);
    if (!dlg) return 1;
    Sleep(c->delayMs);
    if (c->when && !WaitUntil(c->when, 20000)) return 1;
    c->clickedAt = GetTickCount();
    PostMessageW(GetDlgItem(dlg, IDC_BUTTON_STOP), BM_CLICK, 0, 0);
    return 0;
}

// Runs dlg while the clicker presses stop at its moment; the moment the dialog closed.
DWORD RunWhileClicking(CUpdaterDlg& dlg, Clicker& clicker) {
    const HANDLE t = CreateThread(nullptr, 0, &ClickStopLater, &clicker, 0, nullptr);
    dlg.DoModal();
    const DWORD closedAt = GetTickCount();
    DrainQuit();
    WaitForSingleObject(t, 5000);
    CloseHandle(t);
    return closedAt;
}

TEST(InProcessDialog, StopEndsTheWorkerOnItsOwnWithinItsGraceTime) {
    CleanProductPrograms();
    DeleteFileW(L"C:\\Program Files\\Marrowtide\\doc.mtxslow");
    const auto slowOpen = SlowOpenHandler();
    ASSERT_TRUE(slowOpen);
    TestHttpServer server(UPDATER_SERVER_HOST);
    ASSERT_TRUE(server.listening());
    server.Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("SUBDIR=db\r\ndoc.mtxslow=1,0,0,1\r\n"));
    server.Serve("/db/doc.mtxslow", HttpAnswer::Ok("document"));
    const struct {
        const char* name;
        DWORD delay;
        std::function<bool()> when;
    } moments[] = {
        // Inside each of the four half-second pauses of the shutdown step, and right at the start.
        {"at the start", 0, nullptr},
        {"in the first pause", 250, nullptr},
        {"in the second pause", 800, nullptr},
        {"in the third pause", 1300, nullptr},
        // The shell's "open" waits twenty seconds for its handler.
        {"during a long \"open\"", 0, [] { return StartCount(L"C:\\standins\\slow\\slow.exe") > 0; }},
    };
    for (const auto& m : moments) {
        SCOPED_TRACE(m.name);
        Clicker clicker{0, m.delay, m.when};
        CUpdaterDlg dlg(nullptr);
        const DWORD closedAt = RunWhileClicking(dlg, clicker);
        ASSERT_NE(clicker.clickedAt, 0u);
        EXPECT_EQ(dlg.m_nWorkerEnd, CUpdaterDlg::WorkerEnd::Returned);
        EXPECT_LE(closedAt - clicker.clickedAt, 300u);
        EXPECT_EQ(dlg.m_hThread.get(), nullptr);
    }
}

// A worker ended by force while writing the log leaves its lock held for good: neither the run nor the
// close may wait on it for more than one line's bound, and the close still restores the product.
TEST(InProcessDialog, TheLogsLockHeldForGoodHoldsNeitherTheRunNorTheClose) {
    TestHttpServer server(UPDATER_SERVER_HOST);
    ASSERT_TRUE(server.listening());
    server.Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("\r\n"));
    server.Serve("/marrowtide/MarrowtideWeb.ver", HttpAnswer::Ok("\r\n"));
    WriteProductValueW(L"Update_Flag", L"NO");
    CUpdaterDlg dlg(nullptr);
    bool held = false;
    Clicker clicker{0, 300, [&] {
                        if (!held) HoldTheLogForGood(*dlg.m_log);
                        return held = true;
                    }};
    const DWORD closedAt = RunWhileClicking(dlg, clicker);
    ASSERT_NE(clicker.clickedAt, 0u);
    EXPECT_EQ(dlg.m_nWorkerEnd, CUpdaterDlg::WorkerEnd::Returned);
    // The stop's own line waits out one bound at most; after it nobody waits on the log.
    EXPECT_LE(closedAt - clicker.clickedAt, CRunLog::kLineWaitMs + 300u);
    EXPECT_EQ(RecordedVersion(L"Update_Flag"), L"YES");
}

// Moved to a monitor of another DPI (Windows sends WM_DPICHANGED; Wine has one DPI, so the test sends it):
// the dialog takes the place and size suggested, the banner drawn for the new scale and the button's.
TEST(InProcessDialog, AnotherMonitorsDpiGetsItsOwnBannerAndTheSuggestedPlace) {
    TestHttpServer server(UPDATER_SERVER_HOST);
    ASSERT_TRUE(server.listening());
    HttpAnswer stall;
    stall.stall = true;
    server.Serve("/update/db/DBUpdate.ver", stall);
    CUpdaterDlg dlg(nullptr);
    struct Seen {
        SIZE banner96{}, banner192{}, banner120{};
        RECT placed{};
        unsigned dpi = 0;
    } seen;
    const RECT suggested{40, 30, 40 + 900, 30 + 500};
    Clicker clicker{0, 300, [&] {
                        const HWND dlgWnd = WaitForTopWindow(GetCurrentProcessId(), L"BrinsoUpdator", 1000);
                        const auto bannerSize = [&] {
                            RECT r;
                            GetWindowRect(GetDlgItem(dlgWnd, IDC_BANNER), &r);
                            return SIZE{r.right - r.left, r.bottom - r.top};
                        };
                        seen.banner96 = bannerSize();
                        SendMessageW(dlgWnd, 0x02E0, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));  // WM_DPICHANGED
                        seen.banner192 = bannerSize();
                        GetWindowRect(dlgWnd, &seen.placed);
                        seen.dpi = dlg.m_dpi;
                        SendMessageW(dlgWnd, 0x02E0, MAKEWPARAM(120, 120), reinterpret_cast<LPARAM>(&suggested));
                        seen.banner120 = bannerSize();
                        return true;
                    }};
    RunWhileClicking(dlg, clicker);
    ASSERT_NE(clicker.clickedAt, 0u);
    EXPECT_EQ(seen.banner96.cx, 425);
    EXPECT_EQ(seen.banner96.cy, 55);
    EXPECT_EQ(seen.banner192.cx, 850);
    EXPECT_EQ(seen.banner192.cy, 110);
    EXPECT_EQ(seen.banner120.cx, 531) << "125 %: its own picture";
    EXPECT_TRUE(EqualRect(&seen.placed, &suggested));
    EXPECT_EQ(seen.dpi, 192u);
}

TEST(InProcessDialog, ARunThatGoesThroughEndsOnItsOwn) {
    TestHttpServer server(UPDATER_SERVER_HOST);
    ASSERT_TRUE(server.listening());
    server.Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("\r\n"));
    server.Serve("/marrowtide/MarrowtideWeb.ver", HttpAnswer::Ok("\r\n"));
    CUpdaterDlg dlg(nullptr);
    const DWORD t0 = GetTickCount();
    dlg.DoModal();
    DrainQuit();
    EXPECT_GE(GetTickCount() - t0, 2000u);  // the four pauses of the shutdown step
    EXPECT_EQ(dlg.m_nWorkerEnd, CUpdaterDlg::WorkerEnd::Returned);
}

}  // namespace
