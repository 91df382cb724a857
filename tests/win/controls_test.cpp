// The custom controls drawn for real: the progress bar in a shown window read back from the display,
// the button drawn into a 32-bit DIB read back exactly, hover with the pointer moved for real.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "controls/LabeledProgressCtrl.h"
#include "controls/XPButton.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

LRESULT CALLBACK HostProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_DRAWITEM) {  // owner-drawn controls draw themselves
        auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(l);
        if (CWnd* c = CWnd::FromHandlePermanent(dis->hwndItem)) {
            c->DrawItem(dis);
            return TRUE;
        }
    }
    return DefWindowProcW(h, m, w, l);
}

// A plain top-level window at a known place on the virtual display, hosting one control.
class Host {
public:
    Host(const wchar_t* cls, DWORD style, int w, int h) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &HostProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = L"ControlHost";
        RegisterClassW(&wc);
        m_host = CreateWindowExW(WS_EX_TOPMOST, L"ControlHost", L"", WS_POPUP | WS_VISIBLE, 100, 100, w + 40, h + 40,
                                 nullptr, nullptr, wc.hInstance, nullptr);
        m_control = CreateWindowW(cls, L"중지", WS_CHILD | WS_VISIBLE | style, 20, 20, w, h, m_host, nullptr,
                                  wc.hInstance, nullptr);
    }
    ~Host() { DestroyWindow(m_host); }
    HWND control() const { return m_control; }
    void Settle() const {
        UpdateWindow(m_host);
        WaitUntil([] { return false; }, 150);
    }
    ScreenCapture Capture() const {
        RECT rc;
        GetWindowRect(m_control, &rc);
        return ScreenCapture(rc);
    }

private:
    HWND m_host;
    HWND m_control;
};

class CountingBar : public CLabeledProgressCtrl {
public:
    int paints = 0;

protected:
    LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
        if (msg == WM_PAINT) ++paints;
        return CLabeledProgressCtrl::WindowProc(msg, w, l);
    }
};

const COLORREF kBar = RGB(0, 128, 255), kBack = RGB(236, 236, 255);

// Gradient colour of brush i for a drawing in this state, from the button's table.
COLORREF core_colour(int i, UINT state, BOOL hot) {
    const bool emphasis = (state & (ODS_FOCUS | ODS_SELECTED | ODS_DEFAULT)) != 0;
    if (!hot) return emphasis ? RGB(255 - i / 3, 255 - i / 3, 255 - i / 4) : RGB(255 - i / 3, 255 - i / 3, 255 - i / 5);
    return emphasis ? RGB(255 - i / 4, 255 - i / 4, 255 - i / 3) : RGB(255 - i / 4, 255 - i / 4, 255 - i / 5);
}

int CountColour(const ScreenCapture& s, COLORREF c, int x0, int x1) {
    return s.Count(RECT{x0, 0, x1, s.height()}, [c](COLORREF p) { return p == c; });
}

// A bar of this style and size in our colours, at this position, as it shows on the screen.
ScreenCapture ColouredBarAt(DWORD style, int w, int h, int pos) {
    Host host(PROGRESS_CLASSW, style, w, h);
    CLabeledProgressCtrl bar;
    EXPECT_TRUE(bar.SubclassWindow(host.control()));
    bar.SetBarColor(kBar);
    bar.SetBkColor(kBack);
    bar.SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos));
    host.Settle();
    return host.Capture();
}

TEST(ProgressBarPixels, FreshBarShowsAnEmptyTrackWithZeroPercentInTheBarColour) {
    Host host(PROGRESS_CLASSW, PBS_SMOOTH, 240, 14);
    CLabeledProgressCtrl bar;
    ASSERT_TRUE(bar.SubclassWindow(host.control()));
    host.Settle();
    const ScreenCapture s = host.Capture();
    const COLORREF window = GetSysColor(COLOR_WINDOW), highlight = GetSysColor(COLOR_HIGHLIGHT);
    EXPECT_GT(CountColour(s, window, 0, 240), 240 * 14 * 8 / 10);
    EXPECT_GT(CountColour(s, highlight, 100, 140), 5) << "the 0% caption";
    EXPECT_EQ(CountColour(s, highlight, 0, 90), 0) << "no bar";
}

