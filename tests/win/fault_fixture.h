#pragma once
// The fault matrix's fixture: a product already installed before each case, a whole run of the real
// BrinsoUpdator.exe against a scripted server on 127.0.0.2, and after it the same invariants: nothing
// lost, nothing planted.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include "build_config.h"
#include "res/resource.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "support/updator_fixture.h"

namespace fault_matrix {

using namespace testing_support;

const wchar_t* const kProductKey = product::kProductKeyPathW;

// Installed before each case: name (relative to the install folder), bytes, recorded version "1".
const std::map<std::wstring, std::string> kInstalled = {
    {L"a.dll", "installed a"}, {L"gdb\\b.gdb", "installed b"}, {L"Tessvane.exe", "installed scanner"}};
// What the server lists now (version "2"), by name as listed.
const std::map<std::string, std::string> kListed = {
    {"a.dll", std::string(20000, 'A')}, {"b.gdb", std::string(9000, 'B')}, {"c.adb", "new c"}};

inline std::string DbVer(const std::string& extra = "") {
    return "SITE=127.0.0.2\r\nSUBDIR=db\r\na.dll=2\r\nb.gdb=2\r\nc.adb=2\r\n" + extra;
}

// The temp folder among them: whatever a pass downloads is gone from it when the pass ends.
const wchar_t* const kWatched[] = {L"C:", L"C:\\Program Files", L"C:\\windows", L"C:\\windows\\system32",
                                   L"C:\\windows\\Temp"};

struct Case {
    std::string name;
    std::function<void(TestHttpServer&)> serve;
    std::function<bool(HWND)> act;  // called while the dialog is up; true once it pressed stop
    bool flagWritable = true;       // the product key accepts the "Update_Flag" write
    std::function<void()> check;    // what this case must show besides the invariants
    bool productInstalled = true;   // the product's files are in the install folder
    // Before the run: makes the case's local fault and returns what undoes it as it goes out of scope;
    // nullptr when the fault did not take hold (the case then fails without a run).
    std::function<std::shared_ptr<void>()> prepare;
    DWORD endsWithinMs = 0;         // the run must end by itself this soon (0: the general limit)
    bool monitor = false;           // the monitor is installed: the closing dialog must start it
    int monitorStarts = 1;          // this often (a release taken back starts it again)
    std::string logged;             // what the run's log must say: the cause of the case's failure
};

// c with the monitor installed: the closing dialog must start it.
inline Case Monitored(Case c, int starts = 1) {
    c.monitor = true;
    c.monitorStarts = starts;
    return c;
}

// How long a process may outlive its dialog: a second, and with the monitor installed the health window
// that watches it and a moment for the reports.
inline DWORD AfterCloseMs(bool monitor) { return 1000 + (monitor ? UPDATER_HEALTH_WINDOW_S * 1000 + 1000 : 0); }

// c, which must end by itself within ms.
inline Case EndsWithin(DWORD ms, Case c) {
    c.endsWithinMs = ms;
    return c;
}

// c, whose log must name cause.
inline Case Logs(Case c, std::string cause) {
    c.logged = std::move(cause);
    return c;
}
// A failure line of the log that only sums up failures told before it.
inline bool IsSummary(const std::string& failure) {
    return failure.find("its version-info file") != std::string::npos || failure.rfind("run ended", 0) == 0 ||
           failure.find("due file(s) placed") != std::string::npos;
}

class FaultTest : public UpdatorFixture {
protected:
    void SetUp() override {
        UpdatorFixture::SetUp();
        m_stats.reset();
        if (m_withStats) m_stats = std::make_unique<TestHttpServer>("127.0.0.3");
        RemoveTree(InstallFolder());
        DeleteProductKey();
        for (const auto& f : kInstalled) {
            WriteAll(InstallFolder() + L"\\" + f.first, f.second);
            const std::wstring name = f.first.substr(f.first.rfind(L'\\') + 1);
            WriteProductValueW(name, L"1");
        }
        Rewatch();
        m_placedIn = InstallFolder();
    }
    // Runs a group: first every case's name on a line ("PLAN<tab>group<tab>name"), so that the table lists a
    // case that never reports as failed, then each case after a fresh set-up. FAULT_CASE=TEXT in the
    // environment runs only the cases whose names hold TEXT (one row while working on it).
    void RunAll(const std::vector<Case>& cases) {
        const char* only = std::getenv("FAULT_CASE");
        const auto chosen = [only](const Case& c) { return !only || c.name.find(only) != std::string::npos; };
        for (const Case& c : cases) {
            if (!chosen(c)) continue;
            std::printf("PLAN\t%s\t%s\n", ::testing::UnitTest::GetInstance()->current_test_info()->name(), c.name.c_str());
        }
        std::fflush(stdout);
        for (const Case& c : cases) {
            if (!chosen(c)) continue;
            SCOPED_TRACE(c.name);
            SetUp();
            Run(c);
        }
    }

