#include "framework/wnd.h"

#include "framework/win_text.h"

namespace {
// The window property that ties a window to its object.
const wchar_t kObjectProp[] = L"framework.CWnd.object";
}

CWnd::~CWnd() {
    if (m_pfnSuper) UnsubclassWindow();
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
    return hwnd ? static_cast<CWnd*>(::GetPropW(hwnd, kObjectProp)) : nullptr;
}

void CWnd::AttachObject(HWND hwnd) {
    m_hWnd = hwnd;
    ::SetPropW(hwnd, kObjectProp, this);
}

void CWnd::DetachObject() {
    if (m_hWnd) ::RemovePropW(m_hWnd, kObjectProp);
    m_hWnd = nullptr;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    HWND item = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
    return item ? SubclassWindow(item) : FALSE;
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
    if (!hwnd || m_hWnd || FromHandlePermanent(hwnd)) return FALSE;
    m_hWnd = hwnd;
    PreSubclassWindow();
    AttachObject(hwnd);
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
    return TRUE;
}

HWND CWnd::UnsubclassWindow() {
    HWND hwnd = m_hWnd;
    if (hwnd && m_pfnSuper && ::IsWindow(hwnd)) {
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    }
    m_pfnSuper = nullptr;
    DetachObject();
    return hwnd;
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT flags) {
    const DWORD style = GetStyle();
    const DWORD updated = (style & ~remove) | add;
    if (style == updated) return FALSE;
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(updated));
    if (flags) ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | flags);
    return TRUE;
}

CString CWnd::GetWindowText() const { return GetWindowTextUtf8(m_hWnd); }

void CWnd::DrawItem(DRAWITEMSTRUCT*) {}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    return m_pfnSuper ? ::CallWindowProcW(m_pfnSuper, m_hWnd, msg, wParam, lParam)
                      : ::DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CWnd* self = FromHandlePermanent(hwnd);
    if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        // The window goes away before the object: give the message to the original procedure, then let go.
        WNDPROC super = self->m_pfnSuper;
        self->UnsubclassWindow();
        return super ? ::CallWindowProcW(super, hwnd, msg, wParam, lParam) : 0;
    }
    try {
        return self->WindowProc(msg, wParam, lParam);
    } catch (...) {
        // A failure inside a handler (out of memory) must not unwind through the system's code.
        return self->m_pfnSuper ? ::CallWindowProcW(self->m_pfnSuper, hwnd, msg, wParam, lParam) : 0;
    }
}