TEST(ProgressBarPixels, SetUpAsTheDialogDoesItIsFullBlueWithHundredPercent) {
    Host host(PROGRESS_CLASSW, PBS_SMOOTH, 240, 14);
    CLabeledProgressCtrl bar;
    ASSERT_TRUE(bar.SubclassWindow(host.control()));
    bar.SetBarColor(kBar);
    bar.SetBkColor(kBack);
    bar.ShowCaption(TRUE);
    bar.SendMessage(PBM_SETRANGE32, 0, 100);
    bar.SendMessage(PBM_SETPOS, 100);
    host.Settle();
    const ScreenCapture s = host.Capture();
    EXPECT_GT(CountColour(s, kBar, 0, 240), 240 * 14 * 8 / 10);
    EXPECT_GT(CountColour(s, kBack, 90, 150), 5) << "the 100% caption in the background colour";
    EXPECT_EQ(CountColour(s, kBack, 0, 80), 0);
}

TEST(ProgressBarPixels, HalfwayTheCaptionChangesColourWhereTheBarEnds) {
    const ScreenCapture s = ColouredBarAt(PBS_SMOOTH, 240, 14, 50);
    for (int x : {0, 60, 119}) EXPECT_EQ(s.At(x, 0), kBar) << x;
    for (int x : {120, 180, 239}) EXPECT_EQ(s.At(x, 0), kBack) << x;
    EXPECT_GT(CountColour(s, kBack, 100, 120), 2) << "caption over the bar in the background colour";
    EXPECT_GT(CountColour(s, kBar, 120, 140), 2) << "caption over the track in the bar colour";
}

TEST(ProgressBarPixels, OutsideTheRangeAndVertical) {
    const struct {
        const char* name;
        DWORD style;
        int w, h, pos;
        COLORREF everywhere;
    } cases[] = {
        {"150 of 0..100 covers the control", PBS_SMOOTH, 240, 14, 150, kBar},
        {"-10 of 0..100 leaves it empty", PBS_SMOOTH, 240, 14, -10, kBack},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ScreenCapture s = ColouredBarAt(c.style, c.w, c.h, c.pos);
        for (int x : {0, 1, 50, 238, 239}) EXPECT_EQ(s.At(x, 0), c.everywhere) << x;
        EXPECT_GT(CountColour(s, c.everywhere == kBar ? kBack : kBar, 90, 150), 2) << "the caption";
    }
    const ScreenCapture s = ColouredBarAt(PBS_SMOOTH | PBS_VERTICAL, 14, 100, 25);
    EXPECT_EQ(s.At(7, 99), kBar);
    EXPECT_EQ(s.At(7, 75), kBar);
    EXPECT_EQ(s.At(7, 74), kBack);
    EXPECT_EQ(s.Count(RECT{0, 0, 14, 100}, [](COLORREF p) { return p != kBar && p != kBack; }), 0) << "no caption";
}

