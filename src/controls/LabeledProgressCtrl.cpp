#include "controls/LabeledProgressCtrl.h"

#include <oleacc.h>

#include <string>

#include "controls/Accessible.h"
#include "controls/OffscreenDC.h"
#include "framework/handles.h"
#include "framework/win_text.h"

namespace {

RECT ToRect(const core::Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// A clip region for a rectangle given in the surface's logical coordinates.
ScopedRegion ClipRegion(HDC dc, const core::Rect& r) {
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    ::LPtoDP(dc, corners, 2);
    return ScopedRegion(::CreateRectRgn(corners[0].x, corners[0].y, corners[1].x, corners[1].y));
}

}  // namespace

COLORREF CLabeledProgressCtrl::SetColor(COLORREF& field, COLORREF color) {
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, TRUE);
    const COLORREF previous = field;
    field = color;
    return previous;
}

void CLabeledProgressCtrl::ShowCaption(BOOL show) {
    if (m_hWnd && show != m_bShowCaption) ::InvalidateRect(m_hWnd, nullptr, TRUE);
    m_bShowCaption = show;
}

core::ProgressPicture CLabeledProgressCtrl::Picture() const {
    core::ProgressState s;
    s.position = m_nPosition;
    s.lower = m_nLower;
    s.upper = m_nUpper;
    s.vertical = m_hWnd && (GetStyle() & PBS_VERTICAL) != 0;
    s.showCaption = m_bShowCaption != FALSE;
    s.caption = m_strCaption.str();
    s.bar = m_crBar;
    s.back = m_crBack;
    s.captionColour = m_crCaption;
    RECT rc{};
    if (m_hWnd) ::GetClientRect(m_hWnd, &rc);
    // Colours are resolved at each paint, so a change of the system colours or of the theme shows at the
    // next one.
    const core::ProgressPicture p = core::LayoutProgress(s, {rc.left, rc.top, rc.right, rc.bottom}, ::GetSysColor(COLOR_HIGHLIGHT),
                                                         ::GetSysColor(COLOR_WINDOW));
    return HighContrastOn() ? core::InHighContrast(p, CurrentSystemColours()) : p;
}

AccessibleFacts CLabeledProgressCtrl::Facts() const {
    // A progress bar named by the label before it, its value its percentage (whatever caption it shows).
    AccessibleFacts f;
    f.role = ROLE_SYSTEM_PROGRESSBAR;
    if (const HWND label = ::GetWindow(m_hWnd, GW_HWNDPREV)) f.name = WindowTextOf(label);
    f.hasValue = true;
    f.value = Wide(core::ProgressPercentText(m_nPosition, m_nLower, m_nUpper));
    return f;
}

LRESULT CLabeledProgressCtrl::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_ERASEBKGND: return TRUE;
    case WM_PAINT: OnPaint(); return 0;
    case WM_SIZE: {
        const LRESULT r = CProgressCtrl::WindowProc(msg, wParam, lParam);
        m_nFillWidth = -1;  // the next position repaints whatever it is
        return r;
    }
    case WM_SETTEXT: {
        const LRESULT r = CProgressCtrl::WindowProc(msg, wParam, lParam);
        OnSetText(lParam);
        return r;
    }
    case WM_GETTEXT: return OnGetText(wParam, lParam);
    case WM_GETOBJECT:
    case WM_ACCESSIBLEFACTS: {
        LRESULT result = 0;
        const auto facts = [this](AccessibleFacts& f) { f = Facts(); };
        return AccessibleMessage(m_hWnd, msg, wParam, lParam, facts, result) ? result : CProgressCtrl::WindowProc(msg, wParam, lParam);
    }
    case PBM_SETRANGE:
        m_nLower = LOWORD(lParam);
        m_nUpper = HIWORD(lParam);
        return PackedRange();
    case PBM_SETRANGE32:
        m_nLower = static_cast<int>(wParam);
        m_nUpper = static_cast<int>(lParam);
        return PackedRange();
    case PBM_SETPOS: return OnSetPos(static_cast<int>(wParam));
    case PBM_DELTAPOS: return SendMessage(PBM_SETPOS, static_cast<WPARAM>(m_nPosition + static_cast<int>(wParam)));
    case PBM_STEPIT: return SendMessage(PBM_SETPOS, static_cast<WPARAM>(m_nPosition + m_nStep));
    case PBM_SETSTEP: {
        const int previous = m_nStep;
        m_nStep = static_cast<int>(wParam);
        return previous;
    }
    case PBM_GETRANGE:
        if (lParam) {
            auto* range = reinterpret_cast<PBRANGE*>(lParam);
            range->iLow = m_nLower;
            range->iHigh = m_nUpper;
        }
        return wParam ? m_nLower : m_nUpper;
    case PBM_GETPOS: return m_nPosition;
    case PBM_SETBARCOLOR: return SetColor(m_crBar, static_cast<COLORREF>(lParam));
    case PBM_SETBKCOLOR: return SetColor(m_crBack, static_cast<COLORREF>(lParam));
    case PBM_SETCAPTIONCOLOR: return SetColor(m_crCaption, static_cast<COLORREF>(lParam));
    case PBM_SHOWCAPTION: {
        const LRESULT r = CProgressCtrl::WindowProc(msg, wParam, lParam);
        ShowCaption(static_cast<BOOL>(wParam));
        return r;
    }
    default: return CProgressCtrl::WindowProc(msg, wParam, lParam);
    }
}

