// Faults, hostile servers and bad input: whole runs of the real BrinsoUpdator.exe with a product already
// installed, and after each the same invariants: nothing lost, nothing planted.
#include "fault_fixture.h"

#include "core/block_map.h"
#include "framework/cng.h"

namespace fault_matrix {
namespace {

TEST_F(FaultTest, ServerFaults) {
    const std::string a(20000, 'A');
    const std::string gzip = Compressed(a, 31), zlib = Compressed(a, 15), raw = Compressed(a, -15);
    std::string badCrc = gzip;
    badCrc[badCrc.size() - 6] ^= 1;
    HttpAnswer longLength = Ok("0123456789").With("Content-Length: 4294967306");
    longLength.contentLength = false;
    const auto kept = [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"1"); };
    const auto placed = [a] {
        EXPECT_TRUE(ReadAll(InstallFolder() + L"\\a.dll") == a);
        EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");
    };
    RunAll({
        Logs({"connection refused", [](TestHttpServer& s) { s.Close(); }, nullptr}, "no answer from the server"),
        Logs({"404 with a body for the DB version-info file", WithDbVer(HttpAnswer::Status(404, "Not Found", DbVer())), nullptr},
             "the server answered HTTP 404"),
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
        Logs({"404 with a body for a listed file", WithFile("b.gdb", HttpAnswer::Status(404, "Not Found", "<html>gone</html>")),
              nullptr},
             "/db/b.gdb failed after"),
        {"500 with a body for a listed file", WithFile("a.dll", HttpAnswer::Status(500, "Error", "<html>oops</html>")), nullptr},
        Logs({"server resets mid-body", WithFile("a.dll", Cut(std::string(20000, 'A'), 9000, true)), nullptr},
             "9000 of 20000 bytes arrived"),
        Logs({"body shorter than its Content-Length", WithFile("a.dll", Cut(std::string(20000, 'A'), 5000, false)), nullptr},
             "5000 of 20000 bytes arrived"),
        {"gzip-encoded body", WithFile("a.dll", Gzip(a)), nullptr, true, placed},
        {"gzip cut after a third of its bytes", WithFile("a.dll", Cut(gzip, gzip.size() / 3, false).With("Content-Encoding: gzip")),
         nullptr, true, kept},
        Logs({"gzip with a wrong CRC", WithFile("a.dll", Ok(badCrc).With("Content-Encoding: gzip")), nullptr, true, kept},
             "the compressed body is damaged"),
        {"deflate cut short", WithFile("a.dll", Cut(zlib, zlib.size() - 3, false).With("Content-Encoding: deflate")), nullptr,
         true, kept},
        {"deflate in the zlib format, whole", WithFile("a.dll", Ok(zlib).With("Content-Encoding: deflate")), nullptr, true, placed},
        {"raw deflate, whole", WithFile("a.dll", Ok(raw).With("Content-Encoding: deflate")), nullptr, true, placed},
        {"chunked gzip cut before its final chunk",
         WithFile("a.dll", HttpAnswer::Chunked({gzip.substr(0, gzip.size() / 2)}, false, "Content-Encoding: gzip")), nullptr,
         true, kept},
        {"204 No Content", WithFile("a.dll", HttpAnswer::Status(204, "No Content", "")), nullptr, true, kept},
        {"206 Partial Content with 100 bytes", WithFile("a.dll", HttpAnswer::Status(206, "Partial Content", a.substr(0, 100))),
         nullptr, true, kept},
        Logs({"raw bytes without a status line", WithFile("a.dll", HttpAnswer::Raw("MZ planted\r\n" + a)), nullptr, true, kept},
             "the answer has no HTTP header"),
        {"Content-Length 4294967306 with a 10-byte body", WithFile("a.dll", longLength), nullptr, true, kept},
        Logs({"Content-Encoding br", WithFile("a.dll", Ok(a).With("Content-Encoding: br")), nullptr, true, kept},
             "Content-Encoding \"br\""),
        {"no Content-Length", WithFile("b.gdb", NoLength(std::string(9000, 'B'))), nullptr},
        Logs({"version-info file of 10 MB of garbage", WithDbVer(Ok(Garbage(10 * 1024 * 1024))), nullptr},
             "larger than the 1048576 bytes"),
        {"version-info file that is an HTML page",
         WithDbVer(Ok("<html><head><meta http-equiv=\"refresh\" content=\"0;url=/\"></head><body>a=b</body></html>\r\n")), nullptr},
    });
}

// Each hostile name listed in the DB version-info file beside a.dll (as code page 949 bytes), with a server
// that answers every request with content: the name is neither fetched nor placed nor recorded, and a.dll
// still is.
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
        {"\"..\" and a blank (the parent folder)", ".. "},
        {"\". \"", ". "},
        {"a blank", " "},
        {"\"...\"", "..."},
        {"a trailing dot", "x.dll."},
        {"a*b.dll", "a*b.dll"},
        {"a?b.dll", "a?b.dll"},
        {"a<b.dll", "a<b.dll"},
        {"a>b.dll", "a>b.dll"},
        {"a|b.dll", "a|b.dll"},
        {"a\"b.dll", "a\"b.dll"},
        {"COM0", "COM0"},
        {"LPT0.txt", "LPT0.txt"},
        {"COM with a superscript one", "COM\xA9\xF6"},
        {"LPT with a superscript three", "LPT\xA9\xF8.dat"},
        {"CONIN$", "CONIN$"},
        {"CONOUT$", "CONOUT$"},
        {"InstallPath", "InstallPath"},
        {"update_flag", "update_flag"},
    };
    std::vector<Case> cases;
    for (const auto& n : names) {
        const std::string list = "SITE=127.0.0.2\r\nSUBDIR=db\r\n" + n.name + "=2,0,1,1\r\na.dll=2\r\n";
        cases.push_back(Logs({std::string("hostile name: ") + n.label,
                         [list](TestHttpServer& s) {
                             s.Serve("/update/db/DBUpdate.ver", Ok(list));
                             ServeListed(s);
                             ServeProgramCurrent(s);
                             s.ServeAnyOther(Ok("planted"));
                         },
                         nullptr, true, [this] {
                             EXPECT_EQ(m_targets, (std::vector<std::string>{"/update/db/DBUpdate.ver", "/db/a.dll",
                                                                            "/marrowtide/MarrowtideWeb.ver"}));
                             EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");
                             EXPECT_EQ(ReadAll(InstallFolder() + L"\\sub\\x.dll"), "");
                             ExpectInstallPathKept();
                         }},
                             " is refused: "));
    }
    // The product's own value as a file name: it would move the install folder of the program pass.
    const std::string win = "C:\\windows";
    const std::string winIni = ReadAll(L"C:\\windows\\win.ini");
    cases.push_back({"\"INSTALLPATH=C:\\windows\" in the DB version-info file",
                     [win](TestHttpServer& s) {
                         s.Serve("/update/db/DBUpdate.ver", Ok("SITE=127.0.0.2\r\nSUBDIR=db\r\nINSTALLPATH=" + win + "\r\na.dll=2\r\n"));
                         ServeListed(s);
                         s.Serve("/marrowtide/MarrowtideWeb.ver", Ok("win.ini=2\r\nevil.dll=2,0,1,1\r\n"));
                         s.ServeAnyOther(Ok("planted"));
                     },
                     nullptr, true, [this, winIni] {
                         ExpectInstallPathKept();
                         EXPECT_EQ(ReadAll(L"C:\\windows\\win.ini"), winIni);
                         EXPECT_EQ(ReadAll(InstallFolder() + L"\\evil.dll"), "planted") << "placed in the install folder";
                     }});
    // Listed again, the last line wins: its version is the one fetched and recorded.
    for (const char* again : {"a.dll=3", "A.DLL=3"}) {
        cases.push_back({std::string("a name listed twice: \"a.dll=2\" then \"") + again + "\"",
                         [again](TestHttpServer& s) {
                             s.Serve("/update/db/DBUpdate.ver", Ok(DbVer(std::string(again) + "\r\n")));
                             ServeListed(s);
                             s.Serve("/db/A.DLL", Ok(kListed.at("a.dll")));
                             ServeProgramCurrent(s);
                         },
                         nullptr, true, [] {
                             EXPECT_TRUE(ReadAll(InstallFolder() + L"\\a.dll") == kListed.at("a.dll"));
                             EXPECT_EQ(RecordedVersion(L"a.dll"), L"3");
                         }});
    }
    cases.push_back({"a CR inside SUBDIR (a second request line for the site)",
                     WithDbVer(Ok(DbVer("SUBDIR=db\rGET /planted HTTP/1.1\r\n"))), nullptr, true, [this] {
                         EXPECT_EQ(m_targets, (std::vector<std::string>{"/update/db/DBUpdate.ver", "/db/a.dll", "/db/b.gdb",
                                                                        "/db/c.adb", "/marrowtide/MarrowtideWeb.ver"}));
                         EXPECT_EQ(RecordedVersion(L"c.adb"), L"2");
                     }});
    RunAll(cases);
}

