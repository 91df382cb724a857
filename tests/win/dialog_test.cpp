// The real BrinsoUpdator.exe on the virtual display: start-up, the dialog's first state, keys, moving,
// the ways it ends and what it leaves in the registry.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <memory>

#include "controls/Banner.h"
#include "framework/com_ptr.h"
#include "res/resource.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "support/updator_fixture.h"

using namespace testing_support;

namespace {

const wchar_t* const kProductKey = product::kProductKeyPathW;

class DialogTest : public UpdatorFixture {
protected:
    void SetUp() override {
        UpdatorFixture::SetUp();
        // The update server takes the request for the DB version-info file and answers nothing: the
        // dialog stays up, as during a slow download, for as long as a test needs it.
        ASSERT_TRUE(m_server.listening());
        HttpAnswer stall;
        stall.stall = true;
        m_server.Serve("/update/db/DBUpdate.ver", stall);
    }

    // The first state of the dialog, before the run has written anything.
    static void ExpectFirstState(HWND dlg) {
        EXPECT_EQ(ItemText(dlg, IDC_STATIC_STATUS), L"");
        EXPECT_EQ(ItemText(dlg, IDC_STATIC_FILE), L"다운로드 파일");
        EXPECT_EQ(ItemText(dlg, IDC_STATIC_COUNT), L"0/0");
        for (int id : {IDC_PROGRESS_FILE, IDC_PROGRESS_TOTAL}) {
            HWND bar = GetDlgItem(dlg, id);
            EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100) << id;
            EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0) << id;
            EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100) << id;
        }
    }

    bool ClosesWithin(DWORD ms) { return m_app.WaitExit(ms); }

    TestHttpServer m_server{"127.0.0.2"};
};

TEST_F(DialogTest, ShowsTheFirstStateAndAScreenshot) {
    HWND dlg = StartUpdator();
    ASSERT_NE(dlg, nullptr);
    ExpectFirstState(dlg);
    EXPECT_TRUE(GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    // Centred on the screen.
    RECT rc;
    GetWindowRect(dlg, &rc);
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_NEAR((rc.left + rc.right) / 2, cx / 2, 2);
    EXPECT_NEAR((rc.top + rc.bottom) / 2, cy / 2, 40);  // the work area may leave room for a taskbar

    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(dlg) != 0; }, 2000));
    Sleep(300);  // let it paint
    const ScreenCapture shot(rc);
    EXPECT_TRUE(shot.SaveBmp(ScreenshotPath(L"dialog-first-state.bmp")));

    // The banner: mostly dark blue, with white letters.
    RECT banner;
    GetWindowRect(GetDlgItem(dlg, IDC_STATIC_COUNT), &banner);  // any control to learn the dialog-unit scale
    HWND bannerWnd = nullptr;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) bannerWnd = c;
    }
    ASSERT_NE(bannerWnd, nullptr);
    GetWindowRect(bannerWnd, &banner);
    OffsetRect(&banner, -rc.left, -rc.top);
    const int area = (banner.right - banner.left) * (banner.bottom - banner.top);
    const int darkBlue = shot.Count(banner, [](COLORREF c) { return GetBValue(c) > 60 && GetRValue(c) < 40 && GetGValue(c) < 70; });
    const int white = shot.Count(banner, [](COLORREF c) { return GetRValue(c) > 230 && GetGValue(c) > 230 && GetBValue(c) > 230; });
    EXPECT_GT(darkBlue, area / 2);
    EXPECT_GT(white, 100);

    // The dialog's background is white; the Korean status texts are drawn in dark glyphs on it.
    RECT textArea;
    GetWindowRect(GetDlgItem(dlg, IDC_STATIC_FILE), &textArea);
    OffsetRect(&textArea, -rc.left, -rc.top);
    EXPECT_EQ(shot.At(rc.right - rc.left - 8, (banner.bottom + textArea.top) / 2), RGB(255, 255, 255));
    EXPECT_GT(shot.Count(textArea, [](COLORREF c) { return GetRValue(c) < 100; }), 20) << "no glyphs in 1068";

    // Both bars as the dialog sets them up: full, blue, with "100%" in the light background colour.
    for (int id : {IDC_PROGRESS_FILE, IDC_PROGRESS_TOTAL}) {
        RECT bar;
        GetWindowRect(GetDlgItem(dlg, id), &bar);
        OffsetRect(&bar, -rc.left, -rc.top);
        const int pixels = (bar.right - bar.left) * (bar.bottom - bar.top);
        EXPECT_GT(shot.Count(bar, [](COLORREF c) { return c == RGB(0, 128, 255); }), pixels * 7 / 10) << id;
        EXPECT_GT(shot.Count(bar, [](COLORREF c) { return c == RGB(236, 236, 255); }), 2) << id;  // anti-aliased text
    }
}