    // Runs one case and reports it on a line of its own ("CASE<tab>group<tab>name<tab>ok|FAILED<tab>the
    // failures its log names") for the table that scripts/faults.sh makes.
    void Run(const Case& c) {
        const auto* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
        const int failuresBefore = FailedParts(*result);
        RunCase(c);
        std::string causes;
        for (const std::string& f : LoggedFailures(RunLogLines(InstallFolder()))) {
            // (the statistics report is no part of the update: these runs have no statistics server)
            if (f.rfind("the statistics report", 0) != 0) causes += (causes.empty() ? "" : " / ") + f;
        }
        std::printf("CASE\t%s\t%s\t%s\t%s\n", ::testing::UnitTest::GetInstance()->current_test_info()->name(), c.name.c_str(),
                    FailedParts(*result) == failuresBefore ? "ok" : "FAILED", causes.empty() ? "-" : causes.c_str());
        std::fflush(stdout);
    }
    static int FailedParts(const ::testing::TestResult& r) {
        int n = 0;
        for (int i = 0; i < r.total_part_count(); ++i) n += r.GetTestPartResult(i).failed();
        return n;
    }

    void RunCase(const Case& c) {
        std::shared_ptr<void> fault;
        if (c.prepare) {
            fault = c.prepare();
            ASSERT_TRUE(fault) << "the case's fault did not take hold";
        }
        if (c.monitor) ASSERT_TRUE(PlaceStandIn(InstallFolder(), L"MarRtime.exe"));
        TestHttpServer server("127.0.0.2");
        ASSERT_TRUE(server.listening());
        c.serve(server);
        const DWORD started = GetTickCount();
        HWND dlg = StartUpdator();
        ASSERT_NE(dlg, nullptr);
        DWORD stoppedAt = 0, closedAt = 0;
        while (!m_app.WaitExit(2)) {
            if (!stoppedAt && c.act && IsWindow(dlg) && c.act(dlg)) stoppedAt = GetTickCount();
            if (!closedAt && !IsWindow(dlg)) closedAt = GetTickCount();
            ASSERT_LT(GetTickCount() - started, m_runLimitMs) << "the run did not end";
        }
        // The dialog goes as the run ends; the process follows within a second (and the health window).
        if (closedAt) EXPECT_LE(GetTickCount() - closedAt, AfterCloseMs(c.monitor)) << "process ended soon after the dialog's close";
        if (c.act) {
            ASSERT_NE(stoppedAt, 0u) << "the moment to press stop never came";
            EXPECT_LE(GetTickCount() - stoppedAt, AfterCloseMs(c.monitor)) << "process ended soon after the stop";
        }
        if (c.endsWithinMs) EXPECT_LE(GetTickCount() - started, c.endsWithinMs) << "the run ended by itself in time";
        if (c.monitor) {
            EXPECT_TRUE(WaitUntil([&c] { return StartCount(InstallFolder() + L"\\MarRtime.exe") == c.monitorStarts; }, 5000))
                << "the monitor was started as the dialog closed, " << c.monitorStarts << " time(s)";
        }
        m_targets = server.Targets();
        m_requests = server.Requests();
        CheckInvariants(c);
        if (c.check) c.check();
        CheckLog(c);
    }

