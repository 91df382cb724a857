#include "app/UpdaterDlg.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "app/AboutDlg.h"
#include "build_config.h"
#include "app/UpdaterApp.h"
#include "core/product.h"
#include "framework/detached_call.h"
#include "framework/win_text.h"
#include "host/install_dir.h"
#include "host/os_type.h"
#include "host/registry_key.h"
#include "net/install_stats.h"
#include "update/release_check.h"
#include "res/resource.h"

namespace {
constexpr COLORREF kBarColor = RGB(0, 128, 255);
constexpr COLORREF kBarBackColor = RGB(236, 236, 255);
constexpr DWORD kWorkerGraceMs = 100;
constexpr DWORD kPassFailed = 0xFFFFFFFF;
}  // namespace

CUpdaterDlg::CUpdaterDlg(CWnd* parent) : CDialog(IDD_BRINSOUPDATOR_DIALOG, parent) {
    m_hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

void CUpdaterDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_STATIC_STATUS, m_stStatus);
    DDX_Control(pDX, IDC_STATIC_FILE, m_stFile);
    DDX_Control(pDX, IDC_STATIC_COUNT, m_stCount);
    DDX_Control(pDX, IDC_BUTTON_STOP, m_btnStop);
    DDX_Control(pDX, IDC_PROGRESS_TOTAL, m_progTotal);
    DDX_Control(pDX, IDC_PROGRESS_FILE, m_progFile);
    DDX_Text(pDX, IDC_STATIC_STATUS, m_strStatus);
}

BOOL CUpdaterDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // The window carries the application title (invisible: there is no caption) so that a second copy
    // finds it, and the taskbar button is named.
    ::SetWindowTextW(m_hWnd, Wide(LoadResourceString(IDS_APP_TITLE)).c_str());

    if (HMENU sysMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        const CString about = LoadResourceString(IDS_ABOUTBOX);
        if (!about.IsEmpty()) {
            ::AppendMenuW(sysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(sysMenu, MF_STRING, IDM_ABOUTBOX, Wide(about).c_str());
        }
    }

    ApplyDpi(WindowDpi(m_hWnd));
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    for (CLabeledProgressCtrl* bar : {&m_progTotal, &m_progFile}) {
        bar->SetBarColor(kBarColor);
        bar->SetBkColor(kBarBackColor);
        bar->ShowCaption(TRUE);
        bar->SendMessage(PBM_SETRANGE32, 0, 100);
        bar->SendMessage(PBM_SETPOS, 100, 0);
    }

    if (auto* app = dynamic_cast<CUpdaterApp*>(AfxGetApp())) {
        m_run.m_strServerHost = app->GetServerHost();
        m_run.m_strServerPath = app->GetServerPath();
        m_run.m_strVersionFile = app->GetVersionFile();
    }
    if (m_run.m_strServerHost.IsEmpty()) m_run.m_strServerHost = BuiltInServerHost();
    if (m_run.m_strServerPath.IsEmpty()) m_run.m_strServerPath = product::kServerPath;
    if (m_run.m_strVersionFile.IsEmpty()) m_run.m_strVersionFile = product::kProgramVersionFile;
    m_view->Attach(m_hWnd, m_progTotal.m_hWnd, m_progFile.m_hWnd, m_run.StopSignal());

    m_strInstallDir = PrepareInstallDir();
    // Which build ran: its version and the release keys it carries.
    m_log->Open(m_strInstallDir, ProgramVersionText() + " (" + ReleaseKeysText(BuiltInReleaseKeys()) + ")", WindowsVersionText());
    if (BuiltInReleaseKeys().count == 0) {
        m_log->Note("this build carries no release keys: it installs whatever its update server lists, signed or not");
    }
    // The program an update of this one replaced goes now that the new one runs.
    CString aside;
    bool atReboot = false;
    const DWORD removal = RemoveSetAsideProgram(aside, atReboot);
    if (removal == ERROR_SUCCESS) {
        m_log->Note((atReboot ? "the replaced program " + aside.str() + " is deleted at the next reboot"
                              : "deleted the replaced program " + aside.str()));
    } else if (removal != ERROR_FILE_NOT_FOUND) {
        m_log->Note("could not delete the replaced program " + aside.str() + " (" + ErrorText(removal) + ")", true);
    }
    StartInstallStats();

    ::PostMessageW(m_hWnd, WM_UPDATE_START, 0, 0);
    return TRUE;
}