TEST(ProgressBarMessages, Table) {
    Host host(PROGRESS_CLASSW, PBS_SMOOTH, 240, 14);
    CLabeledProgressCtrl bar;
    ASSERT_TRUE(bar.SubclassWindow(host.control()));
    const HWND h = host.control();
    EXPECT_EQ(SendMessageW(h, PBM_SETRANGE, 0, MAKELPARAM(0, 65535)), MAKELRESULT(0, 65535));
    EXPECT_EQ(SendMessageW(h, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageW(h, PBM_GETRANGE, FALSE, 0), 65535);  // unsigned halves: never negative
    EXPECT_EQ(SendMessageW(h, PBM_SETRANGE32, 10, 20), MAKELRESULT(10, 20));
    PBRANGE range{};
    EXPECT_EQ(SendMessageW(h, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range)), 20);
    EXPECT_EQ(range.iLow, 10);
    EXPECT_EQ(range.iHigh, 20);
    EXPECT_EQ(SendMessageW(h, PBM_SETPOS, 19, 0), 0);
    EXPECT_EQ(SendMessageW(h, PBM_SETSTEP, 5, 0), 1);
    EXPECT_EQ(SendMessageW(h, PBM_STEPIT, 0, 0), 19);
    EXPECT_EQ(SendMessageW(h, PBM_GETPOS, 0, 0), 24);  // past the upper limit: no wrap
    EXPECT_EQ(SendMessageW(h, PBM_DELTAPOS, static_cast<WPARAM>(-30), 0), 24);
    EXPECT_EQ(SendMessageW(h, PBM_GETPOS, 0, 0), -6);
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(h, PBM_SETBARCOLOR, 0, RGB(1, 2, 3))), CLR_DEFAULT);
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(h, PBM_SETBARCOLOR, 0, RGB(4, 5, 6))), RGB(1, 2, 3));
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(h, PBM_SETBKCOLOR, 0, RGB(7, 8, 9))), CLR_DEFAULT);
    EXPECT_EQ(static_cast<COLORREF>(SendMessageW(h, PBM_SETCAPTIONCOLOR, 0, RGB(1, 1, 1))), CLR_DEFAULT);
    // The caption is apart from the window text: the template's "중지" is not it.
    wchar_t buf[16] = {L'x'};
    EXPECT_EQ(SendMessageW(h, WM_GETTEXT, 16, reinterpret_cast<LPARAM>(buf)), 0);
    EXPECT_STREQ(buf, L"");
    SetWindowTextW(h, L"받는 중");
    EXPECT_EQ(SendMessageW(h, WM_GETTEXT, 16, reinterpret_cast<LPARAM>(buf)), 4);
    EXPECT_STREQ(buf, L"받는 중");
    EXPECT_EQ(SendMessageW(h, WM_GETTEXT, 3, reinterpret_cast<LPARAM>(buf)), 2);
    EXPECT_STREQ(buf, L"받는");
    EXPECT_EQ(SendMessageW(h, WM_GETTEXT, 0, reinterpret_cast<LPARAM>(buf)), 0);
    ValidateRect(h, nullptr);
    SetWindowTextW(h, L"받는 중");  // the same text again: nothing to repaint
    RECT dirty;
    EXPECT_FALSE(GetUpdateRect(h, &dirty, FALSE));
    SendMessageW(h, WM_SETTEXT, 0, 0);  // no text: the percentage is back
    EXPECT_EQ(SendMessageW(h, WM_GETTEXT, 16, reinterpret_cast<LPARAM>(buf)), 0);
    EXPECT_TRUE(GetUpdateRect(h, &dirty, FALSE));
}