// A Korean file name in a Korean folder reaches the server as its code page 949 bytes on every system:
// this group runs twice, under code page 949 and (EXPECT_ACP=1252) under 1252.
TEST_F(FaultTest, KoreanNames) {
    if (const char* acp = std::getenv("EXPECT_ACP")) ASSERT_EQ(GetACP(), std::strtoul(acp, nullptr, 10));
    const std::string korean = "\xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE";  // "업데이트" in code page 949
    const std::string encoded = "%BE%F7%B5%A5%C0%CC%C6%AE";
    RunAll({{std::string("a Korean name and SUBDIR under code page ") + std::to_string(GetACP()),
             [=](TestHttpServer& s) {
                 s.Serve("/update/db/DBUpdate.ver", Ok("SITE=127.0.0.2\r\nSUBDIR=" + korean + "\r\n" + korean + ".dll=2\r\na.dll=2\r\n"));
                 s.Serve("/" + encoded + "/" + encoded + ".dll", Ok("korean"));
                 s.Serve("/" + encoded + "/a.dll", Ok(kListed.at("a.dll")));
                 ServeProgramCurrent(s);
             },
             nullptr, true, [] {
                 EXPECT_EQ(ReadAll(InstallFolder() + L"\\업데이트.dll"), "korean");
                 EXPECT_EQ(RecordedVersion(L"업데이트.dll"), L"2");
                 EXPECT_EQ(RecordedVersion(L"a.dll"), L"2") << "the loop went on after the Korean name";
             }}});
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
    RunAll({c});
}

// A DB version-info file listing many small files before a.dll, with these fields after the version
// (",0,1,0" has each registered), and a server for it: the placement, registration and recording steps
// then last long enough to stop inside each.
std::function<void(TestHttpServer&)> ServeMany(const std::string& fields, int count = 60) {
    std::string many = "SITE=127.0.0.2\r\nSUBDIR=db\r\n";
    for (int i = 0; i < count; ++i) many += "f" + std::to_string(i) + ".dat=2" + fields + "\r\n";
    many += "a.dll=2\r\n";
    return [many, count](TestHttpServer& s) {
        s.Serve("/update/db/DBUpdate.ver", Ok(many));
        for (int i = 0; i < count; ++i) s.Serve("/db/f" + std::to_string(i) + ".dat", Ok("small"));
        ServeListed(s);
        ServeProgramCurrent(s);
    };
}
bool LogHolds(const std::string& text) {
    for (const std::string& line : RunLogLines(InstallFolder())) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
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
        // A thousand entries take a while to check: the stop is answered at the next, wherever it comes.
        Monitored({"while a 1000-entry version-info file is read (at its 10th entry)", ServeMany("", 999),
                   StopWhen([](HWND) { return LogHolds("\"f10.dat\" version"); })}),
        Monitored({"while a 1000-entry version-info file is read (at its 500th entry)", ServeMany("", 999),
                   StopWhen([](HWND) { return LogHolds("\"f500.dat\" version"); }), true,
                   [] { EXPECT_FALSE(LogHolds("\"a.dll\" version")) << "the entries were all checked after the stop"; }}),
        // The shell's "open" waits for a DDE handler that takes twenty seconds: the stop does not.
        {"during a long \"open\"",
         [](TestHttpServer& s) {
             s.Serve("/update/db/DBUpdate.ver", Ok(DbVer("doc.mtxslow=2,0,0,1\r\n")));
             ServeListed(s);
             s.Serve("/db/doc.mtxslow", Ok("document"));
             ServeProgramCurrent(s);
         },
         StopWhen([](HWND) { return StartCount(L"C:\\standins\\slow\\slow.exe") > 0; }), true,
         [] { EXPECT_EQ(RecordedVersion(L"doc.mtxslow"), L"<none>"); }, true,
         [this] {
             auto handler = SlowOpenHandler();
             Rewatch();  // the handler's stand-in lives in C:\standins
             return handler;
         }},
        // The files fetched before the stop never reach their place, and leave the temp folder.
        {"during the last download, the others fetched",
         [slow](TestHttpServer& s) {
             s.Serve("/update/db/DBUpdate.ver", Ok(DbVer("z.dat=2\r\n")));
             ServeListed(s);
             s.Serve("/db/z.dat", slow);
             ServeProgramCurrent(s);
         },
         StopWhen([](HWND d) { return ItemText(d, IDC_STATIC_FILE) == L"다운로드 DB파일 : z.dat"; }), true,
         [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"1"); }},
    };
    RunAll(std::vector<Case>(std::begin(cases), std::end(cases)));
}

TEST_F(FaultTest, LocalFaults) {
    const auto fetchA = WithFile("a.dll", Ok(std::string(20000, 'A')));
    const auto aKept = [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"1"); };
    const auto readOnly = [](std::wstring folder) {
        return [folder]() -> std::shared_ptr<void> {
            auto fault = std::make_shared<HostFault>(HostFault::ReadOnly(folder));
            return fault->holds() ? fault : nullptr;  // the folder took a new file: the fault would not show
        };
    };
    RunAll({
        // A file flagged to be opened, of a type nothing on the machine opens: placed and recorded, its open
        // a failure line, and the run not summed up as up to date.
        Logs({"a flagged file of a type nothing opens",
              [](TestHttpServer& s) {
                  s.Serve("/update/db/DBUpdate.ver", Ok(DbVer("notes.qqz=2,0,0,1\r\n")));
                  ServeListed(s);
                  s.Serve("/db/notes.qqz", Ok("notes"));
                  ServeProgramCurrent(s);
              },
              nullptr, true, [] { EXPECT_EQ(RecordedVersion(L"notes.qqz"), L"2"); }},
             "could not open C:\\Program Files\\Marrowtide\\notes.qqz with the shell (error "),
        {"the temp folder cannot be made (a file stands in its place)", fetchA, nullptr, true, nullptr, true,
         [this] {
             RemoveTree(L"C:\\windows\\Temp");
             WriteAll(L"C:\\windows\\Temp", "not a folder");
             Rewatch();
             return Undo([] {
                 DeleteFileW(L"C:\\windows\\Temp");
                 CreateDirectoryW(L"C:\\windows\\Temp", nullptr);
             });
         }},
        // Every file placed and recorded, but the desktop link cannot be written: its line is a failure.
        Logs({"the desktop folder read-only", fetchA, nullptr, true, [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"2"); }, true,
              [readOnly] {
                  wchar_t desktop[MAX_PATH] = {};
                  SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
                  DeleteFileW((std::wstring(desktop) + L"\\Marrowtide.Lnk").c_str());
                  return readOnly(desktop)();
              }},
             "Desktop\\Marrowtide.Lnk ("),
        Logs({"the temp folder read-only", fetchA, nullptr, true, aKept, true, readOnly(L"C:\\windows\\Temp")},
             "no download folder could be made"),
        Logs({"an installed file held open by a running program", fetchA, nullptr, true, aKept, true,
              [] {
                  HANDLE held = CreateFileW((InstallFolder() + L"\\a.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
                  return held == INVALID_HANDLE_VALUE ? nullptr : Undo([held] { CloseHandle(held); });
              }},
             "could not place a.dll as "),
        {"the install folder read-only", fetchA, nullptr, true,
         [] {
             for (const wchar_t* name : {L"a.dll", L"b.gdb"}) EXPECT_EQ(RecordedVersion(name), L"1") << Utf8(name);
         },
         true, readOnly(InstallFolder())},
        // Without a size to hold it to, an endless body stops where the temp volume would be left too little.
        [] {
            HttpAnswer endless = Ok(std::string(100 * 1024 * 1024, 'E'));
            endless.contentLength = false;
            return Logs({"an endless body on a temp volume of 2 MiB", WithFile("a.dll", endless), nullptr, true,
                         [] {
                             EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
                             ULARGE_INTEGER freeBytes{}, totalBytes{};
                             ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\windows\\Temp\\", &freeBytes, &totalBytes, nullptr));
                             EXPECT_GE(freeBytes.QuadPart, totalBytes.QuadPart * 9 / 10) << "the volume has its room again";
                         },
                         true,
                         []() -> std::shared_ptr<void> {
                             auto small = std::make_shared<HostFault>(HostFault::Full(L"C:\\windows\\Temp", 2048));
                             return small->holds() ? small : nullptr;
                         }},
                        "the file would not fit: only ");
        }(),
        {"the disk of the install folder full", fetchA, nullptr, true,
         [] {
             EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
             EXPECT_EQ(GetFileAttributesW((InstallFolder() + L"\\a.dll.~new").c_str()), INVALID_FILE_ATTRIBUTES)
                 << "a partial copy left behind";
         },
         true,
         []() -> std::shared_ptr<void> {
             // Room for the small listed files but not for the 20000 bytes of a.dll.
             auto full = std::make_shared<HostFault>(HostFault::Full(InstallFolder(), 28));
             ULARGE_INTEGER freeBytes{};
             const bool room = !GetDiskFreeSpaceExW((InstallFolder() + L"\\").c_str(), &freeBytes, nullptr, nullptr) ||
                               freeBytes.QuadPart >= 20000u;
             return full->holds() && !room ? full : nullptr;
         }},
        // Short enough for the install folder, too long beside the download folder's name: the list ends there.
        Logs({"a name too long for the download folder (200 characters)",
              [](TestHttpServer& s) {
                  s.Serve("/update/db/DBUpdate.ver", Ok("SITE=127.0.0.2\r\nSUBDIR=db\r\n" + std::string(196, 'n') + ".dat=2\r\na.dll=2\r\n"));
                  ServeListed(s);
                  ServeProgramCurrent(s);
              },
              nullptr, true, aKept},
             "nnnn.dat failed: the local copy could not be created (error 206"),  // it never began: no time
        // Anyone may make folders in the shared temp folder: none of them stands in the run's way.
        {"folders planted in the temp folder under the downloaded names", fetchA, nullptr, true,
         [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"2"); }, true,
         [this] {
             const wchar_t* const planted[] = {L"DBUpdate.ver", L"MarrowtideWeb.ver", L"a.dll", L"b.gdb"};
             for (const wchar_t* name : planted) CreateDirectoryW((std::wstring(L"C:\\windows\\Temp\\") + name).c_str(), nullptr);
             Rewatch();
             return Undo([planted] {
                 for (const wchar_t* name : planted) RemoveDirectoryW((std::wstring(L"C:\\windows\\Temp\\") + name).c_str());
             });
         }},
        Logs({"the product key refusing full access", fetchA, nullptr, false, nullptr, true,
              []() -> std::shared_ptr<void> {
                  auto key = std::make_shared<ReadOnlyProductKey>();
                  return key->ok() ? key : nullptr;
              }},
             "cannot be opened (error 5"),
    });
}