void CUpdaterDlg::ApplyDpi(unsigned dpi) {
    m_dpi = dpi;
    m_btnStop.SetDpi(dpi);
    // The banner drawn for the scale, never a stretched one; the control takes its size. The one it showed
    // goes once the control lets go of it.
    ScopedBitmap banner = LoadBanner(dpi);
    if (!banner) return;
    ::SendDlgItemMessageW(m_hWnd, IDC_BANNER, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner.get()));
    m_banner = std::move(banner);
}

BOOL CUpdaterDlg::PreTranslateMessage(MSG* msg) {
    // Enter and Escape never reach the dialog manager, so they can never end the dialog.
    if (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE) return TRUE;
    return CDialog::PreTranslateMessage(msg);
}

BOOL CUpdaterDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == IDC_BUTTON_STOP && HIWORD(wParam) == BN_CLICKED) {
        ::PostQuitMessage(0);
        return TRUE;
    }
    return CDialog::OnCommand(wParam, lParam);
}

HBRUSH CUpdaterDlg::OnCtlColor(HDC dc, HWND control, UINT nCtlColor) {
    if (nCtlColor == CTLCOLOR_EDIT || nCtlColor == CTLCOLOR_LISTBOX) return CDialog::OnCtlColor(dc, control, nCtlColor);
    ::SetBkMode(dc, TRANSPARENT);
    // White as designed; under a high-contrast theme, the theme's window and text colours.
    if (!HighContrastOn()) return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    return ::GetSysColorBrush(COLOR_WINDOW);
}

bool CUpdaterDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        // A high-contrast theme turned on or off, or other system colours: everything drawn again.
        ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        return false;
    case kWmDpiChanged: {
        // Moved to a monitor of another DPI: the system's suggested place and size, and the parts drawn for it.
        const RECT& r = *reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(m_hWnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
        ApplyDpi(LOWORD(wParam));
        result = 0;
        return true;
    }
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return false;
        OnSysCommand(static_cast<UINT>(wParam));
        return true;
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(m_hIcon);
        return true;
    case WM_LBUTTONDOWN:
        OnLButtonDown();
        return false;  // then the default processing
    case WM_UPDATE_START:
        result = OnUpdateStart();
        return true;
    case WM_UPDATE_DONE:
        ::PostQuitMessage(0);
        result = 0;
        return true;
    default:
        return false;
    }
}

void CUpdaterDlg::OnSysCommand(UINT) {
    CAboutDlg about;
    about.DoModal();
}

