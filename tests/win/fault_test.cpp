// Faults, hostile servers and bad input: whole runs of the real BrinsoUpdator.exe with a product already
// installed, and after each the same invariants: nothing lost, nothing planted.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <map>
#include <set>

#include "res/resource.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "support/updator_fixture.h"

using namespace testing_support;

namespace {

const wchar_t kProductKey[] = L"SOFTWARE\\Yelvan\\Marrowtide";

// Installed before each case: name (relative to the install folder), bytes, recorded version "1".
const std::map<std::wstring, std::string> kInstalled = {
    {L"a.dll", "installed a"}, {L"gdb\\b.gdb", "installed b"}, {L"Tessvane.exe", "installed scanner"}};
// What the server lists now (version "2"), by name as listed.
const std::map<std::string, std::string> kListed = {
    {"a.dll", std::string(20000, 'A')}, {"b.gdb", std::string(9000, 'B')}, {"c.adb", "new c"}};

std::string DbVer(const std::string& extra = "") {
    return "SITE=127.0.0.2\r\nSUBDIR=db\r\na.dll=2\r\nb.gdb=2\r\nc.adb=2\r\n" + extra;
}

// Files directly in the folders where nothing of the update belongs.
std::set<std::wstring> Listing(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.insert(d.cFileName);
    while (FindNextFileW(h, &d));
    FindClose(h);
    return names;
}
const wchar_t* const kWatched[] = {L"C:", L"C:\\Program Files", L"C:\\windows", L"C:\\windows\\system32"};

struct Case {
    const char* name;
    std::function<void(TestHttpServer&)> serve;
    std::function<bool(HWND)> act;  // called while the dialog is up; true once it pressed stop
    bool flagWritable = true;       // the product key accepts the "Update_Flag" write
    std::function<void()> check;    // what this case must show besides the invariants
    bool productInstalled = true;   // the product's files are in the install folder
};

class FaultTest : public UpdatorFixture {
protected:
    void SetUp() override {
        UpdatorFixture::SetUp();
        RemoveTree(InstallFolder());
        DeleteProductKey();
        for (const auto& f : kInstalled) {
            WriteAll(InstallFolder() + L"\\" + f.first, f.second);
            const std::wstring name = f.first.substr(f.first.rfind(L'\\') + 1);
            WriteProductValueW(name, L"1");
        }
        for (const wchar_t* w : kWatched) m_before[w] = Listing(w);
        m_placedIn = InstallFolder();
    }
    static void WriteProductValueW(const std::wstring& name, const std::wstring& value) {
        HKEY k = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * 2));
        RegCloseKey(k);
    }

    // Runs one case and reports it on a line of its own ("CASE<tab>name<tab>ok|FAILED") for the table
    // that scripts/faults.sh makes.
    void Run(const Case& c) {
        const auto* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
        const int failuresBefore = FailedParts(*result);
        RunCase(c);
        std::printf("CASE\t%s\t%s\n", c.name, FailedParts(*result) == failuresBefore ? "ok" : "FAILED");
        std::fflush(stdout);
    }
    static int FailedParts(const ::testing::TestResult& r) {
        int n = 0;
        for (int i = 0; i < r.total_part_count(); ++i) n += r.GetTestPartResult(i).failed();
        return n;
    }

    void RunCase(const Case& c) {
        TestHttpServer server("127.0.0.2");
        ASSERT_TRUE(server.listening());
        c.serve(server);
        const DWORD started = GetTickCount();
        HWND dlg = StartUpdator();
        ASSERT_NE(dlg, nullptr);
        DWORD stoppedAt = 0;
        while (!m_app.WaitExit(2)) {
            if (!stoppedAt && c.act && IsWindow(dlg) && c.act(dlg)) stoppedAt = GetTickCount();
            ASSERT_LT(GetTickCount() - started, 90000u) << "the run did not end";
        }
        if (c.act) {
            ASSERT_NE(stoppedAt, 0u) << "the moment to press stop never came";
            EXPECT_LE(GetTickCount() - stoppedAt, 1000u) << "process ended within 1 s of the stop";
        }
        CheckInvariants(c);
        if (c.check) c.check();
    }

    void CheckInvariants(const Case& c) {
        // No installed file deleted, truncated, or replaced by anything but the complete listed file.
        for (const auto& f : (c.productInstalled ? kInstalled : std::map<std::wstring, std::string>{})) {
            SCOPED_TRACE(Utf8(f.first));
            std::string now;
            ASSERT_TRUE(ReadFileBytes(InstallFolder() + L"\\" + f.first, now)) << "installed file deleted";
            const std::string name = Utf8(f.first.substr(f.first.rfind(L'\\') + 1));
            const auto listed = kListed.find(name);
            EXPECT_TRUE(now == f.second || (listed != kListed.end() && now == listed->second)) << "replaced by " << now.size() << " bytes";
        }
        // No version recorded for a file that was not placed.
        for (const auto& l : kListed) {
            const std::wstring name = Utf16(l.first);
            if (RecordedVersion(name.c_str()) != L"2") continue;
            std::wstring sub = name.size() > 4 && name.substr(name.size() - 4) == L".gdb" ? L"gdb\\" : L"";
            if (name.size() > 4 && name.substr(name.size() - 4) == L".adb") sub = L"adb\\";
            EXPECT_TRUE(ReadAll(m_placedIn + L"\\" + sub + name) == l.second) << "recorded but not placed: " << l.first;
        }
        // No file written outside the temp folder and the install folder.
        for (const wchar_t* w : kWatched) {
            for (const std::wstring& n : Listing(w)) {
                EXPECT_TRUE(m_before[w].count(n)) << "new in " << Utf8(w) << ": " << Utf8(n);
            }
        }
        for (const wchar_t* planted : {L"C:\\Program Files\\evil.dll", L"C:\\Windows\\x.dll", L"C:\\evil.dll"}) {
            EXPECT_EQ(GetFileAttributesW(planted), INVALID_FILE_ATTRIBUTES) << Utf8(planted);
        }
        if (c.flagWritable) {
            std::wstring flag;
            EXPECT_TRUE(ReadHklmString(kProductKey, L"Update_Flag", flag));
            EXPECT_EQ(flag, L"YES");
        }
        EXPECT_TRUE(ProcessIds(L"BrinsoUpdator.exe").empty()) << "no process of ours left running";
    }

    std::map<std::wstring, std::set<std::wstring>> m_before;
    std::wstring m_placedIn;  // where the run puts the files it places
};

