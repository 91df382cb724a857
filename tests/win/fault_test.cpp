// Faults, hostile servers and bad input: whole runs of the real BrinsoUpdator.exe with a product already
// installed, and after each the same invariants: nothing lost, nothing planted.
#include "fault_fixture.h"

namespace fault_matrix {
namespace {

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
        {"500 with a body for the program version-info file",
         [](TestHttpServer& s) {
             s.Serve("/update/db/DBUpdate.ver", Ok(DbVer()));
             ServeListed(s);
             s.Serve("/marrowtide/MarrowtideWeb.ver", HttpAnswer::Status(500, "Error", "Tessvane.exe=9\r\n"));
         },
         nullptr, true, [] { EXPECT_EQ(ReadAll(InstallFolder() + L"\\Tessvane.exe"), "installed scanner"); }},
        {"404 with a body for a listed file", WithFile("b.gdb", HttpAnswer::Status(404, "Not Found", "<html>gone</html>")), nullptr},
        {"500 with a body for a listed file", WithFile("a.dll", HttpAnswer::Status(500, "Error", "<html>oops</html>")), nullptr},
        {"server resets mid-body", WithFile("a.dll", Cut(std::string(20000, 'A'), 9000, true)), nullptr},
        {"body shorter than its Content-Length", WithFile("a.dll", Cut(std::string(20000, 'A'), 5000, false)), nullptr},
        {"gzip-encoded body", WithFile("a.dll", Gzip(std::string(20000, 'A'))), nullptr},
        {"no Content-Length", WithFile("b.gdb", NoLength(std::string(9000, 'B'))), nullptr},
        {"version-info file of 10 MB of garbage", WithDbVer(Ok(Garbage(10 * 1024 * 1024))), nullptr},
        {"version-info file that is an HTML page",
         WithDbVer(Ok("<html><head><meta http-equiv=\"refresh\" content=\"0;url=/\"></head><body>a=b</body></html>\r\n")), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        Run(c);
    }
}

// Each hostile name listed in the DB version-info file beside a.dll, with a server that answers every
// request with content: the name is neither fetched nor placed nor recorded, and a.dll still is.
TEST_F(FaultTest, HostileNames) {
    const struct {
        const char* label;
        std::string name;
    } names[] = {
        {"..\\evil.dll", "..\\evil.dll"},
        {"sub\\x.dll", "sub\\x.dll"},
        {"C:\\Windows\\x.dll", "C:\\Windows\\x.dll"},
        {"\\\\host\\share\\x", "\\\\host\\share\\x"},
        {"x:y", "x:y"},
        {"CON", "CON"},
        {"NUL.txt", "NUL.txt"},
        {"COM1", "COM1"},
        {"a name with a control character", "ctl\x01.dll"},
        {"a 1000-character name", std::string(1000, 'n')},
        {"a name with forward slashes", "../../evil.dll"},
    };
    for (const auto& n : names) {
        const std::string caseName = std::string("hostile name: ") + n.label;
        SCOPED_TRACE(caseName);
        SetUp();
        const std::string list = "SITE=127.0.0.2\r\nSUBDIR=db\r\n" + n.name + "=2,0,1,1\r\na.dll=2\r\n";
        Run({caseName.c_str(),
             [list](TestHttpServer& s) {
                 s.Serve("/update/db/DBUpdate.ver", Ok(list));
                 ServeListed(s);
                 ServeProgramCurrent(s);
                 s.ServeAnyOther(Ok("planted"));
             },
             nullptr, true, [&] {
                 EXPECT_EQ(m_targets, (std::vector<std::string>{"/update/db/DBUpdate.ver", "/db/a.dll",
                                                                "/marrowtide/MarrowtideWeb.ver"}));
                 EXPECT_EQ(RecordedVersion(Utf16(n.name).c_str()), L"<none>");
                 EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");
                 EXPECT_EQ(ReadAll(InstallFolder() + L"\\sub\\x.dll"), "");
             }});
    }
    SCOPED_TRACE("a duplicated name");
    SetUp();
    Run({"a duplicated name", WithDbVer(Ok(DbVer("a.dll=3\r\n"))), nullptr, true, [&] {
             EXPECT_TRUE(ReadAll(InstallFolder() + L"\\a.dll") == std::string(20000, 'A'));
             const std::wstring v = RecordedVersion(L"a.dll");
             EXPECT_TRUE(v == L"2" || v == L"3") << Utf8(v);
         }});
}

// A 50 MB file at 4096 bytes per 10 ms: a little over two minutes of download, a CTest test of its own.
TEST_F(FaultTest, FiftyMegabyteFile) {
    static const std::string big = Garbage(50 * 1024 * 1024);
    const Case c{"a 50 MB file",
                 [](TestHttpServer& s) {
                     s.Serve("/update/db/DBUpdate.ver", Ok(DbVer("big.dat=2\r\n")));
                     ServeListed(s);
                     s.Serve("/db/big.dat", Ok(big));
                     ServeProgramCurrent(s);
                 },
                 nullptr, true,
                 [] {
                     std::string placed;
                     ASSERT_TRUE(ReadFileBytes(InstallFolder() + L"\\big.dat", placed));
                     EXPECT_EQ(placed.size(), big.size());
                     EXPECT_TRUE(placed == big) << "placed whole, byte for byte";
                     EXPECT_EQ(RecordedVersion(L"big.dat"), L"2");
                     EXPECT_EQ(GetFileAttributesW(L"C:\\windows\\Temp\\big.dat"), INVALID_FILE_ATTRIBUTES);
                 }};
    m_runLimitMs = 240000;
    Run(c);
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
        SCOPED_TRACE("the temp folder read-only");
        SetUp();
        const HostFault readOnly = HostFault::ReadOnly(L"C:\\windows\\Temp");
        ASSERT_TRUE(readOnly.holds()) << "the folder took a new file";
        Run({"the temp folder read-only", WithFile("a.dll", Ok(std::string(20000, 'A'))), nullptr, true,
             [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"1"); }});
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
        ASSERT_TRUE(readOnly.holds()) << "the folder took a new file";
        Run({"the install folder read-only", WithFile("a.dll", Ok(std::string(20000, 'A'))), nullptr, true, [] {
                 for (const wchar_t* name : {L"a.dll", L"b.gdb"}) EXPECT_EQ(RecordedVersion(name), L"1") << Utf8(name);
             }});
    }
    {
        SCOPED_TRACE("the disk of the install folder full");
        SetUp();
        // Room for the small listed files but not for the 20000 bytes of a.dll.
        const HostFault full = HostFault::Full(InstallFolder(), 28);
        ASSERT_TRUE(full.holds()) << "the folder has room for more than 28 KiB";
        ULARGE_INTEGER freeBytes{};
        ASSERT_TRUE(GetDiskFreeSpaceExW((InstallFolder() + L"\\").c_str(), &freeBytes, nullptr, nullptr));
        ASSERT_LT(freeBytes.QuadPart, 20000u) << "room for a.dll: the fault would not show";
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
    const std::wstring tooLong = L"C:\\" + std::wstring(297, L'p');
    const struct {
        const char* name;
        const wchar_t* value;  // nullptr: no value
    } values[] = {
        {"\"InstallPath\" missing", nullptr},
        {"\"InstallPath\" empty", L""},
        {"\"InstallPath\" naming no folder", L"C:\\nowhere\\Marrowtide"},
        {"\"InstallPath\" 300 characters long", tooLong.c_str()},
    };
    for (const auto& v : values) {
        SCOPED_TRACE(v.name);
        SetUp();
        DeleteHklmValue(kProductKey, L"InstallPath");
        if (v.value) WriteProductValueW(L"InstallPath", v.value);
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
}  // namespace fault_matrix
