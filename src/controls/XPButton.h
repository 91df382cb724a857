#pragma once
// Owner-drawn push button with a flat look: black rounded outline, light vertical gradient, coloured
// edge lines while the pointer rests on it (orange) or it has the focus (blue), centred 9-point caption.
#include <windows.h>

#include "framework/handles.h"
#include "framework/wnd.h"

class CXPButton : public CButton {
public:
    CXPButton();
    ~CXPButton() override = default;
    void DrawItem(DRAWITEMSTRUCT* dis) override;
    // Drawn for dpi from now on: every length of its 96-DPI drawing scaled (96 until told).
    void SetDpi(unsigned dpi);

    // The drawing steps, on the surface a drawing uses.
    void FillGradient(HDC dc, const RECT& rc);
    void DrawEdgeLines(HDC dc, const RECT& rc);

    BOOL m_bMouseInside = FALSE;  // set by the hover notification, cleared by the leave notification
    BOOL m_bLeaveArmed = FALSE;   // a tracking request is active
    BOOL m_bHasFocus = FALSE;     // of the drawing in progress
    BOOL m_bEmphasis = FALSE;     // focus, pressed or default state of the drawing in progress
    bool m_bHighContrast = false; // a high-contrast theme is on for the drawing in progress

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void DrawCaption(HDC dc, RECT inner, UINT state, const std::wstring& caption);

    unsigned m_dpi = 96;
    ScopedPen m_penOutline;
    ScopedPen m_hotPens[4], m_focusPens[4];  // left, right, top, bottom, as the layout's edge lines
};