TEST_F(FaultTest, InstallPathBeforeTheRun) {
    const auto rewritten = [] {
        std::wstring v;
        EXPECT_TRUE(ReadHklmString(kProductKey, product::kInstallPathValueW, v));
        EXPECT_EQ(v, InstallFolder()) << "the dialog's start records the install folder";
        EXPECT_EQ(ReadAll(InstallFolder() + L"\\a.dll"), std::string(20000, 'A'));
        EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");
    };
    const auto fetchA = WithFile("a.dll", Ok(std::string(20000, 'A')));
    const auto value = [](const wchar_t* v) {
        const std::shared_ptr<std::wstring> kept = v ? std::make_shared<std::wstring>(v) : nullptr;
        return [kept] {
            DeleteHklmValue(kProductKey, product::kInstallPathValueW);
            if (kept) WriteProductValueW(product::kInstallPathValueW, *kept);
            return Undo([] {});
        };
    };
    const std::wstring tooLong = L"C:\\" + std::wstring(297, L'p');
    const std::wstring fallback = L"C:\\Program Files\\Yelvan";
    RunAll({
        {"\"InstallPath\" missing", fetchA, nullptr, true, rewritten, true, value(nullptr)},
        {"\"InstallPath\" empty", fetchA, nullptr, true, rewritten, true, value(L"")},
        {"\"InstallPath\" naming no folder", fetchA, nullptr, true, rewritten, true, value(L"C:\\nowhere\\Marrowtide")},
        {"\"InstallPath\" 300 characters long", fetchA, nullptr, true, rewritten, true, value(tooLong.c_str())},
        // The dialog's start records a path where a file stands; the run settles on the fallback folder.
        {"the install folder cannot be made (a file stands in its place)", fetchA, nullptr, true,
         [fallback] {
             EXPECT_EQ(ReadAll(InstallFolder()), "not a folder");
             EXPECT_EQ(ReadAll(fallback + L"\\Marrowtide\\a.dll"), std::string(20000, 'A'));
             EXPECT_EQ(ReadAll(fallback + L"\\Marrowtide\\gdb\\b.gdb"), std::string(9000, 'B'));
             EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");
         },
         false,
         [this, fallback] {
             RemoveTree(fallback);
             RemoveTree(InstallFolder());
             WriteAll(InstallFolder(), "not a folder");
             Rewatch();
             m_before[L"C:\\Program Files"].insert(L"Yelvan");
             m_placedIn = fallback + L"\\Marrowtide";
             return Undo([fallback] {
                 DeleteFileW(InstallFolder().c_str());
                 RemoveTree(fallback);
             });
         }},
    });
}

// Servers that would hold the run, with the product stopped, for ever or for very long: each run ends by
// itself within the platform's time-out and a few seconds, and the closing dialog starts the monitor.
TEST_F(FaultTest, HostileServers) {
    const auto redirect = [](const std::string& to) { return HttpAnswer::Status(302, "Found", "").With("Location: " + to); };
    HttpAnswer silent = Ok(std::string(20000, 'A'));
    silent.stallAfterHead = true;
    // 150 MB in one line, and the same as a gzip answer of about 150 KB.
    static const std::string huge = "a.dll=" + std::string(150 * 1024 * 1024, 'v');
    static const std::string bomb = Compressed(huge, 31);
    std::string many = "SITE=127.0.0.2\r\nSUBDIR=db\r\n";
    for (int i = 0; i < 3000; ++i) many += "m" + std::to_string(i) + ".dat=2\r\n";
    const auto kept = [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"1"); };
    const auto nothingAskedAfterTheList = [this] {
        EXPECT_EQ(m_targets, (std::vector<std::string>{"/update/db/DBUpdate.ver"})) << "an unreadable file: the pass fails";
    };
    std::vector<Case> cases = {
        {"a redirect to itself", WithFile("a.dll", redirect("/db/a.dll")), nullptr, true,
         [this] {
             EXPECT_EQ(m_targets.size(), 13u) << "the version-info file, a.dll and ten redirects, the program's file";
             EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
         }},
        {"two hosts redirecting to each other", WithFile("a.dll", redirect("http://127.0.0.4/db/a.dll")), nullptr, true, kept,
         true, [] {
             auto other = std::make_shared<TestHttpServer>("127.0.0.4");
             other->Serve("/db/a.dll", HttpAnswer::Status(302, "Found", "").With("Location: http://127.0.0.2/db/a.dll"));
             return other->listening() ? other : nullptr;
         }},
        Logs({"a server silent after the headers", WithFile("a.dll", silent), nullptr, true, kept},
             "the connection broke off after 0 bytes of the body"),
        {"a version-info file of 150 MB in one line", WithDbVer(Ok(huge)), nullptr, true, nothingAskedAfterTheList},
        {"a gzip answer of 150 KB that decodes to 150 MB", WithDbVer(Ok(bomb).With("Content-Encoding: gzip")), nullptr, true,
         nothingAskedAfterTheList},
        Logs({"a version-info file of 3000 entries", WithDbVer(Ok(many)), nullptr, true, nothingAskedAfterTheList},
             "lists more than 1000 files"),
        // The report changes nothing in the update, but its failure is told, beside the update's summary.
        Logs({"no statistics server", WithFile("a.dll", Ok(kListed.at("a.dll"))), nullptr, true,
              [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"2"); }},
             "the statistics report could not be sent (error 120"),
        // A statistics server that never answers holds nothing up.
        {"a statistics server that never answers", WithFile("a.dll", Ok(kListed.at("a.dll"))), nullptr, true,
         [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"2"); }, true,
         [] {
             auto stats = std::make_shared<TestHttpServer>("127.0.0.3");
             stats->ServeAnyOther(Stall());
             return stats->listening() ? stats : nullptr;
         }},
    };
    for (Case& c : cases) {
        c.monitor = true;
        c.endsWithinMs = 45000;  // the 30 s receive time-out, the pauses of the run, a few seconds
    }
    cases.back().endsWithinMs = 15000;  // as fast as with a working statistics server
    // Trickles: each byte comes well within the receive time-out, so only the floor (4096 bytes in any
    // 60 s) and the version-info file's minute end them: within about a minute and a half, monitor started.
    const auto trickle = [](std::string body, size_t piece, DWORD pauseMs) {
        HttpAnswer a = Ok(std::move(body));
        a.piece = piece;
        a.delayPerKiB = pauseMs;
        return a;
    };
    const std::string padded = DbVer() + ";" + std::string(16 * 1024, 'x') + "\r\n";
    HttpAnswer headTrickle = trickle(kListed.at("a.dll"), 1, 4000);
    headTrickle.pacedHead = true;  // the platform waits inside the request, each byte within its time-out
    for (Case c : {Logs({"a listed file that trickles one byte every 4 s", WithFile("a.dll", trickle(kListed.at("a.dll"), 1, 4000)),
                         nullptr, true, kept},
                        "fewer than 4096 bytes in 60 s"),
                   Logs({"a listed file whose headers trickle one byte every 4 s", WithFile("a.dll", headTrickle), nullptr, true,
                         kept},
                        "fewer than 4096 bytes in 60 s (0 bytes arrived)"),
                   Logs({"a version-info file that trickles one byte every 4 s", WithDbVer(trickle(DbVer(), 1, 4000)), nullptr,
                         true, nothingAskedAfterTheList},
                        "did not arrive whole within 60 s"),
                   Logs({"a version-info file that takes longer than a minute (1 KiB every 5 s)",
                         WithDbVer(trickle(padded, 1024, 5000)), nullptr, true, nothingAskedAfterTheList},
                        "did not arrive whole within 60 s")}) {
        c.monitor = true;
        c.endsWithinMs = 90000;
        cases.push_back(c);
    }
    RunAll(cases);
}

