// The resources of the built program, read back from BrinsoUpdator.exe itself.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "controls/Banner.h"
#include "res/resource.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

struct Item {
    int id;
    std::wstring cls;   // class name; predefined classes by their names
    std::wstring text;  // "#129" for a resource ordinal
    short x, y, cx, cy;
    DWORD style;
};

struct Template {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring title, face;
    WORD points = 0;
    std::vector<Item> items;
};

class Reader {
public:
    explicit Reader(const BYTE* p) : m_p(p), m_start(p) {}
    WORD Word() { WORD v; memcpy(&v, m_p, 2); m_p += 2; return v; }
    DWORD Dword() { DWORD v; memcpy(&v, m_p, 4); m_p += 4; return v; }
    short Short() { return static_cast<short>(Word()); }
    void Skip(size_t n) { m_p += n; }
    void AlignDword() { while ((m_p - m_start) % 4) ++m_p; }
    std::wstring SzOrOrd() {
        const WORD first = Word();
        if (first == 0) return L"";
        if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
        std::wstring s(1, static_cast<wchar_t>(first));
        for (WORD c = Word(); c; c = Word()) s += static_cast<wchar_t>(c);
        return s;
    }

private:
    const BYTE* m_p;
    const BYTE* m_start;
};

std::wstring ClassName(const std::wstring& c) {
    static const wchar_t* names[] = {L"Button", L"Edit", L"Static", L"ListBox", L"ScrollBar", L"ComboBox"};
    if (c.size() > 1 && c[0] == L'#') {
        const int ord = std::stoi(c.substr(1));
        if (ord >= 0x80 && ord <= 0x85) return names[ord - 0x80];
    }
    return c;
}

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryExW(UpdatorExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_module, nullptr) << Utf8(UpdatorExePath());
    }
    void TearDown() override {
        if (m_module) FreeLibrary(m_module);
    }

    Template LoadDialog(int id) {
        Template t;
        HRSRC res = FindResourceW(m_module, MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_DIALOG));
        EXPECT_NE(res, nullptr);
        if (!res) return t;
        Reader r(static_cast<const BYTE*>(LockResource(LoadResource(m_module, res))));
        EXPECT_EQ(r.Word(), 1);       // dlgVer: an extended template
        EXPECT_EQ(r.Word(), 0xFFFF);  // signature
        r.Dword();                    // help id
        t.exStyle = r.Dword();
        t.style = r.Dword();
        const WORD count = r.Word();
        t.x = r.Short(); t.y = r.Short(); t.cx = r.Short(); t.cy = r.Short();
        EXPECT_EQ(r.SzOrOrd(), L"");  // no menu
        EXPECT_EQ(r.SzOrOrd(), L"");  // the dialog class
        t.title = r.SzOrOrd();
        if (t.style & DS_SETFONT) {
            t.points = r.Word();
            r.Word(); r.Skip(2);  // weight, italic, charset
            t.face = r.SzOrOrd();
        }
        for (WORD i = 0; i < count; ++i) {
            r.AlignDword();
            Item it;
            r.Dword();  // help id
            r.Dword();  // ex style
            it.style = r.Dword();
            it.x = r.Short(); it.y = r.Short(); it.cx = r.Short(); it.cy = r.Short();
            it.id = static_cast<int>(r.Dword());
            it.cls = ClassName(r.SzOrOrd());
            it.text = r.SzOrOrd();
            r.Skip(r.Word());
            t.items.push_back(it);
        }
        return t;
    }

    void ExpectItems(const Template& t, const std::vector<Item>& expected) {
        ASSERT_EQ(t.items.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const Item& e = expected[i];
            const Item& a = t.items[i];
            SCOPED_TRACE("item " + std::to_string(i) + " " + Utf8(e.text));
            EXPECT_EQ(static_cast<WORD>(a.id), static_cast<WORD>(e.id));
            EXPECT_EQ(_wcsicmp(a.cls.c_str(), e.cls.c_str()), 0) << Utf8(a.cls);  // the system ignores case here
            EXPECT_EQ(a.text, e.text);
            EXPECT_EQ(a.x, e.x); EXPECT_EQ(a.y, e.y); EXPECT_EQ(a.cx, e.cx); EXPECT_EQ(a.cy, e.cy);
            EXPECT_EQ(a.style, e.style) << std::hex << a.style << " != " << e.style;
        }
    }

    HMODULE m_module = nullptr;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