    // The log names what the case is about, starts the run with the program's line, and never sums up a
    // failure without the failure that caused it. A folder that cannot be written keeps no log.
    void CheckLog(const Case& c) const {
        const std::vector<std::string> lines = RunLogLines(InstallFolder());
        std::string all;
        for (const std::string& l : lines) all += l + "\n";
        if (!c.logged.empty()) EXPECT_NE(all.find(c.logged), std::string::npos) << "the log names: " << c.logged << "\n" << all;
        if (lines.empty()) return;
        // The build that ran: its version and the release keys it carries (any other build than the plain
        // one is the signed one, or a copy of it).
        const std::string keys = m_exe != UpdatorExePath() ? "release keys " + TestKeyId(0) + " " + TestKeyId(1) : "no release keys";
        EXPECT_EQ(lines.front().find("==== BrinsoUpdator 1.0.0.1 (" + keys + ") started on "), kLogTextAt) << lines.front();
        // A build without keys says on every start what that means.
        EXPECT_EQ(lines.size() > 1 && lines[1].find("this build carries no release keys: it installs whatever") == kLogTextAt,
                  m_exe == UpdatorExePath());
        // A run that logged a failure is never summed up as up to date.
        bool failedBefore = false;
        for (const std::string& l : lines) {
            const std::string text = l.size() > kLogTextAt ? l.substr(kLogTextAt) : std::string();
            if (text.rfind("==== BrinsoUpdator ", 0) == 0) failedBefore = false;  // a run of its own
            if (text.rfind("run ended: the product is up to date", 0) == 0) {
                EXPECT_FALSE(failedBefore) << "a run with failures summed up as up to date:\n" << all;
            }
            // (the statistics report is no part of the update)
            if (l.compare(kLogLevelAt, 5, "FAIL ") == 0 && text.rfind("the statistics report", 0) != 0) failedBefore = true;
        }
        bool caused = false;
        for (const std::string& f : LoggedFailures(lines)) {
            if (!IsSummary(f)) caused = true;
            EXPECT_TRUE(caused) << "a failure summed up before its cause was logged: " << f << "\n" << all;
        }
    }

    void CheckInvariants(const Case& c) {
        // No installed file deleted, truncated, or replaced by anything but the complete listed file.
        for (const auto& f : kInstalled) {
            if (!c.productInstalled) break;
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
            EXPECT_TRUE(ReadHklmString(kProductKey, product::kUpdateFlagValueW, flag));
            EXPECT_EQ(flag, L"YES");
        }
        for (const wchar_t* ours : {L"BrinsoUpdator.exe", L"BrinsoUpdatorSigned.exe"}) {
            EXPECT_TRUE(ProcessIds(ours).empty()) << "no process of ours left running";
        }
    }

    static void ExpectInstallPathKept() {
        std::wstring v;
        EXPECT_TRUE(ReadHklmString(kProductKey, product::kInstallPathValueW, v));
        EXPECT_EQ(v, InstallFolder()) << "the install folder's record was overwritten";
    }
    // A new look at the watched folders, for a case that changes one of them before its run.
    // A whole run before the case's own, against serve (act as a case's, while its dialog is up): true when
    // it ended in time.
    bool RunBefore(const std::function<void(TestHttpServer&)>& serve, const std::function<bool(HWND)>& act = nullptr) {
        TestHttpServer server("127.0.0.2");
        if (!server.listening()) return false;
        serve(server);
        const HWND dlg = StartUpdator();
        if (!dlg) return false;
        const DWORD started = GetTickCount();
        for (bool acted = false; !m_app.WaitExit(2);) {
            if (act && !acted && IsWindow(dlg)) acted = act(dlg);
            if (GetTickCount() - started > m_runLimitMs) return false;
        }
        return true;
    }
    void Rewatch() {
        for (const wchar_t* w : kWatched) m_before[w] = Listing(w);
    }