const std::string kDbReleaseLines = "#serial 5\r\n" + ReleaseLines("update/db/DBUpdate.ver");
const std::string kProgramRelease = Signed("#serial 1\r\n" + ReleaseLines("marrowtide/MarrowtideWeb.ver"), 0);

// The DB version-info file of the listed files (version 2) with their digests and sizes, the release's own
// lines (serial, path, expiry) and more lines.
std::string DbVerWithDigests(const std::string& releaseLines = kDbReleaseLines, const std::string& more = "") {
    std::string text = "SITE=127.0.0.2\r\nSUBDIR=db\r\n";
    for (const char* name : {"a.dll", "b.gdb", "c.adb"}) text += std::string(name) + "=2,0,0,0," + EntryChecks(kListed.at(name)) + "\r\n";
    return text + releaseLines + more;
}

std::function<void(TestHttpServer&)> ServeSigned(const std::string& dbVer, const std::string& listedA = kListed.at("a.dll"),
                                                 const std::string& programVer = kProgramRelease) {
    return [dbVer, listedA, programVer](TestHttpServer& s) {
        s.Serve("/update/db/DBUpdate.ver", Ok(dbVer));
        ServeListed(s);
        s.Serve("/db/a.dll", Ok(listedA));
        s.Serve("/marrowtide/MarrowtideWeb.ver", Ok(programVer));
    };
}

std::wstring StoredSerial(const wchar_t* file) {
    std::wstring v;
    return ReadHklmString((std::wstring(product::kProductKeyPathW) + L"\\" + product::kReleasesSubKeyW).c_str(), file, v) ? v : L"<none>";
}

