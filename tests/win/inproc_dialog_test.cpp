// The update dialog in this process, so the worker's end can be seen from inside.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/UpdaterDlg.h"
#include "build_config.h"
#include "res/resource.h"
#include "support/http_server.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

struct Clicker {
    DWORD clickedAt = 0;
    DWORD delayMs = 0;
};

DWORD WINAPI ClickStopLater(LPVOID param) {
    auto* c = static_cast<Clicker*>(param);
    HWND dlg = WaitForTopWindow(GetCurrentProcessId(), L"BrinsoUpdator", 15000);
    if (!dlg) return 1;
    Sleep(c->delayMs);
    c->clickedAt = GetTickCount();
    PostMessageW(GetDlgItem(dlg, IDC_BUTTON_STOP), BM_CLICK, 0, 0);
    return 0;
}

TEST(InProcessDialog, StopEndsTheWorkerOnItsOwnWithinItsGraceTime) {
    CleanProductPrograms();
    // Inside each of the four half-second pauses of the shutdown step, and right at the start.
    for (DWORD delay : {0u, 250u, 800u, 1300u}) {
        SCOPED_TRACE(delay);
        Clicker clicker{0, delay};
        HANDLE t = CreateThread(nullptr, 0, &ClickStopLater, &clicker, 0, nullptr);
        CUpdaterDlg dlg(nullptr);
        dlg.DoModal();
        const DWORD closedAt = GetTickCount();
        DrainQuit();
        WaitForSingleObject(t, 5000);
        CloseHandle(t);
        ASSERT_NE(clicker.clickedAt, 0u);
        EXPECT_EQ(dlg.m_nWorkerEnd, CUpdaterDlg::WorkerEnd::Returned);
        EXPECT_LE(closedAt - clicker.clickedAt, 300u);
        EXPECT_EQ(dlg.m_hThread.get(), nullptr);
    }
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