// Also while the first copy's window thread is busy (held here, as a long statistics report or a slow close
// would hold it): the second copy never waits on it.
TEST_F(DialogTest, SecondCopyEndsAtOnceWithoutAWindow) {
    HWND dlg = StartUpdator();
    ASSERT_NE(dlg, nullptr);
    for (const bool busy : {false, true}) {
        SCOPED_TRACE(busy ? "the first copy's window thread busy" : "the first copy idle");
        HANDLE windowThread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(dlg, nullptr));
        ASSERT_NE(windowThread, nullptr);
        if (busy) SuspendThread(windowThread);
        ChildProcess second(UpdatorExePath(), L"");
        ASSERT_TRUE(second.started());
        bool sawWindow = false;
        const bool ended = WaitUntil(
            [&] {
                if (FindTopWindow(second.pid(), nullptr, false)) sawWindow = true;
                return !second.Running();
            },
            5000, 1);
        if (busy) ResumeThread(windowThread);
        CloseHandle(windowThread);
        EXPECT_TRUE(ended);
        EXPECT_FALSE(sawWindow);
    }
    EXPECT_TRUE(m_app.Running());
    EXPECT_TRUE(IsWindowVisible(dlg));
    ExpectFirstState(dlg);
}

TEST_F(DialogTest, EnterAndEscapeDoNothing) {
    HWND dlg = StartUpdator();
    ASSERT_NE(dlg, nullptr);
    HWND stop = GetDlgItem(dlg, IDC_BUTTON_STOP);
    // Queued key messages, to the focused stop button and to the dialog itself.
    for (HWND target : {stop, dlg}) {
        for (WPARAM vk : {VK_RETURN, VK_ESCAPE}) {
            PostMessageW(target, WM_KEYDOWN, vk, 1);
            PostMessageW(target, WM_CHAR, vk, 1);
            PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
        }
    }
    // And real keystrokes with the dialog in front.
    SetForegroundWindow(dlg);
    WaitUntil([&] { return GetForegroundWindow() == dlg; }, 1000);
    PressKey(VK_RETURN);
    PressKey(VK_ESCAPE);
    EXPECT_FALSE(ClosesWithin(3000));
    EXPECT_TRUE(IsWindowVisible(dlg));
}