// Whole runs of the program built with the release keys "one" and "two".
TEST_F(FaultTest, SignedReleases) {
    m_exe = SignedUpdatorExePath();
    m_runLimitMs = 120000;
    const auto everything = [] {
        for (const char* name : {"a.dll", "b.gdb", "c.adb"}) EXPECT_EQ(RecordedVersion(Utf16(name).c_str()), L"2") << name;
        EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"5");
        EXPECT_EQ(StoredSerial(L"MarrowtideWeb.ver"), L"1");
    };
    // A version-info file that fails a check is unreadable: its pass fails and nothing of it is asked for.
    const auto unreadable = [this] {
        EXPECT_EQ(m_targets, std::vector<std::string>{"/update/db/DBUpdate.ver"});
        EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
    };
    const auto storedSerial = [](const wchar_t* serial) {
        return [serial] {
            WriteProductValueW(L"DBUpdate.ver", serial, L"Releases");
            return Undo([] {});
        };
    };
    // A release accepted before: its serial and the KEYID that signed it ("" for none).
    const auto keptRelease = [](const wchar_t* serial, const std::string& keyId) {
        return [serial, keyId] {
            WriteProductValueW(L"DBUpdate.ver", serial, L"Releases");
            if (!keyId.empty()) WriteProductValueW(L"DBUpdate.ver.keyid", Utf16(keyId), L"Releases");
            return Undo([] {});
        };
    };
    const auto keptAs = [](const wchar_t* serial, int key) {
        return [serial, key] {
            EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), serial);
            EXPECT_EQ(StoredSerial(L"DBUpdate.ver.keyid"), Utf16(TestKeyId(key)));
        };
    };
    const auto storedSerials = [] {
        WriteProductValueW(L"DBUpdate.ver", L"5", L"Releases");
        WriteProductValueW(L"MarrowtideWeb.ver", L"1", L"Releases");
        return Undo([] {});
    };
    const std::string good = Signed(DbVerWithDigests(), 0);
    // The good release with another answer for a.dll.
    const auto servingA = [good](HttpAnswer a) {
        return [good, a](TestHttpServer& s) {
            ServeSigned(good)(s);
            s.Serve("/db/a.dll", a);
        };
    };
    const auto notPlaced = [this] {
        EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
        EXPECT_EQ(m_targets.size(), 3u) << "the rest of the list is not attempted";
    };
    std::string changedSigned = good;
    changedSigned[changedSigned.find("SUBDIR=db") + 7] = 'D';
    std::string changedA = kListed.at("a.dll");
    changedA[100] = 'B';
    // What an installed product holds, listed at its installed version: nothing is due.
    const std::string current = Signed("SITE=127.0.0.2\r\nSUBDIR=db\r\na.dll=1,0,0,0," + EntryChecks("installed a") +
                                       "\r\n" + kDbReleaseLines, 0);
    const std::string digestA = DigestField(kListed.at("a.dll"));
    std::string upper = DbVerWithDigests();
    for (size_t i = upper.find(digestA) + 7; i < upper.find(digestA) + digestA.size(); ++i) upper[i] = static_cast<char>(toupper(upper[i]));
    std::string short63 = DbVerWithDigests();
    short63.erase(short63.find(digestA) + digestA.size() - 1, 1);
    // A mirror on another address, named by the release, serving a.dll with an answer of the case's.
    const std::string mirrored = Signed(DbVerWithDigests(kDbReleaseLines, "#mirror 127.0.0.4\r\n"), 0);
    const auto mirrorServer = std::make_shared<std::shared_ptr<TestHttpServer>>();
    const auto mirror = [mirrorServer](HttpAnswer answer) {
        return [mirrorServer, answer]() -> std::shared_ptr<void> {
            *mirrorServer = std::make_shared<TestHttpServer>("127.0.0.4");
            if (!(*mirrorServer)->listening()) return nullptr;
            (*mirrorServer)->Serve("/db/a.dll", answer);
            return Undo([mirrorServer] { mirrorServer->reset(); });
        };
    };
    const auto fromTheMirror = [everything, mirrorServer] {
        everything();
        EXPECT_EQ((*mirrorServer)->Targets(), std::vector<std::string>{"/db/a.dll"});
    };
    // The built-in mirror of the update server (127.0.0.4), serving what it is given.
    const auto serverMirror = [mirrorServer](std::vector<std::pair<std::string, HttpAnswer>> answers) {
        return [mirrorServer, answers]() -> std::shared_ptr<void> {
            auto m = std::make_shared<TestHttpServer>("127.0.0.4");
            if (!m->listening()) return nullptr;
            for (const auto& a : answers) m->Serve(a.first, a.second);
            *mirrorServer = m;
            return Undo([mirrorServer] { mirrorServer->reset(); });
        };
    };
    // Gzip's header, then empty stored blocks (which decode to nothing) for 16 MB.
    std::string emptyBlocks("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
    while (emptyBlocks.size() < (16u << 20)) emptyBlocks.append("\0\0\0\xff\xff", 5);
    HttpAnswer endlessGzip = Ok(emptyBlocks).With("Content-Encoding: gzip");
    endlessGzip.contentLength = false;
    HttpAnswer endless = Ok(kListed.at("a.dll") + std::string(50 * 1024 * 1024, 'z'));
    endless.contentLength = false;
    const std::string expired = Signed(DbVerWithDigests("#serial 5\r\n" + ReleaseLines("update/db/DBUpdate.ver", "2001-01-01T00:00:00Z")), 0);
    const auto busy = [](int seconds) {
        return HttpAnswer::Status(503, "Service Unavailable", "busy").With("Retry-After: " + std::to_string(seconds));
    };
    const auto siteAnswers = [mirrored](HttpAnswer a) {
        return [mirrored, a](TestHttpServer& s) {
            ServeSigned(mirrored)(s);
            s.Serve("/db/a.dll", a);
        };
    };
    RunAll({
        // A listed file the site fails to deliver comes from the release's mirror, same path; the run is whole.
        Logs({"a 500 at the site, the file from the mirror", siteAnswers(HttpAnswer::Status(500, "Internal Server Error", "down")),
              nullptr, true, fromTheMirror, true,
              mirror(Ok(kListed.at("a.dll")))},
             "HTTP 500 instead of 200 OK; asking the next mirror"),
        // Built with a mirror of its update server: a server that fails both version-info files is passed by.
        Logs({"the update server answers 503 for its version-info files, its mirror serves them",
              [good](TestHttpServer& s) {
                  ServeSigned(good)(s);
                  for (const char* ver : {"/update/db/DBUpdate.ver", "/marrowtide/MarrowtideWeb.ver"}) {
                      s.Serve(ver, HttpAnswer::Status(503, "Service Unavailable", "busy"));
                  }
              },
              nullptr, true,
              [everything, mirrorServer] {
                  everything();
                  EXPECT_EQ((*mirrorServer)->Targets(),
                            (std::vector<std::string>{"/update/db/DBUpdate.ver", "/marrowtide/MarrowtideWeb.ver"}));
              },
              true, serverMirror({{"/update/db/DBUpdate.ver", Ok(good)}, {"/marrowtide/MarrowtideWeb.ver", Ok(kProgramRelease)}})},
             "http://127.0.0.2/update/db/DBUpdate.ver failed after"),
        // One that arrives and cannot be used is passed by too: whoever holds the server's name alone stops nothing.
        Logs({"the update server serves an unsigned DB version-info file, its mirror the release",
              [good](TestHttpServer& s) {
                  ServeSigned(good)(s);
                  s.Serve("/update/db/DBUpdate.ver", Ok(DbVerWithDigests()));
              },
              nullptr, true,
              [everything, mirrorServer] {
                  everything();
                  EXPECT_EQ((*mirrorServer)->Targets(), std::vector<std::string>{"/update/db/DBUpdate.ver"});
              },
              true, serverMirror({{"/update/db/DBUpdate.ver", Ok(good)}})},
             "DB pass: the version-info file from 127.0.0.2 is not used: it is not signed"),
        Logs({"the update server and its mirror serve expired DB version-info files", ServeSigned(expired), nullptr, true,
              [unreadable, mirrorServer] {
                  unreadable();
                  EXPECT_EQ((*mirrorServer)->Targets(), std::vector<std::string>{"/update/db/DBUpdate.ver"});
              },
              true, serverMirror({{"/update/db/DBUpdate.ver", Ok(expired)}})},
             "DB pass: the version-info file from 127.0.0.4 is not used: it has expired"),
        // A compressed body is bounded by what the listed size can take compressed, not only by what it decodes to.
        EndsWithin(20000, Logs({"an endless gzip body of empty blocks for a listed file", servingA(endlessGzip), nullptr, true, notPlaced},
                               "http://127.0.0.2/db/a.dll failed after")),
        // "Come back in 2 s": asked again once, after that wait, from the same host.
        Logs({"a 503 with \"Retry-After: 2\", then the file",
              servingA(HttpAnswer::Status(503, "Service Unavailable", "busy").With("Retry-After: 2").Then(Ok(kListed.at("a.dll")))),
              nullptr, true,
              [everything] {
                  everything();
                  std::vector<int> asked;  // the moments a.dll was asked for, in ms of the day
                  for (const std::string& l : RunLogLines(InstallFolder())) {
                      if (l.find("downloading http://127.0.0.2/db/a.dll") == std::string::npos) continue;
                      asked.push_back(((std::stoi(l.substr(11, 2)) * 60 + std::stoi(l.substr(14, 2))) * 60 + std::stoi(l.substr(17, 2))) * 1000 +
                                      std::stoi(l.substr(20, 3)));
                  }
                  ASSERT_EQ(asked.size(), 2u);
                  EXPECT_GE(asked[1] - asked[0], 2000) << "asked again after the wait it was given";
                  EXPECT_TRUE(LogHolds("http://127.0.0.2/db/a.dll came after 2 s of waits its servers asked for (Retry-After)"));
              }},
             "HTTP 503 instead of 200 OK; asking again in 2 s, as the server asked (Retry-After)"),
        // The waits of one file add up to a minute at most, over all its hosts: the mirror's is not kept.
        EndsWithin(40000, Logs({"a 503 asking for 20 s at the site, then one asking for 41 s at the mirror", siteAnswers(busy(20)), nullptr,
                                true,
                                [this, mirrorServer] {
                                    EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
                                    EXPECT_EQ((*mirrorServer)->Targets(), std::vector<std::string>{"/db/a.dll"});
                                    EXPECT_FALSE(LogHolds("asking again in 41 s"));
                                },
                                true, mirror(busy(41))},
                               "http://127.0.0.4/db/a.dll failed after")),
        // A wait longer than a minute is not kept: the mirror is asked at once.
        Logs({"a 503 with \"Retry-After: 120\", the file from the mirror",
              siteAnswers(HttpAnswer::Status(503, "Service Unavailable", "busy").With("Retry-After: 120")), nullptr, true,
              fromTheMirror, true, mirror(Ok(kListed.at("a.dll")))},
             "HTTP 503 instead of 200 OK; asking the next mirror"),
        // Given up by its watch while the platform holds it (a byte every 25 s), the site's download ends by
        // itself 15 s later, while the mirror's (20 s long) is being written: it drops only its own file.
        [&] {
            HttpAnswer slow = Ok(kListed.at("a.dll")), slower = slow;
            slow.piece = 1;
            slow.delayPerKiB = 25000;
            slower.delayPerKiB = 1000;
            return Logs({"the site's download given up by its watch, the mirror's written while it ends", siteAnswers(slow), nullptr,
                         true, fromTheMirror, true, mirror(slower)},
                        "too slow, given up; asking the next mirror");
        }(),
        {"wrong bytes at the site, the file from the mirror",
         siteAnswers(Ok(changedA)), nullptr, true, fromTheMirror, true,
         mirror(Ok(kListed.at("a.dll")))},
        Logs({"wrong bytes at the site and at the mirror", siteAnswers(Ok(changedA)), nullptr, true, notPlaced, true,
              mirror(Ok(changedA))},
             "http://127.0.0.4/db/a.dll failed after"),
        {"a correctly signed release", ServeSigned(good), nullptr, true, everything},
        {"the same release again", ServeSigned(current), nullptr, true,
         [this] {
             EXPECT_EQ(m_targets, (std::vector<std::string>{"/update/db/DBUpdate.ver", "/marrowtide/MarrowtideWeb.ver"}));
             EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"5");
         },
         true, storedSerial(L"5")},
        {"a release signed with the second key", ServeSigned(Signed(DbVerWithDigests(), 1)), nullptr, true, everything},
        // What is kept where a serial belongs but is none counts as none: said in the log, then replaced.
        Logs({"a kept serial of another type (a number, not text)", ServeSigned(good), nullptr, true, everything, true,
              [] {
                  const DWORD seven = 7;
                  HKEY key = nullptr;
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(product::kProductKeyPathW) + L"\\Releases").c_str(), 0,
                                  nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
                  const bool set = RegSetValueExW(key, L"DBUpdate.ver", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seven),
                                                  sizeof seven) == ERROR_SUCCESS;
                  RegCloseKey(key);
                  return set ? Undo([] {}) : nullptr;
              }},
             "the serial kept for \"DBUpdate.ver\" is not a serial"),
        Logs({"a kept serial that is not a number", ServeSigned(good), nullptr, true, everything, true, storedSerial(L"seven")},
             "the serial kept for \"DBUpdate.ver\" is not a serial"),
        Logs({"one changed byte in a listed file", ServeSigned(good, changedA), nullptr, true,
              [this] {
                  EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
                  EXPECT_EQ(m_targets.size(), 3u) << "the rest of the list is not attempted";
              }},
             "the file's SHA-256 is not the one the version-info file lists"),
        Logs({"one changed byte in the signed part", ServeSigned(changedSigned), nullptr, true, unreadable},
             "its signature does not match its contents"),
        Logs({"a signature by an unknown key", ServeSigned(Signed(DbVerWithDigests(), 2)), nullptr, true, unreadable},
             "signed with a key this program does not carry"),
        Logs({"no signature line", ServeSigned(DbVerWithDigests()), nullptr, true, unreadable}, "it is not signed"),
        {"a line after the signature line", ServeSigned(good + "x.dll=2\r\n"), nullptr, true, unreadable},
        Logs({"no kept KEYID, the oldest key with a lower serial (rollback)", ServeSigned(good), nullptr, true,
              [&] {
                  unreadable();
                  EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"7");
              },
              true, storedSerial(L"7")},
             "its serial is lower than that of a release accepted before"),
        // Key generations: "one" is built in before "two".
        {"a later key after an earlier one with a higher kept serial", ServeSigned(Signed(DbVerWithDigests(), 1)), nullptr,
         true,
         [&] {
             EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");
             keptAs(L"5", 1)();
         },
         true, keptRelease(L"10", TestKeyId(0))},
        Logs({"then the earlier key with a higher serial",
              ServeSigned(Signed(DbVerWithDigests("#serial 11\r\n" + ReleaseLines("update/db/DBUpdate.ver")), 0)), nullptr,
              true,
              [&] {
                  unreadable();
                  keptAs(L"5", 1)();
              },
              true, keptRelease(L"5", TestKeyId(1))},
             "it is signed with an older key than a release accepted before"),
        {"a kept maximum serial, then the later key with serial 1",
         ServeSigned(Signed(DbVerWithDigests("#serial 1\r\n" + ReleaseLines("update/db/DBUpdate.ver")), 1)), nullptr, true,
         [&] {
             EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");
             keptAs(L"1", 1)();
         },
         true, keptRelease(L"9223372036854775807", "")},
        {"a kept KEYID that is not built in", ServeSigned(good), nullptr, true,
         [&] {
             EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");
             keptAs(L"5", 0)();
         },
         true, keptRelease(L"50", "0123456789abcdef")},
        Logs({"two serial lines", ServeSigned(Signed(DbVerWithDigests(kDbReleaseLines + "#serial 6\r\n"), 0)), nullptr, true,
              unreadable},
             "it does not hold exactly one valid serial"),
        Logs({"an entry without a digest", ServeSigned(Signed(DbVerWithDigests(kDbReleaseLines, "z.dat=2,0,0,0\r\n"), 0)),
              nullptr, true, unreadable},
             "a signed release lists a file without a valid SHA-256"),
        Logs({"an entry without a size (the first form)",
              ServeSigned(Signed(DbVerWithDigests(kDbReleaseLines, "z.dat=2,0,0,0," + DigestField("z") + "\r\n"), 0)),
              nullptr, true, unreadable},
             "and size (\"size:N\")"),
        // The program release served at the DB path, the vendor's next DB release (serial 11) at the program
        // path: each names its own path, so neither is used, nothing is placed, and no kept serial moves.
        Logs({"the two version-info files swapped",
              ServeSigned(kProgramRelease, kListed.at("a.dll"), Signed(DbVerWithDigests("#serial 11\r\n" +
                                                                  ReleaseLines("update/db/DBUpdate.ver")), 0)),
              nullptr, true,
              [&] {
                  unreadable();
                  EXPECT_EQ(RecordedVersion(L"b.gdb"), L"1");
                  EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"5");
                  EXPECT_EQ(StoredSerial(L"MarrowtideWeb.ver"), L"1");
              },
              true, storedSerials},
             "it names itself \"marrowtide/MarrowtideWeb.ver\", the file asked for is \"update/db/DBUpdate.ver\""),
        Logs({"the DB release served at the program path",
              ServeSigned(good, kListed.at("a.dll"), Signed(DbVerWithDigests("#serial 11\r\n" +
                                                            ReleaseLines("update/db/DBUpdate.ver")), 0)),
              nullptr, true,
              [] {
                  EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");  // the DB pass's own release
                  EXPECT_FALSE(Exists(InstallFolder() + L"\\b.gdb")) << "nothing of it placed as the program's";
                  EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"5");
                  EXPECT_EQ(StoredSerial(L"MarrowtideWeb.ver"), L"1");
              },
              true, storedSerials},
             "it names itself \"update/db/DBUpdate.ver\", the file asked for is \"marrowtide/MarrowtideWeb.ver\""),
        // A proxy or the platform's own cache would hand the next run the answer it kept for a day: the
        // next release (serial 6) must still be asked for and applied.
        {"a first answer cacheable for a day, a changed release on the next run",
         ServeSigned(Signed(DbVerWithDigests("#serial 6\r\n" + ReleaseLines("update/db/DBUpdate.ver")), 0)), nullptr, true,
         [this] {
             EXPECT_EQ(m_targets.front(), "/update/db/DBUpdate.ver") << "asked of the server again";
             EXPECT_NE(m_requests.front().find("\r\nCache-Control: no-cache\r\n"), std::string::npos)
                 << "and every cache on the way told so: " << m_requests.front();
             EXPECT_EQ(RecordedVersion(L"a.dll"), L"2");
             EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"6");
         },
         true,
         [this, current] {
             const bool ran = RunBefore([current](TestHttpServer& s) {
                 ServeSigned("")(s);
                 s.Serve("/update/db/DBUpdate.ver", Ok(current).With("Cache-Control: public, max-age=86400")
                                                        .With("Last-Modified: Tue, 01 Dec 2026 00:00:00 GMT"));
             });
             return ran && StoredSerial(L"DBUpdate.ver") == L"5" ? Undo([] {}) : nullptr;
         }},
        Logs({"no #file line", ServeSigned(Signed(DbVerWithDigests("#serial 5\r\n#expires 2099-12-31T23:59:59Z\r\n"), 0)),
              nullptr, true, unreadable},
             "it does not name its own path in exactly one \"#file\" line"),
        Logs({"#file naming another path",
              ServeSigned(Signed(DbVerWithDigests("#serial 5\r\n" + ReleaseLines("update/db/DBUpdate.ver.old")), 0)),
              nullptr, true, unreadable},
             "it names itself \"update/db/DBUpdate.ver.old\""),
        Logs({"an expired release",
              ServeSigned(Signed(DbVerWithDigests("#serial 5\r\n" + ReleaseLines("update/db/DBUpdate.ver", "2026-01-01T00:00:00Z")), 0)),
              nullptr, true, unreadable},
             "it has expired: an old release, held back or served from a cache (it expired at 2026-01-01T00:00:00Z, the clock says 20"),
        Logs({"no #expires line", ServeSigned(Signed(DbVerWithDigests("#serial 5\r\n#file update/db/DBUpdate.ver\r\n"), 0)),
              nullptr, true, unreadable},
             "it does not hold exactly one valid \"#expires\" line"),
        // A listed file delivers exactly its size: reading stops at the first byte past it.
        Logs({"a listed file one byte longer than its size", servingA(Ok(kListed.at("a.dll") + "x")), nullptr, true, notPlaced},
             "the file is longer than the " + std::to_string(kListed.at("a.dll").size()) + " bytes the version-info file lists"),
        Logs({"a listed file one byte shorter than its size", servingA(Ok(kListed.at("a.dll").substr(1))), nullptr, true,
              notPlaced},
             "bytes, not the " + std::to_string(kListed.at("a.dll").size()) + " the version-info file lists"),
        // No Content-Length to refuse it by: the body itself is cut off at its size, at once, not after 50 MB.
        EndsWithin(20000, Logs({"50 MB past its size", servingA(endless), nullptr, true, notPlaced},
                               "the file is longer than the " + std::to_string(kListed.at("a.dll").size()) + " bytes")),
        {"a digest in upper case", ServeSigned(Signed(upper, 0)), nullptr, true, unreadable},
        {"a digest of 63 hexadecimal digits", ServeSigned(Signed(short63, 0)), nullptr, true, unreadable},
        {"the version-info file served cut short", ServeSigned(good.substr(0, good.size() - 40)), nullptr, true, unreadable},
    });
}