bool CUpdaterDlg::OnPaint() {
    if (!::IsIconic(m_hWnd)) return false;
    CPaintDC dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    const int x = (rc.right - rc.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rc.bottom - rc.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
    return true;
}

void CUpdaterDlg::OnLButtonDown() {
    // Pressing on the background moves the window as if its (absent) caption had been grabbed.
    SendMessage(WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void CUpdaterDlg::OnDestroy() {
    CDialog::OnDestroy();
    if (StopWorker()) {
        RestoreProduct();
        FinishLeftWork();
        return;
    }
    // The worker missed its grace time and is ended by force. A thread ended so never lets go of what it
    // holds at that moment (the log's lock, the heap's), so the close does all it must while the worker
    // still runs (the log waits a bounded time for its lock), then ends the worker, and then the process,
    // which touches nothing more: the run's download folder stays in the temp folder.
    m_log->Note("the update worker did not end within its grace time and is terminated", true);
    RestoreProduct();
    ::TerminateThread(m_hThread.get(), STILL_ACTIVE);
    m_hThread.reset();
    m_nWorkerEnd = WorkerEnd::Terminated;
    WaitForLeftWork();
    EndAfterTerminate();
}

void CUpdaterDlg::EndAfterTerminate() { ::TerminateProcess(::GetCurrentProcess(), 0); }

void CUpdaterDlg::RestoreProduct() {
    const LONG flag = WriteProductValue(product::kUpdateFlagValue, product::kUpdateFlagDone);
    if (flag != ERROR_SUCCESS) {
        m_log->Note(std::string("could not set \"") + product::kUpdateFlagValue + "\" (" + ErrorText(flag) + ")", true);
    }
    m_monitor = StartMonitor(m_strInstallDir, *m_log);
}

void CUpdaterDlg::CheckHealth() {
    SendHealthReports(::CheckHealth(m_run.Previous(), m_run.m_strInstallPath, m_monitor, *m_log, UPDATER_HEALTH_WINDOW_S * 1000u), m_log,
                      kHealthReportGraceMs);
}

void CUpdaterDlg::FinishLeftWork() {
    WaitForLeftWork();
    m_run.m_runFolder.Remove();
}

void CUpdaterDlg::WaitForLeftWork() {
    std::vector<HANDLE> left = m_run.Downloads().GivenUpThreads();
    if (m_hStats) left.push_back(m_hStats.get());
    if (left.size() > MAXIMUM_WAIT_OBJECTS) left.resize(MAXIMUM_WAIT_OBJECTS);
    if (!left.empty()) ::WaitForMultipleObjects(static_cast<DWORD>(left.size()), left.data(), TRUE, kLeftWorkGraceMs);
}

void CUpdaterDlg::StartInstallStats() {
    // Its outcome changes nothing in the update: it goes out on a thread of its own, so a statistics
    // server that never answers holds neither the dialog nor the run.
    const std::shared_ptr<CRunLog> log = m_log;
    m_hStats = StartDetached([log] {
        const DWORD error = TellingFaults(*log, "statistics report", DWORD{ERROR_SUCCESS}, [] { return ReportInstall(GetMacAddress()); });
        if (error != ERROR_SUCCESS) log->Note("the statistics report could not be sent (" + ErrorText(error) + ")", true);
    });
}

LRESULT CUpdaterDlg::OnUpdateStart() {
    m_hThread.reset(::CreateThread(nullptr, 0, &UpdateThreadProc, this, 0, nullptr));
    if (!m_hThread) {
        m_log->Note("could not start the update: no thread (" + ErrorText(::GetLastError()) + ")", true);
        ::PostMessageW(m_hWnd, WM_UPDATE_DONE, 0, 0);
        return -1;
    }
    return 0;
}

DWORD WINAPI CUpdaterDlg::UpdateThreadProc(LPVOID param) {
    auto* dlg = static_cast<CUpdaterDlg*>(param);
    // Nothing thrown here may keep the dialog from closing: its close restarts the monitor and writes
    // "Update_Flag".
    const RunOutcome outcome =
        TellingFaults(dlg->m_run.Events(), "update worker", RunOutcome::Failed, [dlg] { return dlg->m_run.Run(); });
    switch (outcome) {
    case RunOutcome::Updated:
        ::SendMessageW(dlg->m_hWnd, WM_UPDATE_DONE, 0, 0);
        return 0;
    case RunOutcome::Failed:
        ::PostMessageW(dlg->m_hWnd, WM_UPDATE_DONE, 0, 0);
        return kPassFailed;
    case RunOutcome::Stopped:
        break;  // the dialog is closing already
    }
    return kPassFailed;
}

bool CUpdaterDlg::StopWorker() {
    if (!m_hThread) return true;
    const HANDLE thread = m_hThread.get();
    if (::WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) m_run.Stop();
    // The worker may be sending a message to this thread right now: let such messages through while
    // waiting, so it is never left blocked in a send.
    const DWORD start = ::GetTickCount();
    for (;;) {
        const DWORD waited = ::GetTickCount() - start;
        if (waited >= kWorkerGraceMs) break;
        const DWORD r = ::MsgWaitForMultipleObjects(1, &thread, FALSE, kWorkerGraceMs - waited, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) break;
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    if (::WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) return false;
    m_nWorkerEnd = WorkerEnd::Returned;
    m_hThread.reset();
    return true;
}