TEST_F(DialogTest, EachWayOfEndingClosesAndSetsTheUpdateFlag) {
    struct Way {
        const char* name;
        void (*end)(HWND dlg);
    };
    const Way ways[] = {
        {"stop button", [](HWND dlg) { PostMessageW(GetDlgItem(dlg, IDC_BUTTON_STOP), BM_CLICK, 0, 0); }},
        {"WM_CLOSE", [](HWND dlg) { PostMessageW(dlg, WM_CLOSE, 0, 0); }},
        {"WM_UPDATE_DONE", [](HWND dlg) { PostMessageW(dlg, 9926, 0, 0); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        DeleteHklmValue(kProductKey, product::kUpdateFlagValueW);
        HWND dlg = StartUpdator();
        ASSERT_NE(dlg, nullptr);
        way.end(dlg);
        EXPECT_TRUE(ClosesWithin(5000));
        EXPECT_EQ(m_app.ExitCode(), 0u);
        std::wstring flag;
        EXPECT_TRUE(ReadHklmString(kProductKey, product::kUpdateFlagValueW, flag));
        EXPECT_EQ(flag, L"YES");
    }
}

// Every line is in the file as it happens: a process ended by force, in the middle of a download, leaves
// the log whole up to that download.
TEST_F(DialogTest, AForcedEndLeavesTheLogWhole) {
    DeleteFileW((InstallFolder() + L"\\" + product::kLogFileNameW).c_str());
    ASSERT_NE(StartUpdator(), nullptr);
    const auto downloading = [] {
        const auto lines = RunLogLines(InstallFolder());
        return !lines.empty() && lines.back().find("downloading http://127.0.0.2/update/db/DBUpdate.ver") == kLogTextAt;
    };
    ASSERT_TRUE(WaitUntil(downloading, 10000));
    m_app.Terminate();
    const auto lines = RunLogLines(InstallFolder());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front().find("==== BrinsoUpdator 1.0.0.1 (no release keys) started on Windows "), kLogTextAt) << lines.front();
    std::string all;
    ASSERT_TRUE(ReadFileBytes(InstallFolder() + L"\\" + product::kLogFileNameW, all));
    EXPECT_EQ(all.substr(all.size() - 2), "\r\n") << "a line cut short";
    EXPECT_TRUE(downloading());
}

TEST_F(DialogTest, DraggingTheBackgroundMovesTheWindow) {
    HWND dlg = StartUpdator();
    ASSERT_NE(dlg, nullptr);
    SetForegroundWindow(dlg);
    RECT before;
    GetWindowRect(dlg, &before);
    // A point of the background: left of the stop button, below the separator's place.
    RECT stop;
    GetWindowRect(GetDlgItem(dlg, IDC_BUTTON_STOP), &stop);
    const POINT start{stop.left - 40, stop.top + 2};
    MouseMoveTo(start.x, start.y);
    WaitUntil([] { return false; }, 100);
    MouseButton(true);
    for (int i = 1; i <= 10; ++i) {
        MouseMoveTo(start.x + 4 * i, start.y + 3 * i);
        WaitUntil([] { return false; }, 20);
    }
    MouseButton(false);
    RECT after{};
    const bool moved = WaitUntil(
        [&] {
            GetWindowRect(dlg, &after);
            return after.left == before.left + 40 && after.top == before.top + 30;
        },
        2000);
    EXPECT_TRUE(moved) << "moved by " << after.left - before.left << "," << after.top - before.top;
    EXPECT_TRUE(m_app.Running());
}

TEST_F(DialogTest, AboutBoxFromTheSystemCommand) {
    HWND dlg = StartUpdator();
    ASSERT_NE(dlg, nullptr);
    PostMessageW(dlg, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = WaitForTopWindow(m_app.pid(), L"BrinsoUpdator 정보", 5000);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(GetWindow(about, GW_OWNER), dlg);
    EXPECT_FALSE(IsWindowEnabled(dlg));  // modal over the dialog
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }, 3000));
    EXPECT_TRUE(IsWindowEnabled(dlg));
    EXPECT_TRUE(m_app.Running());
}

TEST_F(DialogTest, AnyCommandLineGivesTheSameStart) {
    const wchar_t* lines[] = {L"/x", L"-a b c", L"stray words here", L"/p file.txt /dde", L"/업데이트 값", L"\"\""};
    for (const wchar_t* line : lines) {
        SCOPED_TRACE(Utf8(line));
        HWND dlg = StartUpdator(line);
        ASSERT_NE(dlg, nullptr);
        ExpectFirstState(dlg);
        PostMessageW(GetDlgItem(dlg, IDC_BUTTON_STOP), BM_CLICK, 0, 0);
        EXPECT_TRUE(ClosesWithin(5000));
    }
}

}  // namespace

