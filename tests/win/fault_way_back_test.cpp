// The way back: whole runs of the real BrinsoUpdator.exe cut while they place files, and the next start,
// which puts the release before them back whole before it updates; and the health check after a run, which
// takes back a release the monitor cannot run on.
#include "fault_fixture.h"

namespace fault_matrix {
namespace {

// The product as it was installed before the cut run: its files, their records, no file of the new release.
void ExpectTheReleaseBefore() {
    for (const auto& f : kInstalled) {
        EXPECT_TRUE(ReadAll(InstallFolder() + L"\\" + f.first) == f.second) << Utf8(f.first);
        EXPECT_EQ(RecordedVersion(f.first.substr(f.first.rfind(L'\\') + 1).c_str()), L"1") << Utf8(f.first);
    }
    EXPECT_EQ(GetFileAttributesW((InstallFolder() + L"\\adb\\c.adb").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(RecordedVersion(L"c.adb"), L"<none>");
}

TEST_F(FaultTest, CutPlacements) {
    const auto serve = WithDbVer(Ok(DbVer()));
    // Before the case's run, a run whose process is ended as soon as its log says name was placed: after
    // the first, the second, the last file of the pass (its records, and the program pass, still to come).
    const auto cutAfter = [this, serve](const char* name) {
        return [this, serve, placed = "placed " + std::string(name) + " as "]() -> std::shared_ptr<void> {
            const bool ended = RunBefore(serve, [this, placed](HWND) {
                if (!LogHolds(placed)) return false;
                m_app.Terminate();
                return true;
            });
            return ended && LogHolds(placed) && !LogHolds("run ended") ? std::make_shared<int>(0) : nullptr;
        };
    };
    const std::string told = "an earlier run was cut while it placed files: the 3 file(s) it was replacing are put back";
    const auto putBackThenUpdated = [] {
        const std::vector<std::string> lines = RunLogLines(InstallFolder());
        std::size_t cut = 0, lastPutBack = 0, firstPlaced = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].find("an earlier run was cut while it placed files") != std::string::npos) cut = i;
            if (cut && lines[i].find(" info put back ") != std::string::npos) lastPutBack = i;
            if (cut && !firstPlaced && lines[i].find(" info placed ") != std::string::npos) firstPlaced = i;
        }
        EXPECT_TRUE(cut && lastPutBack && lastPutBack < firstPlaced) << "put back first, then placed anew";
        for (const auto& l : kListed) EXPECT_EQ(RecordedVersion(Utf16(l.first).c_str()), L"2") << l.first;
        EXPECT_TRUE(ReadAll(InstallFolder() + L"\\gdb\\b.gdb") == kListed.at("b.gdb"));
        EXPECT_EQ(GetFileAttributesW((InstallFolder() + L"\\BrinsoUpdator.previous\\journal").c_str()), INVALID_FILE_ATTRIBUTES);
    };
    std::vector<Case> cases;
    for (const char* name : {"a.dll", "b.gdb", "c.adb"}) {
        Case c{std::string("the process ended once ") + name + " was placed: the next start puts the release before back, then updates",
               serve, nullptr, true, putBackThenUpdated};
        c.prepare = cutAfter(name);
        cases.push_back(Logs(c, told));
    }
    // The list gone at the next start: what it puts back is all there is.
    Case gone{"the process ended once a.dll was placed, the list gone at the next start: the release before, whole",
              WithDbVer(HttpAnswer::Status(404, "Not Found", "none")), nullptr, true, ExpectTheReleaseBefore};
    gone.prepare = cutAfter("a.dll");
    cases.push_back(Logs(gone, told));
    RunAll(cases);
}

const std::string kBadDb = "bad db: the monitor cannot load it";
const std::wstring kPrevious = L"\\BrinsoUpdator.previous";

std::size_t LogCount(const std::string& text) {
    std::size_t n = 0;
    for (const std::string& line : RunLogLines(InstallFolder())) n += line.find(text) != std::string::npos;
    return n;
}

TEST_F(FaultTest, HealthWindow) {
    m_exe = SignedUpdatorExePath();
    m_withStats = true;
    const auto bad = ServeDbRelease(5, kBadDb), good = ServeDbRelease(5, kListed.at("b.gdb"));
    // Earlier runs with the monitor installed, its stand-in ended after each: one per serve given; a run
    // whose act is true is ended as its health window begins.
    const auto before = [this](std::vector<std::pair<std::function<void(TestHttpServer&)>, bool>> runs) {
        return [this, runs]() -> std::shared_ptr<void> {
            if (!PlaceStandIn(InstallFolder(), L"MarRtime.exe")) return nullptr;
            for (const auto& run : runs) {
                const std::size_t windows = LogCount("watching the monitor");
                if (!run.second) {
                    if (!RunBefore(run.first)) return nullptr;
                } else {
                    TestHttpServer server("127.0.0.2");
                    run.first(server);
                    if (!server.listening() || !StartUpdator()) return nullptr;
                    if (!WaitUntil([windows] { return LogCount("watching the monitor") > windows; }, m_runLimitMs, 50)) return nullptr;
                    m_app.Terminate();
                }
                KillAll(L"MarRtime.exe");
            }
            return std::make_shared<int>(0);
        };
    };
    const auto reports = [this] {
        std::vector<std::string> r;
        for (const std::string& t : m_stats->Targets()) {
            if (t.rfind("/member/health.asp", 0) == 0) r.push_back(t);
        }
        return r;
    };
    const auto takenBack = [this, reports](const char* exitCode, bool fetchedNow) {
        return [this, reports, exitCode, fetchedNow] {
            ExpectTheReleaseBefore();
            EXPECT_EQ(reports(), std::vector<std::string>{"/member/health.asp?file=DBUpdate.ver&serial=5&exit=" + std::string(exitCode)});
            std::wstring v;
            EXPECT_TRUE(ReadHklmString((std::wstring(product::kProductKeyPathW) + L"\\Releases").c_str(), L"DBUpdate.ver.taken-back", v));
            EXPECT_EQ(v, L"5");
            EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"5") << "the kept serial stays";
            EXPECT_TRUE(Listing(InstallFolder() + kPrevious).empty()) << "no journal, no previous copy left";
            const bool fetched = std::find(m_targets.begin(), m_targets.end(), "/db/b.gdb") != m_targets.end();
            EXPECT_EQ(fetched, fetchedNow) << "the release's files fetched in this run";
        };
    };
    const auto passed = [this, reports](int version, std::size_t reported) {
        return [this, reports, version, reported] {
            for (const auto& l : kListed) {
                const std::wstring folder = l.first == "b.gdb" ? L"\\gdb\\" : l.first == "c.adb" ? L"\\adb\\" : L"\\";
                EXPECT_TRUE(ReadAll(InstallFolder() + folder + Utf16(l.first)) == l.second) << l.first;
                EXPECT_EQ(RecordedVersion(Utf16(l.first).c_str()), std::to_wstring(version)) << l.first;
            }
            EXPECT_EQ(reports().size(), reported);
            EXPECT_TRUE(Listing(InstallFolder() + kPrevious).empty()) << "the previous copies gone once it passed";
        };
    };
    Case cutTwice = Monitored({"a release whose health window never ended twice: taken back at the next start, held back", good, nullptr,
                               true, takenBack("259", false)});
    cutTwice.prepare = before({{good, true}, {good, true}});
    Case again = Monitored({"the release taken back served again: nothing of it fetched", bad, nullptr, true, takenBack("3", false)});
    again.prepare = before({{bad, false}});
    Case higher = Monitored({"a higher release after one taken back: taken, and it passes", ServeDbRelease(6, kListed.at("b.gdb")), nullptr,
                             true, passed(6, 1)});
    higher.prepare = again.prepare;
    RunAll({
        Logs(Monitored({"a DB release the monitor cannot run on: taken back whole, the monitor again, one report", bad, nullptr, true,
                        takenBack("3", true)},
                       2),
             "taking back DBUpdate.ver serial 5 (the monitor ended with exit code 3 after "),
        Logs(Monitored({"a release the monitor runs on: no report, its previous copies gone", good, nullptr, true, passed(5, 0)}),
             "the monitor ran through its health window: DBUpdate.ver serial 5 passed the health check"),
        Logs(again, "DB pass: \"DBUpdate.ver\" serial 5 is not taken: serial 5 was taken back on this machine"),
        Logs(higher, "DBUpdate.ver serial 6 passed"),
        Logs(cutTwice, "the health window of DBUpdate.ver serial 5 never ended (the machine or the updater went down in it) for the second time"),
    });
}

}  // namespace
}  // namespace fault_matrix
