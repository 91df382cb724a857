// Signed releases and the updater's own new build: whole runs of the real BrinsoUpdator.exe with a product already installed, and after each the
// same invariants: nothing lost, nothing planted.
#include "fault_fixture.h"

namespace fault_matrix {
namespace {

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
    // Refused for its key alone (a key roll this build missed): nothing of it is asked for, but the program
    // release is.
    const auto refusedForKey = [this] {
        EXPECT_EQ(m_targets, (std::vector<std::string>{"/update/db/DBUpdate.ver", "/marrowtide/MarrowtideWeb.ver"}));
        EXPECT_EQ(RecordedVersion(L"a.dll"), L"1");
        EXPECT_EQ(StoredSerial(L"MarrowtideWeb.ver"), L"1");
    };
    // Three key generations: this build carries "one" and "two"; the DB release is signed with the key after
    // them, and the program release (signed with "two") ships the updater that carries it, which then takes
    // the DB release.
    std::string next;
    EXPECT_TRUE(ReadFileBytes(NextUpdatorExePath(), next));
    const std::string nextDb = Signed(DbVerWithDigests(), 2);
    const std::string shipsNext = Signed("BrinsoUpdator.exe=2,0,0,0," + EntryChecks(next) + "\r\n#serial 2\r\n" +
                                             ReleaseLines("marrowtide/MarrowtideWeb.ver"), 1);
    const auto serveRoll = [nextDb, shipsNext, next](TestHttpServer& s) {
        ServeSigned(nextDb, kListed.at("a.dll"), shipsNext)(s);
        s.Serve("/marrowtide/BrinsoUpdator.exe", Ok(next));
    };
    // The first run (this build) takes the program release only; the case's run is the updater it placed.
    Case threeGenerations{"a machine that missed a key roll: its program release brings the next updater, which takes the DB release",
                          serveRoll, nullptr, true, [] {
                              for (const char* name : {"a.dll", "b.gdb", "c.adb"}) EXPECT_EQ(RecordedVersion(Utf16(name).c_str()), L"2") << name;
                              EXPECT_EQ(StoredSerial(L"MarrowtideWeb.ver"), L"2");
                              EXPECT_TRUE(LogHolds("(release keys " + TestKeyId(1) + " " + TestKeyId(2) + ")")) << "the next updater ran";
                          }};
    threeGenerations.prepare = [this, next, serveRoll]() -> std::shared_ptr<void> {
        const std::wstring installed = InstallFolder() + L"\\BrinsoUpdator.exe";
        if (!RunBefore(serveRoll) || ReadAll(installed) != next || RecordedVersion(L"a.dll") != L"1" ||
            !LogHolds("the program pass runs all the same")) {
            return nullptr;
        }
        m_exe = installed;
        return Undo([this] { m_exe = SignedUpdatorExePath(); });
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
    const auto mirror = [serverMirror](HttpAnswer answer) { return serverMirror({{"/db/a.dll", answer}}); };
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
    // Without SUBDIR the DB pass asks its site for its files by an absolute URL; a mirror is asked for its own
    // copy of the path. a.dll trickles at the site (a byte every 4 s) until its watch gives it up; b.gdb takes
    // ten seconds, in which the given-up download ends: it touches nothing of the mirror's copy.
    std::string absolute = DbVerWithDigests(kDbReleaseLines, "#mirror 127.0.0.4\r\n");
    absolute.erase(absolute.find("SUBDIR=db\r\n"), 11);
    const auto trickleAtTheSite = [absolute = Signed(absolute, 0)](TestHttpServer& s) {
        s.Serve("/update/db/DBUpdate.ver", Ok(absolute));
        s.Serve("/marrowtide/MarrowtideWeb.ver", Ok(kProgramRelease));
        HttpAnswer a = Ok(kListed.at("a.dll")), b = Ok(kListed.at("b.gdb"));
        a.piece = 1;
        a.delayPerKiB = 4000;
        b.delayPerKiB = 1200;
        s.Serve("/http://127.0.0.2/update/db//a.dll", a);
        s.Serve("/http://127.0.0.2/update/db//b.gdb", b);
        s.Serve("/http://127.0.0.2/update/db//c.adb", Ok(kListed.at("c.adb")));
    };
    RunAll({
        Logs({"a.dll trickles at the site and comes from the mirror while the given-up download ends", trickleAtTheSite, nullptr, true,
              [everything, mirrorServer] {
                  everything();
                  EXPECT_EQ((*mirrorServer)->Targets(), std::vector<std::string>{"/update/db//a.dll"});
                  EXPECT_TRUE(LogHolds("download of http://127.0.0.2/update/db//a.dll failed after"));
                  EXPECT_TRUE(LogHolds("downloaded http://127.0.0.4/update/db//a.dll: 20000 bytes"));
                  EXPECT_TRUE(LogHolds("run ended: the product is up to date"));
              },
              true, serverMirror({{"/update/db//a.dll", Ok(kListed.at("a.dll"))}})},
             "fewer than 4096 bytes in " + std::to_string(UPDATER_SLOW_SERVER_S) + " s ("),
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
        // Given up by its watch while the platform holds it (a byte every 5/12 of the slow-server span, 25 s as
        // shipped: within the receive time-out), the site's download ends by itself when its next byte comes,
        // while the mirror's (20 s long) is being written: it drops only its own file.
        [&] {
            HttpAnswer slow = Ok(kListed.at("a.dll")), slower = slow;
            slow.piece = 1;
            slow.delayPerKiB = UPDATER_SLOW_SERVER_S * 1000 * 5 / 12;
            slower.delayPerKiB = 1000;
            return Logs({"the site's download given up by its watch, the mirror's written while it ends", siteAnswers(slow), nullptr,
                         true, fromTheMirror, true, mirror(slower)},
                        "too slow, given up; asking the next mirror");
        }(),
        {"wrong bytes at the site, the file from the mirror",
         siteAnswers(Ok(changedA)), nullptr, true, fromTheMirror, true,
         mirror(Ok(kListed.at("a.dll")))},
        Logs({"an older gzip copy at the site, the file from the mirror", siteAnswers(Ok(GzipStored(changedA)).With("Content-Encoding: gzip")),
              nullptr, true, fromTheMirror, true, mirror(Ok(kListed.at("a.dll")))},
             "(it came compressed, Content-Encoding: gzip: the server's compressed copy, NAME.gz beside it, is not of this file); asking the next mirror"),
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
        Logs({"a signature by an unknown key: the program pass runs all the same", ServeSigned(Signed(DbVerWithDigests(), 2)), nullptr, true,
              refusedForKey},
             "signed with a key this program does not carry"),
        Logs(threeGenerations, "the program pass runs all the same, as it may bring the updater that carries the key"),
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