HttpAnswer Ok(const std::string& body) { return HttpAnswer::Ok(body); }
void ServeListed(TestHttpServer& s) {
    for (const auto& l : kListed) s.Serve("/db/" + l.first, Ok(l.second));
}
void ServeProgramCurrent(TestHttpServer& s) { s.Serve("/marrowtide/MarrowtideWeb.ver", Ok("\r\n")); }
std::function<void(TestHttpServer&)> WithFile(const char* name, HttpAnswer a) {
    return [name, a](TestHttpServer& s) {
        s.Serve("/update/db/DBUpdate.ver", Ok(DbVer()));
        ServeListed(s);
        s.Serve(std::string("/db/") + name, a);
        ServeProgramCurrent(s);
    };
}
std::function<void(TestHttpServer&)> WithDbVer(HttpAnswer a) {
    return [a](TestHttpServer& s) {
        s.Serve("/update/db/DBUpdate.ver", a);
        ServeListed(s);
        ServeProgramCurrent(s);
    };
}
HttpAnswer Cut(const std::string& body, size_t sent, bool reset) {
    HttpAnswer a = Ok(body);
    a.sendBodyBytes = sent;
    a.reset = reset;
    return a;
}
HttpAnswer Gzip(const std::string& body) {
    HttpAnswer a = Ok(GzipStored(body));
    a.head += "\r\nContent-Encoding: gzip";
    return a;
}
HttpAnswer NoLength(const std::string& body) {
    HttpAnswer a = Ok(body);
    a.contentLength = false;
    return a;
}
HttpAnswer Stall() {
    HttpAnswer a;
    a.stall = true;
    return a;
}
std::string Garbage(size_t n) {
    std::string g(n, '\0');
    unsigned v = 12345;
    for (char& c : g) c = static_cast<char>((v = v * 1103515245u + 12345u) >> 16);
    return g;
}
std::function<bool(HWND)> StopWhen(const std::function<bool(HWND)>& when) {
    return [when](HWND dlg) {
        if (!when(dlg)) return false;
        PostMessageW(GetDlgItem(dlg, IDC_BUTTON_STOP), BM_CLICK, 0, 0);
        return true;
    };
}
bool StatusIs(HWND dlg, const wchar_t* text) { return ItemText(dlg, IDC_STATIC_STATUS) == text; }
bool StatusEndsWith(HWND dlg, const std::wstring& end) {
    const std::wstring s = ItemText(dlg, IDC_STATIC_STATUS);
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

TEST_F(FaultTest, ServerFaults) {
    const Case cases[] = {
        {"connection refused", [](TestHttpServer&) {}, nullptr},
        {"404 with a body for the DB version-info file", WithDbVer(HttpAnswer::Status(404, "Not Found", DbVer())), nullptr},
        {"500 with a body for the DB version-info file", WithDbVer(HttpAnswer::Status(500, "Error", DbVer())), nullptr},
        {"404 for the program version-info file",
         [](TestHttpServer& s) {
             s.Serve("/update/db/DBUpdate.ver", Ok(DbVer()));
             ServeListed(s);
             s.Serve("/marrowtide/MarrowtideWeb.ver", HttpAnswer::Status(404, "Not Found", "a.dll=9\r\n"));
         },
         nullptr},
        {"404 with a body for a listed file", WithFile("b.gdb", HttpAnswer::Status(404, "Not Found", "<html>gone</html>")), nullptr},
        {"500 with a body for a listed file", WithFile("a.dll", HttpAnswer::Status(500, "Error", "<html>oops</html>")), nullptr},
        {"server resets mid-body", WithFile("a.dll", Cut(std::string(20000, 'A'), 9000, true)), nullptr},
        {"body shorter than its Content-Length", WithFile("a.dll", Cut(std::string(20000, 'A'), 5000, false)), nullptr},
        {"gzip-encoded body", WithFile("a.dll", Gzip(std::string(20000, 'A'))), nullptr},
        {"no Content-Length", WithFile("b.gdb", NoLength(std::string(9000, 'B'))), nullptr},
        {"version-info file of 10 MB of garbage", WithDbVer(Ok(Garbage(10 * 1024 * 1024))), nullptr},
        {"version-info file that is an HTML page",
         WithDbVer(Ok("<html><head><meta http-equiv=\"refresh\" content=\"0;url=/\"></head><body>a=b</body></html>\r\n")), nullptr},
        {"hostile names",
         WithDbVer(Ok("SITE=127.0.0.2\r\nSUBDIR=db\r\n..\\evil.dll=2\r\nsub\\x.dll=2\r\nC:\\Windows\\x.dll=2\r\n"
                      "\\\\host\\share\\x=2\r\nx:y=2\r\nCON=2\r\nNUL.txt=2\r\nCOM1=2\r\nctl\x01.dll=2\r\n" +
                      std::string(1000, 'n') + "=2\r\na.dll=2\r\na.dll=2\r\n")),
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        Run(c);
    }
}

// A DB version-info file listing many small files before a.dll, with these fields after the version
// (",0,1,0" has each registered), and a server for it: the placement, registration and recording steps
// then last long enough to stop inside each.
std::function<void(TestHttpServer&)> ServeMany(const std::string& fields) {
    std::string many = "SITE=127.0.0.2\r\nSUBDIR=db\r\n";
    for (int i = 0; i < 60; ++i) many += "f" + std::to_string(i) + ".dat=2" + fields + "\r\n";
    many += "a.dll=2\r\n";
    return [many](TestHttpServer& s) {
        s.Serve("/update/db/DBUpdate.ver", Ok(many));
        for (int i = 0; i < 60; ++i) s.Serve("/db/f" + std::to_string(i) + ".dat", Ok("small"));
        ServeListed(s);
        ServeProgramCurrent(s);
    };
}
bool AnyRecorded(int from, int to) {
    for (int i = from; i < to; ++i) {
        if (RecordedVersion(Utf16("f" + std::to_string(i) + ".dat").c_str()) != L"<none>") return true;
    }
    return false;
}

TEST_F(FaultTest, StopAtEveryStep) {
    HttpAnswer slow = Ok(std::string(20000, 'A'));
    slow.delayPerKiB = 200;
    const Case cases[] = {
        {"during the shutdown of the product's programs", WithDbVer(Ok(DbVer())),
         StopWhen([](HWND) { return true; })},
        {"during a stalled version-info download", WithDbVer(Stall()),
         StopWhen([](HWND d) { return StatusIs(d, L"DB 정보 파일을 다운로드받고 있습니다.."); })},
        {"during a file download", WithFile("a.dll", slow),
         StopWhen([](HWND d) { return ItemText(d, IDC_STATIC_FILE) == L"다운로드 DB파일 : a.dll"; })},
        {"during placement", ServeMany(""),
         StopWhen([](HWND d) { return StatusEndsWith(d, L"f20.dat를 업데이트 중입니다"); }), true,
         [] {
             EXPECT_FALSE(AnyRecorded(0, 60)) << "a version recorded though recording never began";
             EXPECT_NE(ReadAll(InstallFolder() + L"\\f59.dat"), "small") << "placement went on after the stop";
         }},
        // The first registration starts regsvr32; the other 59 steps are still to come.
        {"during registration", ServeMany(",0,1,0"), StopWhen([](HWND) { return !ProcessIds(L"regsvr32.exe").empty(); }),
         true,
         [] {
             EXPECT_FALSE(AnyRecorded(0, 60)) << "a version recorded though recording never began";
             EXPECT_EQ(ReadAll(InstallFolder() + L"\\f59.dat"), "small") << "every file was placed before the stop";
         }},
        {"during recording", ServeMany(""), StopWhen([](HWND) { return AnyRecorded(0, 2); }), true,
         [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"1") << "recording went on after the stop"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        Run(c);
    }
}

TEST_F(FaultTest, LocalFaults) {
    {
        SCOPED_TRACE("the temp folder cannot be made (a file stands in its place)");
        RemoveTree(L"C:\\windows\\Temp");
        WriteAll(L"C:\\windows\\Temp", "not a folder");
        for (const wchar_t* w : kWatched) m_before[w] = Listing(w);
        Run({"the temp folder cannot be made (a file stands in its place)", WithFile("a.dll", Ok(std::string(20000, 'A'))), nullptr});
        DeleteFileW(L"C:\\windows\\Temp");
        CreateDirectoryW(L"C:\\windows\\Temp", nullptr);
    }
    {
        SCOPED_TRACE("an installed file held open by a running program");
        SetUp();
        HANDLE held = CreateFileW((InstallFolder() + L"\\a.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        Run({"an installed file held open by a running program", WithFile("a.dll", Ok(std::string(20000, 'A'))), nullptr,
             true, [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"1"); }});
        CloseHandle(held);
    }
    {
        SCOPED_TRACE("the install folder read-only");
        SetUp();
        const HostFault readOnly = HostFault::ReadOnly(InstallFolder());
        const std::wstring probe = InstallFolder() + L"\\probe.txt";
        HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_EQ(h, INVALID_HANDLE_VALUE) << "the folder took a new file: the fault did not hold";
        Run({"the install folder read-only", WithFile("a.dll", Ok(std::string(20000, 'A'))), nullptr, true, [] {
                 for (const wchar_t* name : {L"a.dll", L"b.gdb"}) EXPECT_EQ(RecordedVersion(name), L"1") << Utf8(name);
             }});
    }
    {
        SCOPED_TRACE("the disk of the install folder full");
        SetUp();
        // Room for the small listed files but not for the 20000 bytes of a.dll.
        const HostFault full = HostFault::Full(InstallFolder(), 28);
        ULARGE_INTEGER freeBytes{};
        ASSERT_TRUE(GetDiskFreeSpaceExW((InstallFolder() + L"\\").c_str(), &freeBytes, nullptr, nullptr));
        ASSERT_LT(freeBytes.QuadPart, 20000u) << "the fault did not hold";
        Run({"the disk of the install folder full", WithFile("a.dll", Ok(std::string(20000, 'A'))), nullptr, true, [] {
                 EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
                 EXPECT_EQ(GetFileAttributesW((InstallFolder() + L"\\a.dll.~new").c_str()), INVALID_FILE_ATTRIBUTES)
                     << "a partial copy left behind";
             }});
    }
    {
        SCOPED_TRACE("the product key refusing full access");
        SetUp();
        ReadOnlyProductKey readOnly;
        ASSERT_TRUE(readOnly.ok());
        Run({"the product key refusing full access", WithFile("a.dll", Ok(std::string(20000, 'A'))), nullptr, false});
    }
}

TEST_F(FaultTest, InstallPathBeforeTheRun) {
    const auto rewritten = [] {
        std::wstring v;
        EXPECT_TRUE(ReadHklmString(kProductKey, L"InstallPath", v));
        EXPECT_EQ(v, InstallFolder()) << "the dialog's start records the install folder";
        EXPECT_EQ(ReadAll(InstallFolder() + L"\\a.dll"), std::string(20000, 'A'));
        EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");
    };
    const struct {
        const char* name;
        const wchar_t* value;  // nullptr: no value
    } values[] = {
        {"\"InstallPath\" missing", nullptr},
        {"\"InstallPath\" empty", L""},
        {"\"InstallPath\" naming no folder", L"C:\\nowhere\\Marrowtide"},
        {"\"InstallPath\" 300 characters long", nullptr},
    };
    const std::wstring tooLong = L"C:\\" + std::wstring(297, L'p');
    for (const auto& v : values) {
        SCOPED_TRACE(v.name);
        SetUp();
        DeleteHklmValue(kProductKey, L"InstallPath");
        if (v.value) WriteProductValueW(L"InstallPath", v.value);
        if (std::string(v.name).find("300") != std::string::npos) WriteProductValueW(L"InstallPath", tooLong);
        Run({v.name, WithFile("a.dll", Ok(std::string(20000, 'A'))), nullptr, true, rewritten});
    }
    {
        // The dialog's start records a path where a file stands; the run settles on the fallback folder.
        const char* name = "the install folder cannot be made (a file stands in its place)";
        SCOPED_TRACE(name);
        SetUp();
        const std::wstring fallback = L"C:\\Program Files\\Yelvan";
        RemoveTree(fallback);
        RemoveTree(InstallFolder());
        WriteAll(InstallFolder(), "not a folder");
        for (const wchar_t* w : kWatched) m_before[w] = Listing(w);
        m_before[L"C:\\Program Files"].insert(L"Yelvan");
        m_placedIn = fallback + L"\\Marrowtide";
        Run({name, WithFile("a.dll", Ok(std::string(20000, 'A'))), nullptr, true,
             [&] {
                 EXPECT_EQ(ReadAll(InstallFolder()), "not a folder");
                 EXPECT_EQ(ReadAll(fallback + L"\\Marrowtide\\a.dll"), std::string(20000, 'A'));
                 EXPECT_EQ(ReadAll(fallback + L"\\Marrowtide\\gdb\\b.gdb"), std::string(9000, 'B'));
                 EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");
             },
             false});
        DeleteFileW(InstallFolder().c_str());
        RemoveTree(fallback);
    }
}

}  // namespace
