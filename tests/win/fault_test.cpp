// Faults, hostile servers and bad input: whole runs of the real BrinsoUpdator.exe with a product already
// installed, and after each the same invariants: nothing lost, nothing planted.
#include "fault_fixture.h"


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
        c.endsWithinMs = UPDATER_SLOW_SERVER_S * 500 + 15000;  // the receive time-out, the pauses of the run, a few seconds
    }
    cases.back().endsWithinMs = 15000;  // as fast as with a working statistics server
    // Trickles: each byte comes well within the receive time-out (half the build's span for a slow server,
    // 60 s as shipped), so only the floor (4096 bytes in any such span) and the version-info file's span end
    // them: within about one and a half spans, monitor started.
    const DWORD pace = UPDATER_SLOW_SERVER_S * 1000 / 15;  // 4 s as shipped
    const std::string span = std::to_string(UPDATER_SLOW_SERVER_S) + " s";
    const auto trickle = [](std::string body, size_t piece, DWORD pauseMs) {
        HttpAnswer a = Ok(std::move(body));
        a.piece = piece;
        a.delayPerKiB = pauseMs;
        return a;
    };
    const std::string padded = DbVer() + ";" + std::string(16 * 1024, 'x') + "\r\n";
    HttpAnswer headTrickle = trickle(kListed.at("a.dll"), 1, pace);
    headTrickle.pacedHead = true;  // the platform waits inside the request, each byte within its time-out
    for (Case c : {Logs({"a listed file that trickles one byte every span/15", WithFile("a.dll", trickle(kListed.at("a.dll"), 1, pace)),
                         nullptr, true, kept},
                        "fewer than 4096 bytes in " + span),
                   Logs({"a listed file whose headers trickle one byte every span/15", WithFile("a.dll", headTrickle), nullptr, true,
                         kept},
                        "fewer than 4096 bytes in " + span + " (0 bytes arrived)"),
                   Logs({"a version-info file that trickles one byte every span/15", WithDbVer(trickle(DbVer(), 1, pace)), nullptr,
                         true, nothingAskedAfterTheList},
                        "did not arrive whole within " + span),
                   Logs({"a version-info file that takes longer than its span (1 KiB every span/15)",
                         WithDbVer(trickle(padded, 1024, pace)), nullptr, true, nothingAskedAfterTheList},
                        "did not arrive whole within " + span)}) {
        c.monitor = true;
        c.endsWithinMs = UPDATER_SLOW_SERVER_S * 1500 + 10000;
        cases.push_back(c);
    }
    RunAll(cases);
}

}  // namespace
}  // namespace fault_matrix