// Without release keys, a digest an entry gives is still checked; a whole file with the right one is placed,
// and a plain chunked body cut before its final chunk, which the platform takes as whole, is refused by it.
TEST_F(FaultTest, DigestsWithoutReleaseKeys) {
    const std::string a = kListed.at("a.dll");
    HttpAnswer chunkedCut = HttpAnswer::Chunked({a.substr(0, 6000)}, false);
    RunAll({
        {"a digest that matches", ServeSigned(DbVerWithDigests()), nullptr, true,
         [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"2"); }},
        {"a digest mismatch", ServeSigned(DbVerWithDigests(), a.substr(1) + "x"), nullptr, true,
         [this] {
             EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
             EXPECT_EQ(m_targets.size(), 3u) << "the rest of the list is not attempted";
         }},
        {"a chunked body cut before its final chunk",
         [chunkedCut](TestHttpServer& s) {
             ServeSigned(DbVerWithDigests())(s);
             s.Serve("/db/a.dll", chunkedCut);
         },
         nullptr, true, [] { EXPECT_EQ(RecordedVersion(L"a.dll"), L"1"); }},
    });
}

// The program built with keys, run from the install folder as installed, and a program release that lists
// a new build of it (with the register and open flags, which do not apply to it).
// A download that ended part way keeps what arrived; the next run asks only for the rest.
TEST_F(FaultTest, ResumesWhatAnEarlierRunKept) {
    m_exe = SignedUpdatorExePath();
    static const std::string big = Garbage(3 << 20);
    const std::string release = Signed("SITE=127.0.0.2\r\nSUBDIR=db\r\nbig.dat=2,0,0,0," + EntryChecks(big) + "\r\n" + kDbReleaseLines, 0);
    const auto serving = [release](HttpAnswer a) {
        return [release, a](TestHttpServer& s) {
            s.Serve("/update/db/DBUpdate.ver", Ok(release));
            s.Serve("/db/big.dat", a);
            s.Serve("/marrowtide/MarrowtideWeb.ver", Ok(kProgramRelease));
        };
    };
    HttpAnswer ranged = Ok(big);  // a server that resumes, as nginx does
    ranged.etag = "\"big-1\"";
    HttpAnswer cut = ranged;  // the same, its connection lost at 2 MB
    cut.sendBodyBytes = 2 << 20;
    const std::wstring parts = InstallFolder() + L"\\BrinsoUpdator.parts\\db", part = parts + L"\\" + Utf16(DigestField(big).substr(7)) + L".part";
    const auto partSize = [part] {
        WIN32_FILE_ATTRIBUTE_DATA a{};
        return GetFileAttributesExW(part.c_str(), GetFileExInfoStandard, &a) ? a.nFileSizeLow : 0u;
    };
    const auto kept = std::make_shared<DWORD>(0);  // what the earlier run kept
    // An earlier run that keeps a part (then changed as the case says), and a part of a file no longer listed.
    const auto earlier = [&, kept](HttpAnswer a, std::function<bool(HWND)> act, std::function<void()> change) {
        return [&, kept, a, act, change]() -> std::shared_ptr<void> {
            if (!RunBefore(serving(a), act) || !(*kept = partSize())) return nullptr;
            if (change) change();
            WriteAll(parts + L"\\" + std::wstring(64, L'0') + L".part", "gone");
            WriteAll(parts + L"\\" + std::wstring(64, L'0') + L".tag", "\"gone\"");
            return Undo([] {});
        };
    };
    const auto placed = [this, kept, parts](std::vector<std::string> ranges, std::string said = "") {
        return [this, kept, parts, ranges, said] {
            EXPECT_TRUE(ReadAll(InstallFolder() + L"\\big.dat") == big) << "placed whole, byte for byte";
            EXPECT_EQ(RecordedVersion(L"big.dat"), L"2");
            std::vector<std::string> asked;  // the Range each request for the file asked ("" for none)
            for (const std::string& r : m_requests) {
                if (TestHttpServer::TargetOf(r) != "/db/big.dat") continue;
                const size_t at = r.find("\r\nRange: ");
                asked.push_back(at == std::string::npos ? "" : r.substr(at + 9, r.find("\r\n", at + 2) - at - 9));
                if (at != std::string::npos) EXPECT_NE(r.find("\r\nIf-Range: \"big-1\"\r\n"), std::string::npos) << r;
            }
            std::vector<std::string> expected = ranges;
            for (std::string& r : expected) r = r == "kept" ? "bytes=" + std::to_string(*kept) + "-" : r;
            EXPECT_EQ(asked, expected);
            EXPECT_TRUE(Listing(parts.c_str()).empty()) << "kept parts gone once placed, or no longer listed";
            if (!said.empty()) EXPECT_TRUE(LogHolds(said == "resumed" ? "resumed after the " + std::to_string(*kept) + " bytes" : said));
        };
    };
    const auto stopAtOneMegabyte = StopWhen([partSize](HWND) { return partSize() > (1u << 20); });
    m_runLimitMs = 120000;
    RunAll({
        Logs({"a 3 MB file cut at 2 MB, then only the rest asked for", serving(ranged), nullptr, true,
              placed({"kept"}, "downloaded http://127.0.0.2/db/big.dat: 1048576 bytes in"), true,
              earlier(cut, nullptr, nullptr)},
             "2097152 bytes kept to resume from"),
        Logs({"a stop part way, then only the rest asked for", serving(ranged), nullptr, true, placed({"kept"}, "resumed"), true,
              earlier(ranged, stopAtOneMegabyte, nullptr)},
             "download of http://127.0.0.2/db/big.dat stopped"),
        Logs({"a server that ignores Range sends it whole", serving(Ok(big)), nullptr, true, placed({"kept"}), true,
              earlier(cut, nullptr, nullptr)},
             "downloaded http://127.0.0.2/db/big.dat: 3145728 bytes in"),
        Logs({"a kept part changed since: the rest proves it wrong, the whole file asked again", serving(ranged), nullptr, true,
              placed({"kept", ""}), true,
              earlier(cut, nullptr, [part] {
                  std::string bytes = ReadAll(part);
                  bytes[1000] ^= 1;
                  WriteAll(part, bytes);
              })},
             "the kept part dropped, asking again for the whole file"),
    });
}

