#include "app/UpdaterDlg.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "app/AboutDlg.h"
#include "app/UpdaterApp.h"
#include "framework/win_text.h"
#include "host/registry_key.h"
#include "res/resource.h"

namespace {
constexpr COLORREF kBarColor = RGB(0, 128, 255);
constexpr COLORREF kBarBackColor = RGB(236, 236, 255);
}  // namespace

CUpdaterDlg::CUpdaterDlg(CWnd* parent) : CDialog(IDD_BRINSOUPDATOR_DIALOG, parent) {
    m_hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

void CUpdaterDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_STATIC_STATUS, m_stStatus);
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
        m_strServerHost = app->GetServerHost();
        m_strServerPath = app->GetServerPath();
        m_strVersionFile = app->GetVersionFile();
    }
    if (m_strServerHost.IsEmpty()) m_strServerHost = BuiltInServerHost();
    if (m_strServerPath.IsEmpty()) m_strServerPath = "marrowtide";
    if (m_strVersionFile.IsEmpty()) m_strVersionFile = kVersionFileName;

    PrepareInstallDir();
    StartInstallStats();

    ::PostMessageW(m_hWnd, WM_UPDATE_START, 0, 0);
    return TRUE;
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
    return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}

bool CUpdaterDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
    switch (msg) {
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
    StopWorker();
    WriteProductValue("Update_Flag", "YES");

    CString monitor;
    monitor.Format("%s\\%s", m_strInstallDir.GetString(), "MarRtime.exe");
    if (::PathFileExistsW(Wide(monitor).c_str())) {
        ::ShellExecuteW(nullptr, L"open", Wide(monitor).c_str(), nullptr, Wide(m_strInstallDir).c_str(), SW_SHOW);
    }
    FinishLeftWork();
}

void CUpdaterDlg::FinishLeftWork() {
    HANDLE left[2];
    DWORD count = 0;
    for (const ScopedHandle* h : {&m_hStats, &m_hStoppedDownload}) {
        if (*h) left[count++] = h->get();
    }
    if (count) ::WaitForMultipleObjects(count, left, TRUE, kLeftWorkGraceMs);
    m_runFolder.Remove();
}