namespace {

// What assistive technology reads of a control of another process, through MSAA (oleacc).
struct Read {
    long role = 0;
    std::wstring name, value;
    bool hasValue = false;
    CComPtr<IAccessible> object;
};
Read ReadAccessible(HWND control) {
    Read r;
    if (FAILED(AccessibleObjectFromWindow(control, OBJID_CLIENT, IID_IAccessible, r.object.Receive())) || !r.object) return r;
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT role{};
    if (SUCCEEDED(r.object->get_accRole(self, &role)) && role.vt == VT_I4) r.role = role.lVal;
    BSTR text = nullptr;
    if (SUCCEEDED(r.object->get_accName(self, &text)) && text) r.name = text;
    SysFreeString(text);
    text = nullptr;
    r.hasValue = r.object->get_accValue(self, &text) == S_OK && text;
    if (r.hasValue) r.value = text;
    SysFreeString(text);
    return r;
}

}  // namespace

// Each control answers as it reads on screen: the bars progress bars whose value is their percentage, read
// live; the stop button a push button named "중지", which has the focus, and whose default action stops the
// run as a click does; the lines static texts named by their text.
TEST_F(DialogTest, ReadsToAScreenReaderAsItShows) {
    const CComInitialization com(COINIT_APARTMENTTHREADED);
    HWND dlg = StartUpdator();
    ASSERT_NE(dlg, nullptr);
    const struct {
        int id;
        long role;
        const wchar_t* name;
        const wchar_t* value;  // nullptr: none
    } rows[] = {
        {IDC_PROGRESS_FILE, ROLE_SYSTEM_PROGRESSBAR, L"다운로드 파일", L"100%"},
        {IDC_PROGRESS_TOTAL, ROLE_SYSTEM_PROGRESSBAR, L"전체파일", L"100%"},
        {IDC_BUTTON_STOP, ROLE_SYSTEM_PUSHBUTTON, L"중지", nullptr},
        {IDC_STATIC_FILE, ROLE_SYSTEM_STATICTEXT, L"다운로드 파일", nullptr},
        {IDC_STATIC_COUNT, ROLE_SYSTEM_STATICTEXT, L"0/0", nullptr},
    };
    for (const auto& r : rows) {
        const Read read = ReadAccessible(GetDlgItem(dlg, r.id));
        EXPECT_EQ(read.role, r.role) << r.id;
        EXPECT_EQ(read.name, r.name) << r.id;
        EXPECT_EQ(read.hasValue, r.value != nullptr) << r.id;
        if (r.value) EXPECT_EQ(read.value, r.value) << r.id;
    }
    // Read as it changes, through the object a reader keeps.
    const Read bar = ReadAccessible(GetDlgItem(dlg, IDC_PROGRESS_TOTAL));
    ASSERT_TRUE(bar.object);
    SendMessageW(GetDlgItem(dlg, IDC_PROGRESS_TOTAL), PBM_SETPOS, 42, 0);
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR value = nullptr;
    ASSERT_EQ(bar.object->get_accValue(self, &value), S_OK);
    EXPECT_STREQ(value, L"42%");
    SysFreeString(value);
    SetDlgItemTextW(dlg, IDC_STATIC_STATUS, L"다운로드 중");
    EXPECT_EQ(ReadAccessible(GetDlgItem(dlg, IDC_STATIC_STATUS)).name, L"다운로드 중");
    // The keyboard can stop the run where the mouse can: the focus is on the button from the start.
    GUITHREADINFO gui{sizeof gui};
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &gui));
    EXPECT_EQ(gui.hwndFocus, GetDlgItem(dlg, IDC_BUTTON_STOP));
    // And so can a screen reader, by the button's default action.
    const Read stop = ReadAccessible(GetDlgItem(dlg, IDC_BUTTON_STOP));
    ASSERT_TRUE(stop.object);
    BSTR action = nullptr;
    ASSERT_EQ(stop.object->get_accDefaultAction(self, &action), S_OK);
    EXPECT_STREQ(action, L"누르기");
    SysFreeString(action);
    EXPECT_EQ(stop.object->accDoDefaultAction(self), S_OK);
    EXPECT_TRUE(ClosesWithin(5000)) << "the default action stops the run";
}