// A large file that changed a little comes by blocks from its installed copy; anything in the way, whole.
TEST_F(FaultTest, BlocksOfAnOlderCopy) {
    m_exe = SignedUpdatorExePath();
    static const std::string old = Garbage(8 << 20);
    static const std::string changed = [] {
        std::string c = old;
        for (size_t at : {1000000u, 4000000u, 7000000u}) c.replace(at, 4096, std::string(4096, static_cast<char>(at >> 16)));
        c.insert(2500000, std::string(1000, 'i'));
        c.erase(5500000, 500);
        return c;
    }();
    CSha256Each sha;
    const core::BlockHasher strong = [&sha](const char* data, std::size_t size) {
        core::Sha256Digest d{};
        sha.Hash(data, size, d);
        core::StrongHash h{};
        std::copy(d.begin(), d.begin() + 16, h.begin());
        return h;
    };
    core::BlockMapWriter writer(changed.size(), strong);
    writer.Feed(changed.data(), changed.size());
    const std::string map = writer.Finish();
    const std::string release = Signed("SITE=127.0.0.2\r\nSUBDIR=db\r\ndb8.dat=2,0,0,0," + EntryChecks(changed) + "\r\n" + kDbReleaseLines, 0);
    const auto serving = [release](HttpAnswer file, HttpAnswer blocks) {
        return [release, file, blocks](TestHttpServer& s) {
            s.Serve("/update/db/DBUpdate.ver", Ok(release));
            s.Serve("/db/db8.dat", file);
            s.Serve("/db/db8.dat.blocks", blocks);
            s.Serve("/marrowtide/MarrowtideWeb.ver", Ok(kProgramRelease));
        };
    };
    HttpAnswer ranged = Ok(changed);  // a server that answers ranges, as nginx does
    ranged.etag = "\"db8-2\"";
    const auto installedAs = [](const std::string& copy) {
        return [copy] {
            WriteAll(InstallFolder() + L"\\db8.dat", copy);
            WriteProductValueW(L"db8.dat", L"1");
            return Undo([] {});
        };
    };
    const auto installed = installedAs(old);
    const auto placed = [](std::function<void()> more) {
        return [more] {
            EXPECT_TRUE(ReadAll(InstallFolder() + L"\\db8.dat") == changed) << "placed byte for byte";
            EXPECT_EQ(RecordedVersion(L"db8.dat"), L"2");
            more();
        };
    };
    const auto byBlocks = [this, map] {
        std::uint64_t fetched = 0;
        for (const std::string& l : RunLogLines(InstallFolder())) {
            const size_t at = l.find("db8.dat came by blocks: ");
            if (at != std::string::npos) fetched = std::stoull(l.substr(at + 24));
        }
        EXPECT_GT(fetched, 0u);
        EXPECT_LE(fetched + map.size(), changed.size() / 20) << "at most 5 % of the file on the wire, its map included";
        std::printf("the changed file: %llu bytes fetched and a %zu-byte map, of %zu\n", static_cast<unsigned long long>(fetched),
                    map.size(), changed.size());
        size_t asked = 0;
        for (const std::string& r : m_requests) asked += r.find("\r\nRange: bytes=") != std::string::npos;
        EXPECT_GE(asked, 1u);
    };
    const auto whole = [this] {
        EXPECT_TRUE(LogHolds("downloaded http://127.0.0.2/db/db8.dat: " + std::to_string(changed.size()) + " bytes"));
    };
    HttpAnswer damaged = Ok(map.substr(0, map.size() - 7));
    // A map is not signed: one of the largest blocks it may name, over a copy that lacks one of them.
    core::BlockMapWriter large(changed.size(), strong, core::kMaxBlockSize);
    large.Feed(changed.data(), changed.size());
    const std::string oneBlockOlder = std::string(changed).replace(3000000, 4096, std::string(4096, 'o'));
    // Every block's checksum that of a window of zeros, every hash wrong, over a copy of 2 MiB of zeros.
    std::string falseMap = map;
    for (size_t at = core::kBlockMapHeaderSize; at < falseMap.size(); at += core::kBlockEntrySize) falseMap.replace(at, 4, 4, '\0');
    // What a hostile server answers a request for ranges with (a whole file for the request that follows).
    const auto multipart = [ranged](const std::string& body) {
        HttpAnswer a = HttpAnswer::Status(206, "Partial Content", body).With("Content-Type: multipart/byteranges; boundary=XYZ");
        a.contentLength = false;
        return a.Then(ranged);
    };
    const std::string size = std::to_string(changed.size());
    std::string oneBytePartForEver;
    while (oneBytePartForEver.size() < (16u << 20)) oneBytePartForEver += "\r\n--XYZ\r\nContent-Range: bytes 0-0/" + size + "\r\n\r\nA";
    const std::string wholeFileAsAPart = "\r\n--XYZ\r\nContent-Range: bytes 0-" + std::to_string(changed.size() - 1) + "/" + size + "\r\n\r\n" + changed;
    // The one range the copy one block older lacks (two blocks of 4 KiB), right, then an epilogue for ever.
    const size_t first = 3000000 / 4096 * 4096, end = (3000000 + 4096 + 4095) / 4096 * 4096;
    const std::string epilogueForEver = "\r\n--XYZ\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(end - 1) + "/" +
                                        size + "\r\n\r\n" + changed.substr(first, end - first) + "\r\n--XYZ--\r\n" +
                                        std::string(16u << 20, 'e');
    m_runLimitMs = 120000;
    RunAll({
        {"an 8 MiB file changed in three places, 1000 bytes in, 500 out: only what the installed copy lacks",
         serving(ranged, Ok(map)), nullptr, true, placed(byBlocks), true, installed, 15000},
        Logs({"no installed copy: the whole file", serving(ranged, Ok(map)), nullptr, true, placed(whole), true},
             "\"db8.dat\" version \"2\" is due: not installed"),
        Logs({"a map of 1 MiB blocks (not the tool's), the installed copy one block older", serving(ranged, Ok(large.Finish())), nullptr,
              true, placed(whole), true, installedAs(oneBlockOlder)},
             "db8.dat: its block map is damaged or not the map of this file; the whole file instead"),
        EndsWithin(60000, Logs({"a false map over a copy of 2 MiB of zeros", serving(ranged, Ok(falseMap)), nullptr, true, placed(whole), true,
                       installedAs(std::string(2 << 20, '\0'))},
                      "db8.dat: its block map proved false")),
        EndsWithin(60000, Logs({"a multipart answer that repeats a one-byte part for ever", serving(multipart(oneBytePartForEver), Ok(map)), nullptr,
                       true, placed(whole), true, installed},
                      "is not what was asked for; the whole file instead")),
        EndsWithin(60000, Logs({"a multipart answer whose part is the whole file", serving(multipart(wholeFileAsAPart), Ok(map)), nullptr, true,
                       placed(whole), true, installed},
                      "more than any answer to the request takes; the whole file instead")),
        // (its epilogue or its bytes past what the request may take, whichever a read meets first)
        EndsWithin(60000, Logs({"the part asked for, then an epilogue for ever", serving(multipart(epilogueForEver), Ok(map)), nullptr, true,
                       placed(whole), true, installedAs(oneBlockOlder)},
                      "download of http://127.0.0.2/db/db8.dat failed after")),
        {"a listed file named as the map is, listed first",
         [serving, ranged, map](TestHttpServer& s) {
             serving(ranged, Ok(map))(s);
             s.Serve("/update/db/DBUpdate.ver", Ok(Signed("SITE=127.0.0.2\r\nSUBDIR=db\r\ndb8.dat.blocks=2,0,0,0," + EntryChecks(map) +
                                                          "\r\ndb8.dat=2,0,0,0," + EntryChecks(changed) + "\r\n" + kDbReleaseLines,
                                                      0)));
         },
         nullptr, true, placed([map] { EXPECT_TRUE(ReadAll(InstallFolder() + L"\\db8.dat.blocks") == map) << "placed as listed"; }), true,
         installed},
        Logs({"a damaged map: the whole file", serving(ranged, damaged), nullptr, true, placed(whole), true, installed},
             "db8.dat: its block map is damaged or not the map of this file; the whole file instead"),
        Logs({"a server that answers no ranges: the whole file", serving(Ok(changed), Ok(map)), nullptr, true, placed(whole), true, installed},
             "it serves no ranges; the whole file instead"),
    });
}

