#pragma once
// Window base: a C++ object attached to a window by subclassing. The object is found from its window
// through a window property; the window procedure lets nothing escape into the system.
#include <windows.h>

#include "framework/cstring.h"

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    // The object attached to hwnd by SubclassWindow or by a dialog, or nullptr.
    static CWnd* FromHandlePermanent(HWND hwnd);

    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    BOOL SubclassWindow(HWND hwnd);
    HWND UnsubclassWindow();

    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    CString GetWindowText() const;
    LRESULT SendMessage(UINT msg, WPARAM w = 0, LPARAM l = 0) const { return ::SendMessageW(m_hWnd, msg, w, l); }

    // Owner-drawn controls draw themselves: the parent hands WM_DRAWITEM back to the control.
    virtual void DrawItem(DRAWITEMSTRUCT* dis);

protected:
    virtual void PreSubclassWindow() {}
    // Subclassed windows: one place where all messages arrive. The base gives the default processing.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

    void AttachObject(HWND hwnd);  // links hwnd and this object (property)
    void DetachObject();

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    WNDPROC m_pfnSuper = nullptr;
};

class CStatic : public CWnd {};
class CButton : public CWnd {};
class CProgressCtrl : public CWnd {};
