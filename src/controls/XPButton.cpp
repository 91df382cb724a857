#include "controls/XPButton.h"

#include <commctrl.h>
#include <oleacc.h>

#include "controls/Accessible.h"
#include "controls/OffscreenDC.h"
#include "core/control_layout.h"
#include "framework/win_text.h"

namespace {

HPEN FramePen(int width, COLORREF colour) { return ::CreatePen(PS_INSIDEFRAME, width, colour); }

// A font of the given size in tenths of a point at dpi, by face name.
HFONT PointFont(unsigned dpi, int tenths, const wchar_t* face) {
    LOGFONTW lf{};
    lf.lfHeight = -::MulDiv(tenths, static_cast<int>(dpi), 720);
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    return ::CreateFontIndirectW(&lf);
}

}  // namespace

CXPButton::CXPButton() { SetDpi(96); }

void CXPButton::SetDpi(unsigned dpi) {
    // The edge lines' colours and widths are the layout's: the pens are made from them once per DPI.
    m_dpi = dpi;
    m_penOutline.reset(FramePen(core::Scaled(1, dpi), RGB(0, 0, 0)));
    core::EdgeLine hot[4], focus[4];
    core::EdgeLines({}, false, hot, dpi);
    core::EdgeLines({}, true, focus, dpi);
    for (int i = 0; i < 4; ++i) {
        m_hotPens[i].reset(FramePen(hot[i].width, hot[i].colour));
        m_focusPens[i].reset(FramePen(focus[i].width, focus[i].colour));
    }
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CXPButton::PreSubclassWindow() {
    ModifyStyle(0, BS_OWNERDRAW, 0);
    CButton::PreSubclassWindow();
}

LRESULT CXPButton::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_MOUSEMOVE:
        if (!m_bLeaveArmed) {
            // One request for each stay of the pointer: hover after 1 ms, and the leave.
            TRACKMOUSEEVENT tme{sizeof tme, TME_HOVER | TME_LEAVE, m_hWnd, 1};
            m_bLeaveArmed = ::_TrackMouseEvent(&tme);
        }
        return CButton::WindowProc(msg, wParam, lParam);
    case WM_MOUSEHOVER:
        m_bMouseInside = TRUE;
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
        return 1;
    case WM_GETOBJECT:
    case WM_ACCESSIBLEFACTS: {
        // A push button named by its caption, pressed by its default action as by the mouse or the keyboard.
        LRESULT result = 0;
        const auto facts = [this](AccessibleFacts& f) {
            f.role = ROLE_SYSTEM_PUSHBUTTON;
            f.name = WindowTextOf(m_hWnd);
            f.pressable = true;
        };
        return AccessibleMessage(m_hWnd, msg, wParam, lParam, facts, result) ? result : CButton::WindowProc(msg, wParam, lParam);
    }
    case WM_MOUSELEAVE:
        m_bLeaveArmed = FALSE;
        m_bMouseInside = FALSE;
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
        return 0;
    default:
        return CButton::WindowProc(msg, wParam, lParam);
    }
}

void CXPButton::DrawItem(DRAWITEMSTRUCT* dis) {
    COffscreenDC surface(dis->hDC);
    const HDC dc = surface.GetSafeHdc();
    RECT rc = dis->rcItem;
    const std::wstring caption = Wide(GetWindowText());

    m_bHasFocus = (dis->itemState & ODS_FOCUS) != 0;
    m_bEmphasis = (dis->itemState & (ODS_FOCUS | ODS_SELECTED | ODS_DEFAULT)) != 0;
    m_bHighContrast = HighContrastOn();
    const int corner = core::Scaled(10, m_dpi);
    const int edge = core::Scaled(2, m_dpi);  // the system's 3-D edge at 96 DPI, SM_CXEDGE
    if (m_bHighContrast) {
        // The theme's colours alone: the window around, the face plain in its frame, the caption and the
        // focus in the button's text colour.
        ::FillRect(dc, &rc, ::GetSysColorBrush(COLOR_WINDOW));
        const ScopedPen frame(FramePen(core::Scaled(1, m_dpi), ::GetSysColor(COLOR_BTNTEXT)));
        const ScopedSelection pen(dc, frame.get()), brush(dc, ::GetSysColorBrush(COLOR_BTNFACE));
        ::RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, corner, corner);
        ::InflateRect(&rc, -edge, -edge);
        if (m_bHasFocus) ::DrawFocusRect(dc, &rc);
        if (!caption.empty()) DrawCaption(dc, rc, dis->itemState, caption);
        return;
    }
    {
        const ScopedSelection outline(dc, m_penOutline.get());
        ::RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, corner, corner);  // filled by the surface's white brush
    }
    ::InflateRect(&rc, -edge, -edge);
    FillGradient(dc, rc);
    if (m_bHasFocus || m_bMouseInside) DrawEdgeLines(dc, rc);
    if (!caption.empty()) DrawCaption(dc, rc, dis->itemState, caption);
}

void CXPButton::FillGradient(HDC dc, const RECT& rc) {
    ScopedBrush brushes[64];
    for (int i = 0; i < 64; ++i) {
        brushes[i].reset(::CreateSolidBrush(core::GradientColour(i, m_bEmphasis != FALSE, m_bMouseInside != FALSE)));
    }
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;
    const core::RowSpan rows = core::GradientRows(rc.top, height);
    for (int y = rows.first; y <= rows.last; ++y) {
        const int brush = core::GradientRowBrush(y, height);
        if (brush < 0) continue;  // past the last brush: the row stays white
        const RECT row{rc.left, y, width + 2, y + 1};
        ::FillRect(dc, &row, brushes[brush].get());
    }
}

void CXPButton::DrawEdgeLines(HDC dc, const RECT& rc) {
    const bool focusSet = m_bHasFocus && !m_bMouseInside;
    core::EdgeLine lines[4];
    core::EdgeLines({rc.left, rc.top, rc.right, rc.bottom}, focusSet, lines, m_dpi);
    const ScopedPen* pens = focusSet ? m_focusPens : m_hotPens;
    POINT remembered{};
    ::GetCurrentPositionEx(dc, &remembered);
    {
        const ScopedSelection pen(dc, pens[0].get());
        for (int i = 0; i < 4; ++i) {
            pen.Select(pens[i].get());
            ::MoveToEx(dc, lines[i].fromX, lines[i].fromY, nullptr);
            ::LineTo(dc, lines[i].toX, lines[i].toY);
        }
    }
    ::MoveToEx(dc, remembered.x, remembered.y, nullptr);
}

void CXPButton::DrawCaption(HDC dc, RECT inner, UINT state, const std::wstring& caption) {
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = ::SetTextColor(dc, m_bHighContrast ? ::GetSysColor(COLOR_BTNTEXT) : ::GetTextColor(dc));
    const ScopedFont font(PointFont(m_dpi, 90, L"굴림"));
    const ScopedSelection selected(dc, font.get());
    SIZE size{};
    ::GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    if (state & ODS_DISABLED) {
        const int x = (inner.left + inner.right) / 2 - size.cx / 2;
        const int y = (inner.top + inner.bottom) / 2 - size.cy / 2;
        ::DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(caption.c_str()), 0, x, y, size.cx, size.cy,
                     DST_TEXT | DSS_DISABLED);
    } else {
        if (state & ODS_SELECTED) ::OffsetRect(&inner, core::Scaled(2, m_dpi), core::Scaled(2, m_dpi));
        ::DrawTextW(dc, caption.c_str(), -1, &inner, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    ::SetTextColor(dc, oldColour);
    ::SetBkMode(dc, oldMode);
}