LRESULT CLabeledProgressCtrl::PackedRange() const {
    return MAKELRESULT(static_cast<WORD>(m_nLower), static_cast<WORD>(m_nUpper));
}

LRESULT CLabeledProgressCtrl::OnSetPos(int position) {
    if (!m_hWnd) return -1;
    const int previous = m_nPosition;
    m_nPosition = position;
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    const int width = core::ProgressFillWidth(m_nPosition, m_nLower, m_nUpper, rc.right - rc.left);
    // Repainted only when the bar's width in whole pixels changes: one paint per visible step.
    if (width != m_nFillWidth) {
        m_nFillWidth = width;
        ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    return previous;
}

void CLabeledProgressCtrl::OnSetText(LPARAM text) {
    const CString updated = text ? CString(Narrow(reinterpret_cast<const wchar_t*>(text))) : CString();
    if (updated == m_strCaption) return;
    m_strCaption = updated;
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

LRESULT CLabeledProgressCtrl::OnGetText(WPARAM size, LPARAM buffer) const {
    if (size == 0 || !buffer) return 0;
    const std::wstring caption = Wide(m_strCaption);
    std::size_t n = caption.size() < size - 1 ? caption.size() : size - 1;
    if (n > 0 && n < caption.size() && caption[n - 1] >= 0xD800 && caption[n - 1] <= 0xDBFF) --n;  // never half a pair
    auto* out = reinterpret_cast<wchar_t*>(buffer);
    caption.copy(out, n);
    out[n] = L'\0';
    return static_cast<LRESULT>(n);
}

void CLabeledProgressCtrl::OnPaint() {
    CPaintDC paint(m_hWnd);
    const core::ProgressPicture p = Picture();
    if (!p.draw) return;  // empty or inverted range: the paint cycle still ends
    COffscreenDC dc(paint.GetSafeHdc());
    const HDC hdc = dc.GetSafeHdc();
    const HFONT font = reinterpret_cast<HFONT>(::SendMessageW(::GetParent(m_hWnd), WM_GETFONT, 0, 0));
    const ScopedSelection selected(hdc, font);
    dc.FillSolidRect(ToRect(p.bar), p.barColour);
    dc.FillSolidRect(ToRect(p.track), p.backColour);
    if (p.caption) {
        ::SetBkMode(hdc, TRANSPARENT);
        RECT client;
        ::GetClientRect(m_hWnd, &client);
        const std::wstring text = Wide(p.text);
        const struct {
            core::Rect clip;
            COLORREF colour;
        } passes[] = {{p.bar, p.textOverBar}, {p.track, p.textOverTrack}};
        for (const auto& pass : passes) {
            const ScopedRegion region = ClipRegion(hdc, pass.clip);
            ::SelectClipRgn(hdc, region.get());
            ::SetTextColor(hdc, pass.colour);
            ::DrawTextW(hdc, text.c_str(), -1, &client, m_uCaptionFormat);
        }
        ::SelectClipRgn(hdc, nullptr);
    }
}