TEST_F(FaultTest, UpdatesItself) {
    std::string current;
    ASSERT_TRUE(ReadFileBytes(SignedUpdatorExePath(), current));
    const std::string newer = current + "a newer build";  // runs as the same program; its bytes tell it apart
    const std::wstring program = InstallFolder() + L"\\BrinsoUpdator.exe", aside = program + L".~old";
    m_exe = program;
    const std::string release = Signed("SITE=127.0.0.2\r\nSUBDIR=marrowtide\r\nBrinsoUpdator.exe=2,0,1,1," + EntryChecks(newer) +
                                           "\r\n#serial 1\r\n" + ReleaseLines("marrowtide/MarrowtideWeb.ver"),
                                       0);
    const auto serve = [release, newer](TestHttpServer& s) {
        ServeSigned(Signed(DbVerWithDigests(), 0), kListed.at("a.dll"), release)(s);
        s.Serve("/marrowtide/BrinsoUpdator.exe", Ok(newer));
    };
    const auto installed = [program, current](std::function<bool()> more) {
        return [program, current, more] {
            WriteAll(program, current);
            return ReadAll(program) == current && more() ? Undo([] {}) : nullptr;
        };
    };
    const auto logSays = [](const std::string& text) {
        std::string all;
        for (const std::string& l : RunLogLines(InstallFolder())) all += l + "\n";
        return all.find(text) != std::string::npos;
    };
    RunAll({
        {"a new build of itself", serve, nullptr, true,
         [&] {
             EXPECT_TRUE(ReadAll(program) == newer) << "the new build took its name";
             EXPECT_EQ(RecordedVersion(L"BrinsoUpdator.exe"), L"2");
             EXPECT_TRUE(Exists(aside)) << "the running program's file set aside until the next start";
             EXPECT_TRUE(logSays("this program's file was set aside as " + Utf8(aside)));
             EXPECT_FALSE(logSays("registering " + Utf8(program)) || logSays("opened " + Utf8(program)))
                 << "its register and open flags do not apply to it";
         },
         true, installed([] { return true; })},
        Logs({"the next start after it updated itself", serve, nullptr, true,
              [&] {
                  EXPECT_FALSE(Exists(aside)) << "the replaced program deleted";
                  EXPECT_TRUE(ReadAll(program) == newer);
                  EXPECT_EQ(m_targets, (std::vector<std::string>{"/update/db/DBUpdate.ver", "/marrowtide/MarrowtideWeb.ver"}))
                      << "only the version-info files: everything is current";
              },
              true, installed([&] { return RunBefore(serve) && ReadAll(program) == newer && Exists(aside); })},
             "deleted the replaced program " + Utf8(aside)),
        Logs({"its new build cannot be written", serve, nullptr, true,
              [&] {
                  EXPECT_TRUE(ReadAll(program) == current) << "the running program's file in place under its name";
                  EXPECT_FALSE(Exists(aside));
                  EXPECT_EQ(RecordedVersion(L"BrinsoUpdator.exe"), L"<none>");
              },
              true, installed([program] { return CreateDirectoryW((program + L".~new").c_str(), nullptr) != FALSE; })},
             "could not place BrinsoUpdator.exe as " + Utf8(program)),
    });
}

}  // namespace
}  // namespace fault_matrix
