#include "framework/dialog.h"

#include "framework/win_text.h"
#include "framework/winapp.h"

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (!control.m_hWnd) control.SubclassDlgItem(static_cast<UINT>(id), pDX->m_pDlgWnd);
}

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    HWND item = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, id);
    if (pDX->m_bSaveAndValidate) value = GetWindowTextUtf8(item);
    else ::SetWindowTextW(item, Wide(value).c_str());
}

CDialog::~CDialog() {
    if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal() {
    HWND owner = m_pParent ? m_pParent->m_hWnd : nullptr;
    CWnd* mainWnd = AfxGetApp() ? AfxGetApp()->m_pMainWnd : nullptr;
    if (!owner && mainWnd && mainWnd != this) owner = mainWnd->m_hWnd;
    if (owner && !::IsWindow(owner)) owner = nullptr;

    m_nModalResult = -1;
    m_bContinueModal = true;
    HWND hwnd = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_idTemplate), owner,
                                     &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    if (!hwnd) return -1;
    const bool ownerDisabled = owner && !::EnableWindow(owner, FALSE);
    if (m_bContinueModal && !::IsWindowVisible(hwnd)) ::ShowWindow(hwnd, SW_SHOWNORMAL);

    MSG msg;
    while (m_bContinueModal) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            // Leave the quit message for the loop outside this one, as the platform's modal loops do.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            m_nModalResult = -1;
            break;
        }
        if (!PreTranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    // Hide first, so the window is gone from the screen before its owner comes back and it is destroyed.
    ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                   SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    if (ownerDisabled) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
    ::DestroyWindow(hwnd);
    m_hWnd = nullptr;
    return m_nModalResult;
}

void CDialog::EndDialog(int result) {
    m_nModalResult = result;
    m_bContinueModal = false;
    if (m_hWnd) ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // wake the loop
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx{this, saveAndValidate};
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    if (!m_hWnd) return FALSE;
    if (msg->hwnd != m_hWnd && !::IsChild(m_hWnd, msg->hwnd)) return FALSE;
    return ::IsDialogMessageW(m_hWnd, msg);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM) {
    switch (LOWORD(wParam)) {
    case IDOK: OnOK(); return TRUE;
    case IDCANCEL: OnCancel(); return TRUE;
    default: return FALSE;
    }
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

void CDialog::CenterWindow() {
    RECT rc;
    ::GetWindowRect(m_hWnd, &rc);
    RECT area;
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
        ::GetWindowRect(owner, &area);
    } else {
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    const int w = rc.right - rc.left;
    const int h = rc.bottom - rc.top;
    const int x = area.left + (area.right - area.left - w) / 2;
    const int y = area.top + (area.bottom - area.top - h) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CDialog* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->AttachObject(hwnd);
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    try {
        const INT_PTR r = self->Dispatch(msg, wParam, lParam);
        if (msg == WM_NCDESTROY) {
            ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
            self->DetachObject();
        }
        return r;
    } catch (...) {
        return FALSE;  // nothing escapes into the dialog manager: the message gets its default processing
    }
}

INT_PTR CDialog::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        CenterWindow();
        return OnInitDialog();
    case WM_COMMAND:
        return OnCommand(wParam, lParam);
    case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC:
        // Answered with the brush itself, not through DWLP_MSGRESULT.
        return reinterpret_cast<INT_PTR>(OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                                                    msg - WM_CTLCOLORMSGBOX));
    case WM_DRAWITEM: {
        auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        CWnd* control = dis->CtlType == ODT_MENU ? nullptr : FromHandlePermanent(dis->hwndItem);
        if (!control) return FALSE;
        control->DrawItem(dis);
        ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default: {
        LRESULT result = 0;
        if (!OnMessage(msg, wParam, lParam, result)) return FALSE;
        if (msg == WM_QUERYDRAGICON) return static_cast<INT_PTR>(result);  // also answered directly
        ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    }
}