    std::map<std::wstring, std::set<std::wstring>> m_before;
    std::wstring m_placedIn;  // where the run puts the files it places
    DWORD m_runLimitMs = 90000;
    std::vector<std::string> m_targets;  // what the last run asked the server for
    std::vector<std::string> m_requests;  // and those requests whole
    bool m_withStats = false;                // each case has a statistics host of its own
    std::unique_ptr<TestHttpServer> m_stats;
};

inline HttpAnswer Ok(const std::string& body) { return HttpAnswer::Ok(body); }
inline void ServeListed(TestHttpServer& s) {
    for (const auto& l : kListed) s.Serve("/db/" + l.first, Ok(l.second));
}
inline void ServeProgramCurrent(TestHttpServer& s) { s.Serve("/marrowtide/MarrowtideWeb.ver", Ok("\r\n")); }
inline std::function<void(TestHttpServer&)> WithFile(const char* name, HttpAnswer a) {
    return [name, a](TestHttpServer& s) {
        s.Serve("/update/db/DBUpdate.ver", Ok(DbVer()));
        ServeListed(s);
        s.Serve(std::string("/db/") + name, a);
        ServeProgramCurrent(s);
    };
}
inline std::function<void(TestHttpServer&)> WithDbVer(HttpAnswer a) {
    return [a](TestHttpServer& s) {
        s.Serve("/update/db/DBUpdate.ver", a);
        ServeListed(s);
        ServeProgramCurrent(s);
    };
}
inline HttpAnswer Cut(const std::string& body, size_t sent, bool reset) {
    HttpAnswer a = Ok(body);
    a.sendBodyBytes = sent;
    a.reset = reset;
    return a;
}
inline HttpAnswer Gzip(const std::string& body) {
    HttpAnswer a = Ok(GzipStored(body));
    a.head += "\r\nContent-Encoding: gzip";
    return a;
}
inline HttpAnswer NoLength(const std::string& body) {
    HttpAnswer a = Ok(body);
    a.contentLength = false;
    return a;
}
inline HttpAnswer Stall() {
    HttpAnswer a;
    a.stall = true;
    return a;
}
inline std::string Garbage(size_t n) {
    std::string g(n, '\0');
    unsigned v = 12345;
    for (char& c : g) c = static_cast<char>((v = v * 1103515245u + 12345u) >> 16);
    return g;
}
inline std::function<bool(HWND)> StopWhen(const std::function<bool(HWND)>& when) {
    return [when](HWND dlg) {
        if (!when(dlg)) return false;
        PostMessageW(GetDlgItem(dlg, IDC_BUTTON_STOP), BM_CLICK, 0, 0);
        return true;
    };
}
inline bool StatusIs(HWND dlg, const wchar_t* text) { return ItemText(dlg, IDC_STATIC_STATUS) == text; }
inline bool StatusEndsWith(HWND dlg, const std::wstring& end) {
    const std::wstring s = ItemText(dlg, IDC_STATIC_STATUS);
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The release lines of the DB version-info file (serial 5) and the program release (serial 1), signed.
const std::string kDbReleaseLines = "#serial 5\r\n" + ReleaseLines("update/db/DBUpdate.ver");
const std::string kProgramRelease = Signed("#serial 1\r\n" + ReleaseLines("marrowtide/MarrowtideWeb.ver"), 0);

// The DB version-info file of the listed files (version 2) with their digests and sizes, the release's own
// lines (serial, path, expiry) and more lines.
inline std::string DbVerWithDigests(const std::string& releaseLines = kDbReleaseLines, const std::string& more = "") {
    std::string text = "SITE=127.0.0.2\r\nSUBDIR=db\r\n";
    for (const char* name : {"a.dll", "b.gdb", "c.adb"}) text += std::string(name) + "=2,0,0,0," + EntryChecks(kListed.at(name)) + "\r\n";
    return text + releaseLines + more;
}

// The signed DB version-info file, the listed files (a.dll's bytes as given) and the program release.
inline std::function<void(TestHttpServer&)> ServeSigned(const std::string& dbVer, const std::string& listedA = kListed.at("a.dll"),
                                                        const std::string& programVer = kProgramRelease) {
    return [dbVer, listedA, programVer](TestHttpServer& s) {
        s.Serve("/update/db/DBUpdate.ver", Ok(dbVer));
        ServeListed(s);
        s.Serve("/db/a.dll", Ok(listedA));
        s.Serve("/marrowtide/MarrowtideWeb.ver", Ok(programVer));
    };
}

// The signed DB release of serial (its files at version serial, or the version given), b.gdb's bytes as given,
// more lines signed with it; and the program release.
inline std::function<void(TestHttpServer&)> ServeDbRelease(int serial, const std::string& gdb, const std::string& more = "",
                                                           int version = 0) {
    std::map<std::string, std::string> files = kListed;
    files["b.gdb"] = gdb;
    std::string text = "SITE=127.0.0.2\r\nSUBDIR=db\r\n";
    for (const auto& f : files) text += f.first + "=" + std::to_string(version ? version : serial) + ",0,0,0," + EntryChecks(f.second) + "\r\n";
    const std::string list = Signed(text + "#serial " + std::to_string(serial) + "\r\n" + ReleaseLines("update/db/DBUpdate.ver") + more, 0);
    return [list, files](TestHttpServer& s) {
        s.Serve("/update/db/DBUpdate.ver", Ok(list));
        for (const auto& f : files) s.Serve("/db/" + f.first, Ok(f.second));
        s.Serve("/marrowtide/MarrowtideWeb.ver", Ok(kProgramRelease));
    };
}

// The serial kept for a version-info file ("<none>" for none).
inline std::wstring StoredSerial(const wchar_t* file) {
    std::wstring v;
    return ReadHklmString((std::wstring(product::kProductKeyPathW) + L"\\" + product::kReleasesSubKeyW).c_str(), file, v) ? v : L"<none>";
}

// Whether a line of the run's log holds text.
inline bool LogHolds(const std::string& text) {
    for (const std::string& line : RunLogLines(InstallFolder())) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

}  // namespace fault_matrix