TEST_F(ResourcesTest, UpdateDialogTemplate) {
    const Template t = LoadDialog(IDD_BRINSOUPDATOR_DIALOG);
    EXPECT_EQ(t.style, static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_BORDER | DS_SETFONT));
    EXPECT_EQ(t.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
    EXPECT_EQ(t.x, 0); EXPECT_EQ(t.y, 0); EXPECT_EQ(t.cx, 247); EXPECT_EQ(t.cy, 135);
    EXPECT_EQ(t.title, L"");
    EXPECT_EQ(t.points, 9);
    EXPECT_EQ(t.face, L"굴림");
    ExpectItems(t, {
        {1067, L"Static", L"최신 버전으로 업데이트 중입니다. 잠시만 기다려주세요.", 4, 41, 200, 8, kChild | WS_GROUP | SS_LEFT},
        {1068, L"Static", L"다운로드 파일", 4, 53, 185, 8, kChild | WS_GROUP | SS_LEFT},
        {1073, L"msctls_progress32", L"Progress1", 4, 65, 240, 9, kChild | PBS_SMOOTH},
        {-1, L"Static", L"전체파일", 4, 79, 198, 8, kChild | WS_GROUP | SS_LEFT},
        {1074, L"msctls_progress32", L"Progress1", 4, 90, 240, 9, kChild | PBS_SMOOTH},
        {1075, L"Button", L"중지", 197, 110, 46, 20, kChild | WS_TABSTOP | BS_OWNERDRAW},
        {1076, L"Static", L"0/0", 200, 54, 42, 8, kChild | WS_GROUP | SS_RIGHT},
        {-1, L"Static", L"", 2, 104, 243, 1, WS_CHILD | WS_DISABLED | SS_ETCHEDHORZ},
        {-1, L"Static", L"Web Setup 1.0", 7, 122, 51, 8, kChild | WS_GROUP | SS_LEFT},
        {IDC_BANNER, L"Static", L"", 2, 1, 243, 37, kChild | SS_BITMAP},  // its picture set for the dialog's DPI
    });
}

TEST_F(ResourcesTest, AboutBoxTemplate) {
    const Template t = LoadDialog(IDD_ABOUTBOX);
    EXPECT_EQ(t.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(t.cx, 235); EXPECT_EQ(t.cy, 55);
    EXPECT_EQ(t.title, L"BrinsoUpdator 정보");
    EXPECT_EQ(t.points, 9);
    EXPECT_EQ(t.face, L"굴림");
    ExpectItems(t, {
        {-1, L"Static", L"#128", 11, 17, 20, 20, kChild | SS_ICON},
        {-1, L"Static", L"BrinsoUpdator 버전 1.0", 40, 10, 119, 8, kChild | WS_GROUP | SS_LEFT | SS_NOPREFIX},
        {IDOK, L"Button", L"확인", 178, 7, 50, 14, kChild | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON},
    });
}

TEST_F(ResourcesTest, StringsIconBannerAndVersion) {
    const struct {
        UINT id;
        const wchar_t* text;
    } strings[] = {{IDS_ABOUTBOX, L"BrinsoUpdator 정보(&A)..."}, {IDS_APP_TITLE, L"BrinsoUpdator"}};
    for (const auto& s : strings) {
        wchar_t buf[128] = {};
        LoadStringW(m_module, s.id, buf, 128);
        EXPECT_STREQ(buf, s.text);
    }

    HICON icon = static_cast<HICON>(LoadImageW(m_module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 32);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);

    // The banner at each scale, gzip-compressed: a 24-bit BMP of 425 x 55 pixels times the scale.
    const struct {
        int id, scale;
    } banners[] = {{IDR_BANNER_100, 100}, {IDR_BANNER_125, 125}, {IDR_BANNER_150, 150}, {IDR_BANNER_200, 200}, {IDR_BANNER_300, 300}};
    for (const auto& b : banners) {
        const ScopedBitmap banner = LoadBanner(b.scale * 96 / 100, m_module);
        BITMAP bm{};
        ASSERT_TRUE(banner && GetObjectW(banner.get(), sizeof bm, &bm)) << b.scale;
        EXPECT_EQ(bm.bmWidth, (425 * b.scale + 50) / 100) << b.scale;
        EXPECT_EQ(bm.bmHeight, (55 * b.scale + 50) / 100) << b.scale;
        EXPECT_EQ(bm.bmBitsPixel, 24) << b.scale;
        EXPECT_NE(FindResourceW(m_module, MAKEINTRESOURCEW(b.id), MAKEINTRESOURCEW(10)), nullptr) << b.scale;  // RT_RCDATA
    }

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(UpdatorExePath().c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(UpdatorExePath().c_str(), 0, size, block.data()));
    wchar_t* name = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\041204b0\\OriginalFilename",
                               reinterpret_cast<void**>(&name), &len));
    EXPECT_STREQ(name, L"BrinsoUpdator.exe");
}

TEST_F(ResourcesTest, ApplicationManifest) {
    HRSRC res = FindResourceW(m_module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(res, nullptr) << "no application manifest";
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(m_module, res))),
                               SizeofResource(m_module, res));
    // Elevated: never virtualised into the user's VirtualStore.
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
              std::string::npos);
    const struct {
        const char* system;
        const char* id;
    } systems[] = {{"Vista", "{e2011457-1546-43c5-a5fe-008deee3d3f0}"},
                   {"7", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"},
                   {"8", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"},
                   {"8.1", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"},
                   {"10 and 11", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}};
    for (const auto& s : systems) {
        EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + s.id + "\"/>"), std::string::npos) << s.system;
    }
    // Drawn for its monitor's DPI: per-monitor v2 where there is one, else per-monitor, else the system's DPI.
    EXPECT_NE(manifest.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>"), std::string::npos);
    EXPECT_NE(manifest.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>"),
              std::string::npos);
}

}  // namespace