TEST(ProgressBarRepaints, OnlyWhenTheFilledWidthChanges) {
    Host host(PROGRESS_CLASSW, PBS_SMOOTH, 240, 14);
    CountingBar bar;
    ASSERT_TRUE(bar.SubclassWindow(host.control()));
    const HWND h = host.control();
    SendMessageW(h, PBM_SETRANGE32, 0, 1000);
    host.Settle();
    bar.paints = 0;
    SendMessageW(h, PBM_SETPOS, 5, 0);   // 1 pixel: repaint
    SendMessageW(h, PBM_SETPOS, 6, 0);   // still 1 pixel: none
    EXPECT_EQ(bar.paints, 1);
    SendMessageW(h, PBM_SETRANGE32, 0, 999);  // range and step never repaint
    SendMessageW(h, PBM_SETSTEP, 7, 0);
    SendMessageW(h, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
    EXPECT_EQ(bar.paints, 1);
    SendMessageW(h, PBM_SETPOS, 6, 0);   // unchanged
    EXPECT_EQ(bar.paints, 1);
    SetWindowPos(h, nullptr, 0, 0, 241, 14, SWP_NOMOVE | SWP_NOZORDER);  // WM_SIZE forgets the width
    host.Settle();
    bar.paints = 0;
    SendMessageW(h, PBM_SETPOS, 6, 0);
    EXPECT_EQ(bar.paints, 1);
    SendMessageW(h, PBM_SETPOS, 9, 0);   // 2 pixels
    EXPECT_EQ(bar.paints, 2);
}

// The button drawn into a 32-bit DIB over a background colour, read back exactly.
class ButtonCanvas {
public:
    ButtonCanvas(int w, int h) : m_w(w), m_h(h) {
        BITMAPINFO bi = TopDownDib32(w, h);
        m_dc = CreateCompatibleDC(nullptr);
        m_bmp = CreateDIBSection(m_dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0);
        m_old = SelectObject(m_dc, m_bmp);
        SetBkColor(m_dc, RGB(10, 20, 30));
    }
    ~ButtonCanvas() {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bmp);
        DeleteDC(m_dc);
    }
    void Draw(CXPButton& button, UINT state) {
        DRAWITEMSTRUCT dis{};
        dis.CtlType = ODT_BUTTON;
        dis.itemAction = ODA_DRAWENTIRE;
        dis.itemState = state;
        dis.hwndItem = button.m_hWnd;
        dis.hDC = m_dc;
        dis.rcItem = RECT{0, 0, m_w, m_h};
        button.DrawItem(&dis);
        GdiFlush();
    }
    COLORREF At(int x, int y) const {
        const DWORD v = m_bits[y * m_w + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    // Bounding box of the caption's dark pixels.
    RECT TextBox() const {
        RECT r{m_w, m_h, -1, -1};
        for (int y = 0; y < m_h; ++y) {
            for (int x = 4; x < m_w - 4; ++x) {
                const COLORREF c = At(x, y);
                if (GetRValue(c) < 120 && GetGValue(c) < 120 && y > 3 && y < m_h - 4) {
                    r.left = std::min<LONG>(r.left, x);
                    r.top = std::min<LONG>(r.top, y);
                    r.right = std::max<LONG>(r.right, x);
                    r.bottom = std::max<LONG>(r.bottom, y);
                }
            }
        }
        return r;
    }

private:
    int m_w, m_h;
    HDC m_dc;
    HBITMAP m_bmp;
    HGDIOBJ m_old;
    DWORD* m_bits = nullptr;
};

TEST(ButtonPixels, VisualStates) {
    Host host(L"BUTTON", BS_PUSHBUTTON, 92, 30);
    CXPButton button;
    ASSERT_TRUE(button.SubclassWindow(host.control()));
    EXPECT_TRUE(GetWindowLongW(host.control(), GWL_STYLE) & BS_OWNERDRAW);
    const struct {
        const char* name;
        UINT state;
        BOOL hot;
        COLORREF lastRow;   // brush 63
        COLORREF leftLine;  // 0: no edge line
    } cases[] = {
        {"normal", 0, FALSE, RGB(234, 234, 243), 0},
        {"default, pointer outside", ODS_DEFAULT, FALSE, RGB(234, 234, 240), 0},
        {"focused, pointer outside", ODS_FOCUS, FALSE, RGB(234, 234, 240), RGB(153, 198, 252)},
        {"pointer resting inside", 0, TRUE, RGB(240, 240, 243), RGB(250, 196, 88)},
        {"pointer inside and focused", ODS_FOCUS, TRUE, RGB(240, 240, 234), RGB(250, 196, 88)},
        {"pressed from the keyboard", ODS_FOCUS | ODS_SELECTED, FALSE, RGB(234, 234, 240), RGB(153, 198, 252)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ButtonCanvas canvas(92, 30);
        button.m_bMouseInside = c.hot;
        canvas.Draw(button, c.state);
        EXPECT_EQ(canvas.At(0, 0), RGB(10, 20, 30)) << "corner shows the DC's background";
        EXPECT_EQ(canvas.At(8, 26), c.lastRow);      // row 26 of a 30-pixel button: brush 63
        // Row 27 would need brush 65 and stays white, unless the 2-pixel bottom line at row 28 covers it.
        const COLORREF bottomLine = !c.leftLine ? RGB(255, 255, 255)
                                    : c.leftLine == RGB(153, 198, 252) ? RGB(162, 201, 255) : RGB(229, 151, 0);
        EXPECT_EQ(canvas.At(8, 27), bottomLine);
        EXPECT_EQ(canvas.At(8, 10), core_colour(63 * 10 / 26, c.state, c.hot));
        if (c.leftLine) {
            EXPECT_EQ(canvas.At(2, 15), c.leftLine);
        } else {
            EXPECT_EQ(canvas.At(2, 15), core_colour(63 * 15 / 26, c.state, c.hot));
        }
    }
    button.m_bMouseInside = FALSE;
}

TEST(ButtonPixels, OnlyTheCaptionMovesWhilePressedAndDisabledIsEmbossed) {
    Host host(L"BUTTON", BS_PUSHBUTTON, 92, 30);
    CXPButton button;
    ASSERT_TRUE(button.SubclassWindow(host.control()));
    ButtonCanvas up(92, 30), down(92, 30), disabled(92, 30);
    up.Draw(button, ODS_FOCUS);
    down.Draw(button, ODS_FOCUS | ODS_SELECTED);
    const RECT a = up.TextBox(), b = down.TextBox();
    ASSERT_GE(a.right, a.left) << "no caption pixels";
    EXPECT_EQ(b.left - a.left, 2);
    EXPECT_EQ(b.top - a.top, 2);
    EXPECT_EQ(up.At(2, 15), down.At(2, 15));  // lines and gradient stay in place
    EXPECT_EQ(up.At(8, 20), down.At(8, 20));
    disabled.Draw(button, ODS_DISABLED);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
    int shadowPixels = 0;
    for (int y = 4; y < 26; ++y) {
        for (int x = 10; x < 82; ++x) shadowPixels += disabled.At(x, y) == shadow;
    }
    EXPECT_GT(shadowPixels, 5) << "embossed text";
    (void)light;
}

TEST(ButtonPixels, A68PixelButtonFillsEveryInnerRow) {
    Host host(L"BUTTON", BS_PUSHBUTTON, 46, 68);
    CXPButton button;
    ASSERT_TRUE(button.SubclassWindow(host.control()));
    SetWindowTextW(host.control(), L"");  // no caption: outline, gradient and lines only
    ButtonCanvas canvas(46, 68);
    canvas.Draw(button, 0);
    EXPECT_EQ(canvas.At(8, 65), RGB(234, 234, 243));
    EXPECT_EQ(canvas.At(8, 2), RGB(255, 255, 255 - 0));  // brush 1: 255 - 1/3, 255 - 1/5
    EXPECT_EQ(canvas.At(23, 33), RGB(255 - 31 / 3, 255 - 31 / 3, 255 - 31 / 5));
}

TEST(ButtonHover, ThePointerMovedForRealTurnsItHotAndBack) {
    Host host(L"BUTTON", BS_PUSHBUTTON, 92, 30);
    CXPButton button;
    ASSERT_TRUE(button.SubclassWindow(host.control()));
    host.Settle();
    RECT rc;
    GetWindowRect(host.control(), &rc);
    MouseMoveTo(rc.left + 46, rc.top + 15);
    EXPECT_TRUE(WaitUntil([&] { return button.m_bMouseInside != FALSE; }, 3000));
    EXPECT_TRUE(button.m_bLeaveArmed);
    host.Settle();
    EXPECT_EQ(host.Capture().At(2, 15), RGB(250, 196, 88)) << "orange edge line while hot";
    MouseMoveTo(rc.right + 60, rc.bottom + 60);
    EXPECT_TRUE(WaitUntil([&] { return button.m_bMouseInside == FALSE; }, 3000));
    EXPECT_FALSE(button.m_bLeaveArmed);
    host.Settle();
    EXPECT_NE(host.Capture().At(2, 15), RGB(250, 196, 88));
}

}  // namespace