namespace {

// The screen's DPI as Wine gives it to each process that starts from now on (HKCU\Control Panel\Desktop
// "LogPixels"); what stood there before comes back as the result goes.
std::shared_ptr<void> WithLogPixels(DWORD dpi) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0) return nullptr;
    DWORD before = 0, size = sizeof before, type = 0;
    const bool had = RegQueryValueExW(key, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&before), &size) == 0 && type == REG_DWORD;
    RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    return std::shared_ptr<void>(key, [had, before](void* k) {
        const HKEY opened = static_cast<HKEY>(k);
        if (had) RegSetValueExW(opened, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&before), sizeof before);
        else RegDeleteValueW(opened, L"LogPixels");
        RegCloseKey(opened);
    });
}

// A pixel of a device-independent bitmap of 24 bits (rows bottom up), as a COLORREF.
COLORREF DibPixel(HBITMAP bitmap, int x, int y) {
    DIBSECTION dib{};
    if (!GetObjectW(bitmap, sizeof dib, &dib) || !dib.dsBm.bmBits) return CLR_INVALID;
    const auto* row = static_cast<const BYTE*>(dib.dsBm.bmBits) + static_cast<std::size_t>(dib.dsBm.bmHeight - 1 - y) * dib.dsBm.bmWidthBytes;
    return RGB(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
}

}  // namespace

// At 96, 144 and 192 DPI: the dialog grows with the DPI, its banner is the one drawn for the scale (its
// pixels on screen the picture's own: never stretched) across the dialog's width, every control inside.
TEST_F(DialogTest, LaidOutForTheDpiOfItsScreen) {
    const HMODULE module = LoadLibraryExW(UpdatorExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    SIZE at96{};
    for (const DWORD dpi : {96u, 144u, 192u}) {
        SCOPED_TRACE(dpi);
        const auto logPixels = WithLogPixels(dpi);
        ASSERT_TRUE(logPixels);
        HWND dlg = StartUpdator();
        ASSERT_NE(dlg, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(dlg) != 0; }, 2000));
        Sleep(300);  // let it paint
        RECT rc, banner;
        GetWindowRect(dlg, &rc);
        GetWindowRect(GetDlgItem(dlg, IDC_BANNER), &banner);
        const SIZE size{rc.right - rc.left, rc.bottom - rc.top};
        if (dpi == 96) at96 = size;
        const double least = dpi == 96 ? 1.0 : dpi == 144 ? 1.45 : 1.9;
        EXPECT_GE(size.cx, at96.cx * least);
        EXPECT_GE(size.cy, at96.cy * least);
        const ScopedBitmap drawn = LoadBanner(dpi, module);
        BITMAP bm{};
        ASSERT_TRUE(drawn && GetObjectW(drawn.get(), sizeof bm, &bm));
        EXPECT_EQ(bm.bmWidth, (425 * static_cast<int>(dpi) * 100 / 96 + 50) / 100) << "drawn for the scale itself";
        EXPECT_EQ(banner.right - banner.left, bm.bmWidth);
        EXPECT_EQ(banner.bottom - banner.top, bm.bmHeight);
        EXPECT_GE(banner.right - banner.left, size.cx * 9 / 10) << "the banner across the dialog";
        for (int id : {IDC_BANNER, IDC_STATIC_STATUS, IDC_STATIC_FILE, IDC_STATIC_COUNT, IDC_PROGRESS_FILE, IDC_PROGRESS_TOTAL, IDC_BUTTON_STOP}) {
            RECT c, inside;
            GetWindowRect(GetDlgItem(dlg, id), &c);
            EXPECT_TRUE(IntersectRect(&inside, &c, &rc) && EqualRect(&inside, &c)) << "control " << id << " inside the dialog";
        }
        const ScreenCapture shot(rc);
        EXPECT_TRUE(shot.SaveBmp(ScreenshotPath(L"dialog-" + std::to_wstring(dpi) + L"-dpi.bmp")));
        int differing = 0;
        for (int y = 0; y < bm.bmHeight; y += 7) {
            for (int x = 0; x < bm.bmWidth; x += 5) {
                differing += shot.At(banner.left - rc.left + x, banner.top - rc.top + y) != DibPixel(drawn.get(), x, y);
            }
        }
        EXPECT_EQ(differing, 0) << "the banner on screen is the picture drawn for " << dpi << " DPI, pixel for pixel";
        m_app.Terminate();
    }
    FreeLibrary(module);
}

