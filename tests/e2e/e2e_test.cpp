// The real BrinsoUpdator.exe, whole runs against nginx serving the sample release (tests/e2e/run.sh).
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "core/release.h"
#include "core/tlog.h"
#include "core/version_info.h"
#include "res/resource.h"
#include "support/http_server.h"
#include "support/test_log.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const wchar_t* const kProductKey = product::kProductKeyPathW;
const wchar_t* const kRunning[] = {L"Marrowtide.exe", L"Tessvane.exe", L"Quillmere.exe", L"MarRtime.exe"};

std::wstring E2eDir() {
    std::wstring p = L"Z:" + Utf16(E2E_DIR_UNIX);
    for (wchar_t& c : p) {
        if (c == L'/') c = L'\\';
    }
    return p;
}
std::wstring Release(const wchar_t* rel) { return E2eDir() + L"\\release\\" + rel; }

// A GET the reference server answered, as its log has it.
struct Served {
    std::string path;
    int status = 0;
    std::uint64_t bytes = 0;  // of the body
    std::string range;        // the Range asked for, "-" for none
};

std::vector<Served> AccessLogEntries() {
    std::vector<Served> served;
    std::istringstream in(ReadAll(E2eDir() + L"\\nginx\\access.log"));
    for (std::string line; std::getline(in, line);) {
        const size_t a = line.find("\"GET ");
        if (a == std::string::npos) continue;
        Served s;
        s.path = line.substr(a + 5, line.find(' ', a + 5) - a - 5);
        std::istringstream(line.substr(line.find('"', a + 1) + 1)) >> s.status >> s.bytes;
        const size_t last = line.rfind('"', line.size() - 2);
        s.range = line.substr(last + 1, line.size() - last - 2);
        served.push_back(s);
    }
    return served;
}

std::vector<std::string> AccessLog() {
    std::vector<std::string> paths;
    for (const Served& s : AccessLogEntries()) paths.push_back(s.path);
    return paths;
}

// Code page 949 text (as version-info files hold it) as UTF-16.
std::wstring Cp949(const std::string& bytes) {
    std::wstring out(bytes.size() + 1, L'\0');
    out.resize(static_cast<size_t>(MultiByteToWideChar(949, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0],
                                                       static_cast<int>(out.size()))));
    return out;
}

// Entries of a release version-info file: name and version text.
std::vector<std::pair<std::string, std::string>> Entries(const std::wstring& verFile) {
    std::vector<std::pair<std::string, std::string>> out;
    const std::string bytes = ReadAll(verFile);
    core::ForEachLine(bytes.data(), bytes.size(), [&](const std::string& line) {
        const core::ClassifiedLine c = core::ClassifyLine(line);
        if (c.kind == core::LineKind::Entry) out.emplace_back(c.key, core::ParseEntryFields(c.value).version);
    });
    return out;
}

// What the dialog showed during a run, polled as a user would see it.
struct Watch {
    std::set<std::wstring> statuses;
    std::set<std::wstring> counters;
    DWORD exitedAt = 0, lastStatusChange = 0;
    bool closedByItself = false;
    std::string log;  // what the run wrote to its log
};

// This run's part of the log (from its first line on): printed with the test's output, for the reader.
std::string LogOfLastRun() {
    const std::vector<std::string> lines = RunLogLines(InstallFolder());
    std::size_t first = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("==== BrinsoUpdator ") == kLogTextAt) first = i;
    }
    std::string text;
    for (std::size_t i = first; i < lines.size(); ++i) text += lines[i] + "\n";
    std::printf("The run's log:\n%s", text.c_str());
    return text;
}

bool Says(const Watch& w, const std::string& what) { return w.log.find(what) != std::string::npos; }

// The by-hash name of a file of the release (the 64 hexadecimal digits of its SHA-256, in by-hash/SHA256/).
std::string ByHashOf(const wchar_t* releaseFile) { return "by-hash/SHA256/" + EntryChecks(ReadAll(Release(releaseFile))).substr(7, 64); }

// The requests for listed files in log entries [from, end): each asked by its by-hash name?
std::vector<std::string> PlainNamesAsked(const std::vector<std::string>& log, std::size_t from) {
    std::vector<std::string> plain;
    for (std::size_t i = from; i < log.size(); ++i) {
        const std::string& p = log[i];
        if (p.find("/by-hash/SHA256/") == std::string::npos && p.compare(p.size() - 4, 4, ".ver") != 0) plain.push_back(p);
    }
    return plain;
}

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        CleanProductPrograms();
        RemoveTree(InstallFolder());
        DeleteProductKey();
        m_stats = std::make_unique<TestHttpServer>("127.0.0.3");
        ASSERT_TRUE(m_stats->listening());
    }
    void TearDown() override {
        m_app.Terminate();
        CleanProductPrograms();
    }

    // Another machine: nothing of the product's yet but its running programs.
    void AnotherMachine() {
        m_app.Terminate();
        m_programs.clear();
        CleanProductPrograms();
        RemoveTree(InstallFolder());
        DeleteProductKey();
        InstallRunningProduct();
    }

    std::wstring m_exe = SignedUpdatorExePath();

    void InstallRunningProduct() {
        for (const wchar_t* p : kRunning) {
            ASSERT_TRUE(PlaceStandIn(InstallFolder(), p));
            m_programs.emplace_back(InstallFolder() + L"\\" + p, L"");
        }
        for (const wchar_t* p : kRunning) {
            ASSERT_TRUE(WaitUntil([&] { return StartCount(InstallFolder() + L"\\" + p) == 1; }, 5000));
        }
    }

    // Starts the updater and watches its dialog until the process ends. onPoll may act (press stop).
    Watch RunAndWatch(const wchar_t* shotPrefix, const std::function<bool(HWND)>& onPoll = nullptr) {
        Watch w;
        m_app = ChildProcess(m_exe, L"");  // built with the key the release is signed with
        HWND dlg = WaitForTopWindow(m_app.pid(), L"BrinsoUpdator", 15000);
        EXPECT_NE(dlg, nullptr);
        bool shotStatus = false, shotDownload = false;
        std::wstring last;
        while (dlg && !m_app.WaitExit(2)) {
            if (!IsWindow(dlg)) continue;
            const std::wstring status = ItemText(dlg, IDC_STATIC_STATUS);
            if (status != last) {
                w.lastStatusChange = GetTickCount();
                last = status;
            }
            w.statuses.insert(status);
            w.counters.insert(ItemText(dlg, IDC_STATIC_COUNT));
            RECT rc;
            GetWindowRect(dlg, &rc);
            if (!shotStatus && !status.empty()) {
                shotStatus = ScreenCapture(rc).SaveBmp(ScreenshotPath(std::wstring(shotPrefix) + L"-first-status.bmp"));
            }
            const LRESULT pos = SendMessageW(GetDlgItem(dlg, IDC_PROGRESS_FILE), PBM_GETPOS, 0, 0);
            if (!shotDownload && ItemText(dlg, IDC_STATIC_COUNT) == L"1/4" && pos > 20 && pos < 90) {
                shotDownload = ScreenCapture(rc).SaveBmp(ScreenshotPath(std::wstring(shotPrefix) + L"-mid-download.bmp"));
            }
            if (onPoll && onPoll(dlg)) break;
        }
        EXPECT_TRUE(m_app.WaitExit(15000));
        w.exitedAt = GetTickCount();
        w.log = LogOfLastRun();
        return w;
    }

    std::unique_ptr<TestHttpServer> m_stats;
    std::vector<ChildProcess> m_programs;
    ChildProcess m_app;
};

// A run after which the release served is installed: every listed file byte for byte and recorded.
void ExpectReleaseInstalled(const Watch& w) {
    EXPECT_FALSE(Says(w, " FAIL ")) << w.log;
    EXPECT_TRUE(Says(w, "run ended: the product is up to date")) << w.log;
    const struct {
        const wchar_t* ver;
        const wchar_t* releaseFolder;
        bool byExtension;
    } lists[] = {{L"update\\db\\DBUpdate.ver", L"엔진DB\\", true}, {L"marrowtide\\MarrowtideWeb.ver", L"marrowtide\\", false}};
    for (const auto& list : lists) {
        for (const auto& e : Entries(Release(list.ver))) {
            const std::wstring name = Cp949(e.first);
            SCOPED_TRACE(Utf8(name));
            std::wstring sub;
            if (list.byExtension && name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".gdb") == 0) sub = L"gdb\\";
            if (list.byExtension && name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".adb") == 0) sub = L"adb\\";
            // Placed byte for byte; the running programs among them were stopped first, or this would fail.
            EXPECT_TRUE(ReadAll(InstallFolder() + L"\\" + sub + name) == ReadAll(Release((std::wstring(list.releaseFolder) + name).c_str())));
            std::wstring recorded;
            EXPECT_TRUE(ReadHklmString(kProductKey, name.c_str(), recorded));
            EXPECT_EQ(recorded, Cp949(e.second));
        }
    }
}

// A first run that placed the whole release: every listed file byte for byte and recorded, the running
// programs stopped, the flag written, the monitor restarted.
void ExpectEverythingPlaced(const Watch& first, const std::vector<ChildProcess>& programs) {
    EXPECT_LT(first.exitedAt - first.lastStatusChange, 5000u) << "closed within seconds of the last step";
    EXPECT_TRUE(first.statuses.count(L"최종 패치된 DB 파일을 다운로드 중입니다.."));
    EXPECT_TRUE(first.statuses.count(L"최종 패치된 파일을 다운로드 중입니다.."));
    EXPECT_TRUE(first.counters.count(L"1/5") && first.counters.count(L"5/5") && first.counters.count(L"6/6"));
    EXPECT_TRUE(Says(first, "placed 엔진정보.dat as C:\\Program Files\\Marrowtide\\엔진정보.dat")) << first.log;
    ExpectReleaseInstalled(first);
    for (const ChildProcess& p : programs) EXPECT_FALSE(p.Running());
    std::wstring flag;
    EXPECT_TRUE(ReadHklmString(kProductKey, product::kUpdateFlagValueW, flag));
    EXPECT_EQ(flag, L"YES");
    EXPECT_TRUE(WaitUntil([] { return StartCount(InstallFolder() + L"\\MarRtime.exe") == 2; }, 5000)) << "monitor restarted";
}

// Also run under a Western code page (EXPECT_ACP=1252): the Korean folder and file of the release are asked
// for by the same bytes.
TEST_F(E2eTest, FirstRunPlacesEverythingTheSecondFindsItCurrent) {
    if (const char* acp = std::getenv("EXPECT_ACP")) ASSERT_EQ(GetACP(), std::strtoul(acp, nullptr, 10));
    InstallRunningProduct();
    const size_t logBefore = AccessLog().size();
    const Watch first = RunAndWatch(L"e2e-run1");
    ExpectEverythingPlaced(first, m_programs);
    EXPECT_TRUE(WaitUntil([] { return ReadAll(InstallFolder() + L"\\MarwShell.dll.log").find("registered") != std::string::npos; }, 10000));
    wchar_t programs[MAX_PATH];
    SHGetSpecialFolderPathW(nullptr, programs, CSIDL_COMMON_PROGRAMS, FALSE);
    EXPECT_NE(GetFileAttributesW((std::wstring(programs) + L"\\Marrowtide\\Marrowtide 실행.lnk").c_str()), INVALID_FILE_ATTRIBUTES);
    std::wstring serial;
    EXPECT_TRUE(ReadHklmString((std::wstring(product::kProductKeyPathW) + L"\\" + product::kReleasesSubKeyW).c_str(), L"DBUpdate.ver", serial));
    const std::string published = ReadAll(Release(L"update\\db\\DBUpdate.ver"));
    std::uint64_t publishedSerial = 0;
    EXPECT_TRUE(core::FindSerial(published.substr(0, published.find("#signature ")), publishedSerial));
    EXPECT_EQ(serial, Utf16(std::to_string(publishedSerial))) << "the release's serial kept";
    std::wstring uninstall;
    EXPECT_TRUE(ReadHklmString(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Marrowtide UnInstall",
                               L"UninstallString", uninstall));
    const auto log = AccessLog();
    EXPECT_EQ(log.size() - logBefore, 2u + 5u + 6u);
    // Every listed file by its by-hash name, in "엔진DB/" as its code page 949 bytes, percent-encoded.
    EXPECT_EQ(PlainNamesAsked(log, logBefore), std::vector<std::string>{});
    EXPECT_NE(std::find(log.begin(), log.end(), "/%BF%A3%C1%F8DB/" + ByHashOf(L"엔진DB\\엔진정보.dat")), log.end());

    KillAll(L"MarRtime.exe");
    const size_t logMiddle = AccessLog().size();
    const Watch second = RunAndWatch(L"e2e-run2");
    const auto later = AccessLog();
    EXPECT_EQ(std::vector<std::string>(later.begin() + logMiddle, later.end()),
              (std::vector<std::string>{"/update/db/DBUpdate.ver", "/marrowtide/MarrowtideWeb.ver"}));
    EXPECT_FALSE(second.statuses.count(L"최종 패치된 DB 파일을 다운로드 중입니다.."));
    EXPECT_TRUE(Says(second, "DB pass ended: nothing to update") && Says(second, "program pass ended: nothing to update"))
        << second.log;
    // The links the first run wrote are what this one would write: left as they are.
    EXPECT_TRUE(Says(second, "\\Marrowtide.Lnk is current") && Says(second, "\\Marrowtide 실행.lnk is current")) << second.log;
    EXPECT_EQ(m_stats->Requests().size(), 2u) << "one statistics report per start";
}

// The main database (1.25 MiB, with its gzip copy and its block map beside it) installed in an older form:
// only the blocks it lacks are asked for, several ranges in one request, and nginx answers them in one
// multipart/byteranges body of the file itself.
// The program built with the vendor's log takes the release the tool logged and the witness cosigned: the
// tool's OpenSSL signatures and tiles are the updater's CNG and proofs' too.
TEST_F(E2eTest, TheProgramBuiltWithTheLogTakesTheReleaseTheWitnessCosigned) {
    InstallRunningProduct();
    m_exe = LoggedUpdatorExePath();
    const size_t logBefore = AccessLog().size();
    ExpectEverythingPlaced(RunAndWatch(L"e2e-logged"), m_programs);
    core::tlog::Note note;
    core::tlog::Checkpoint checkpoint;
    ASSERT_TRUE(core::tlog::ParseNote(ReadAll(Release(L"log\\checkpoint")), note) && core::tlog::ParseCheckpoint(note.text, checkpoint));
    EXPECT_EQ(checkpoint.origin, kTestLogOrigin);
    std::wstring kept;
    EXPECT_TRUE(ReadHklmString((std::wstring(product::kProductKeyPathW) + L"\\" + product::kReleasesSubKeyW).c_str(), L"log.size", kept));
    EXPECT_EQ(kept, std::to_wstring(checkpoint.size)) << "the checkpoint accepted is kept";
    const auto log = AccessLog();
    EXPECT_EQ(std::count(log.begin() + static_cast<std::ptrdiff_t>(logBefore), log.end(), "/log/checkpoint"), 2) << "once for each version-info file";
}

TEST_F(E2eTest, AnOlderDatabaseComesByBlocksSeveralRangesInOneRequest) {
    const std::string published = ReadAll(Release(L"엔진DB\\MarwMain.gdb"));
    ASSERT_GE(published.size(), 1u << 20);
    ASSERT_FALSE(ReadAll(Release(L"엔진DB\\MarwMain.gdb.blocks")).empty()) << "the tool wrote its block map";
    ASSERT_FALSE(ReadAll(Release(L"엔진DB\\MarwMain.gdb.gz")).empty()) << "and its gzip copy";
    std::string older = published;  // three stretches changed, 1000 bytes in, 500 out
    for (size_t at : {100000u, 600000u, 1100000u}) older.replace(at, 4096, std::string(4096, 'x'));
    older.insert(350000, std::string(1000, 'i'));
    older.erase(850000, 500);
    CreateDirectoryW(InstallFolder().c_str(), nullptr);
    CreateDirectoryW((InstallFolder() + L"\\gdb").c_str(), nullptr);
    WriteAll(InstallFolder() + L"\\gdb\\MarwMain.gdb", older);
    const size_t logBefore = AccessLogEntries().size();
    const Watch w = RunAndWatch(L"e2e-blocks");
    EXPECT_TRUE(ReadAll(InstallFolder() + L"\\gdb\\MarwMain.gdb") == published) << "placed byte for byte";
    EXPECT_FALSE(Says(w, " FAIL ")) << w.log;
    EXPECT_TRUE(Says(w, "MarwMain.gdb came by blocks: ") && Says(w, " in 1 request(s)")) << w.log;
    const std::vector<Served> log = AccessLogEntries();
    std::vector<Served> main;
    const std::string byHash = ByHashOf(L"엔진DB\\MarwMain.gdb");
    for (size_t i = logBefore; i < log.size(); ++i) {
        if (log[i].path.find(byHash) != std::string::npos) main.push_back(log[i]);
    }
    ASSERT_EQ(main.size(), 2u) << "the map, then one request of ranges, both of the by-hash name";
    EXPECT_EQ(main[0].path.substr(main[0].path.size() - 71), byHash.substr(15) + ".blocks");
    EXPECT_EQ(main[1].status, 206);
    EXPECT_GE(std::count(main[1].range.begin(), main[1].range.end(), ','), 2) << main[1].range;
    EXPECT_LE(main[0].bytes + main[1].bytes, published.size() / 20) << "at most 5 % of the file on the wire, the map included";
    std::printf("MarwMain.gdb: a %llu-byte map and %llu bytes of ranges (%s) for %zu\n", static_cast<unsigned long long>(main[0].bytes),
                static_cast<unsigned long long>(main[1].bytes), main[1].range.c_str(), published.size());
}

// A server without by-hash names (an older publish, a mirror copied without them): the plain names after a 404.
TEST_F(E2eTest, WithoutByHashNamesThePlainNamesAfterA404) {
    const std::wstring folders[] = {Release(L"엔진DB\\by-hash"), Release(L"marrowtide\\by-hash")};
    for (const std::wstring& f : folders) ASSERT_TRUE(MoveFileW(f.c_str(), (f + L"-away").c_str()));
    const size_t logBefore = AccessLog().size();
    const Watch w = RunAndWatch(L"e2e-plain");
    for (const std::wstring& f : folders) MoveFileW((f + L"-away").c_str(), f.c_str());
    ExpectReleaseInstalled(w);
    EXPECT_TRUE(Says(w, "the server answered HTTP 404 instead of 200 OK; asking for its plain name")) << w.log;
    EXPECT_EQ(PlainNamesAsked(AccessLog(), logBefore).size(), 5u + 6u) << "each listed file by its plain name";
}

TEST_F(E2eTest, StopDuringASlowDownloadClosesAtOnceAndPlacesNothing) {
    // A large first file: paced at 4096 bytes per 10 ms it takes seconds.
    const std::wstring ver = Release(L"update\\db\\DBUpdate.ver");
    const std::string original = ReadAll(ver);
    const std::string slow(3 * 1024 * 1024, 's');
    WriteAll(Release(L"update\\db\\Slow.gdb"), slow);
    WriteAll(Release(L"update\\db\\After.dat"), "after");
    WriteAll(ver, Signed("SUBDIR=update/db/\r\nSlow.gdb=1,0,0,0," + EntryChecks(slow) + "\r\nAfter.dat=1,0,0,0," +
                             EntryChecks("after") + "\r\n#serial 1\r\n" + ReleaseLines("update/db/DBUpdate.ver"), 0));
    ASSERT_TRUE(PlaceStandIn(InstallFolder(), L"MarRtime.exe"));  // the monitor's file, not running
    DWORD clicked = 0, hidden = 0;
    const Watch w = RunAndWatch(L"e2e-stop", [&](HWND dlg) {
        if (!clicked && ItemText(dlg, IDC_STATIC_FILE) == L"다운로드 DB파일 : Slow.gdb" &&
            SendMessageW(GetDlgItem(dlg, IDC_PROGRESS_FILE), PBM_GETPOS, 0, 0) >= 5) {
            clicked = GetTickCount();
            PostMessageW(GetDlgItem(dlg, IDC_BUTTON_STOP), BM_CLICK, 0, 0);
        }
        if (clicked && !hidden && !IsWindowVisible(dlg)) hidden = GetTickCount();
        return false;
    });
    WriteAll(ver, original);
    ASSERT_NE(clicked, 0u) << "the slow download was never seen";
    EXPECT_NE(hidden, 0u);
    EXPECT_LE(hidden - clicked, 500u) << "the window closes at once";
    EXPECT_LE(GetTickCount() - clicked, 3000u);
    EXPECT_EQ(GetFileAttributesW((InstallFolder() + L"\\gdb\\Slow.gdb").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((InstallFolder() + L"\\After.dat").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(Says(w, "stop asked: the dialog is closing") && Says(w, "run ended: stopped")) << w.log;
    EXPECT_FALSE(Says(w, " FAIL ")) << w.log;
    std::wstring flag;
    EXPECT_TRUE(ReadHklmString(kProductKey, product::kUpdateFlagValueW, flag));
    EXPECT_EQ(flag, L"YES");
    EXPECT_TRUE(WaitUntil([] { return StartCount(InstallFolder() + L"\\MarRtime.exe") == 1; }, 5000)) << "monitor started";
}

TEST_F(E2eTest, AnUnreachableVersionInfoFileClosesTheDialogWithNothingPlaced) {
    const std::wstring ver = Release(L"update\\db\\DBUpdate.ver");
    const std::string original = ReadAll(ver);
    DeleteFileW(ver.c_str());  // the server answers 404
    const Watch w = RunAndWatch(L"e2e-unreachable");
    WriteAll(ver, original);
    EXPECT_TRUE(w.statuses.count(L"DB 정보 파일을 다운로드받고 있습니다.."));
    EXPECT_TRUE(Says(w, "/update/db/DBUpdate.ver failed after ") && Says(w, "the server answered HTTP 404 instead of 200 OK"))
        << w.log;
    std::wstring flag;
    EXPECT_TRUE(ReadHklmString(kProductKey, product::kUpdateFlagValueW, flag));
    EXPECT_EQ(flag, L"YES");
    EXPECT_EQ(GetFileAttributesW((InstallFolder() + L"\\gdb").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((InstallFolder() + L"\\Marrowtide.exe").c_str()), INVALID_FILE_ATTRIBUTES);
}

// What stands between customers and the vendor (tests/e2e/run.sh with E2E_TIER).
using Delivery = E2eTest;

// The proxy Windows' Internet settings name, for this user, as a company sets it.
class InternetSettingsProxy {
public:
    explicit InternetSettingsProxy(const wchar_t* server) {
        RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &m_key, nullptr);
        const DWORD on = 1;
        RegSetValueExW(m_key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
        RegSetValueExW(m_key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server),
                       static_cast<DWORD>((wcslen(server) + 1) * sizeof(wchar_t)));
    }
    ~InternetSettingsProxy() {
        RegDeleteValueW(m_key, L"ProxyEnable");
        RegDeleteValueW(m_key, L"ProxyServer");
        RegCloseKey(m_key);
    }
    InternetSettingsProxy(const InternetSettingsProxy&) = delete;
    InternetSettingsProxy& operator=(const InternetSettingsProxy&) = delete;

private:
    static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    HKEY m_key = nullptr;
};

// The update host has no server of its own: only the proxy reaches the release.
TEST_F(Delivery, ThroughTheProxyOfTheInternetSettings) {
    const char* proxyLog = std::getenv("E2E_PROXY_LOG");
    ASSERT_NE(proxyLog, nullptr) << "run by tests/e2e/run.sh with E2E_TIER=proxy";
    std::wstring log = L"Z:" + Utf16(proxyLog);
    std::replace(log.begin(), log.end(), L'/', L'\\');
    const auto throughTheProxy = [log] {
        std::istringstream in(ReadAll(log));
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line.find(" GET http://127.0.0.2/") != std::string::npos;
        return n;
    };
    const int before = throughTheProxy();
    const InternetSettingsProxy proxy(L"127.0.0.5:3129");
    InstallRunningProduct();
    const Watch w = RunAndWatch(L"e2e-proxy");
    ExpectEverythingPlaced(w, m_programs);
    EXPECT_EQ(throughTheProxy() - before, 2 + 5 + 6) << "every request through the proxy";
    EXPECT_EQ(AccessLog().size(), 2u + 5u + 6u) << "and each reached the update server";
}

// A cache in front of the update server: the next machine's run finds the listed files there, the two
// version-info files never.
TEST_F(Delivery, ThroughACacheTheNextMachineGetsTheListedFilesFromIt) {
    InstallRunningProduct();
    const Watch first = RunAndWatch(L"e2e-cache1");
    ExpectEverythingPlaced(first, m_programs);
    AnotherMachine();
    const size_t before = AccessLog().size();
    const Watch next = RunAndWatch(L"e2e-cache2");
    ExpectEverythingPlaced(next, m_programs);
    const auto log = AccessLog();
    EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<std::ptrdiff_t>(before), log.end()),
              (std::vector<std::string>{"/update/db/DBUpdate.ver", "/marrowtide/MarrowtideWeb.ver"}))
        << "the update server asked only for the version-info files";

    // The second release is published (tests/e2e/run.sh made it beside the first): this machine's next run,
    // the first after the publish, finds it through the cache at once. The origin is asked for what changed,
    // by its by-hash names; the cache keeps the first release's names and serves the unchanged files.
    const std::wstring firstRelease = E2eDir() + L"\\release-first", second = E2eDir() + L"\\release2";
    ASSERT_TRUE(MoveFileW(Release(L"").substr(0, Release(L"").size() - 1).c_str(), firstRelease.c_str()));
    ASSERT_TRUE(MoveFileW(second.c_str(), Release(L"").substr(0, Release(L"").size() - 1).c_str()));
    KillAll(L"MarRtime.exe");
    const size_t published = AccessLog().size();
    const Watch update = RunAndWatch(L"e2e-cache3");
    ExpectReleaseInstalled(update);
    const auto afterUpdate = AccessLog();
    EXPECT_EQ(PlainNamesAsked(afterUpdate, published), std::vector<std::string>{});
    EXPECT_EQ(afterUpdate.size() - published, 2u + 2u + 1u) << "the version-info files, MarwMain.gdb's map and ranges, Tessvane.exe";

    // An edge that still serves the first release under the plain names, with the second release's
    // version-info files: a new machine places the second release all the same.
    std::vector<std::wstring> replaced;
    for (const wchar_t* stale : {L"엔진DB\\MarwMain.gdb", L"엔진DB\\MarwMain.gdb.gz", L"엔진DB\\MarwMain.gdb.blocks",
                                 L"marrowtide\\Tessvane.exe", L"marrowtide\\Tessvane.exe.gz"}) {
        const std::wstring now = Release(stale), old = firstRelease + (now.c_str() + Release(L"").size() - 1);
        if (GetFileAttributesW(old.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        // Moved aside and a new file made, never written over: the plain name is one inode with the second
        // release's by-hash name.
        ASSERT_TRUE(MoveFileW(now.c_str(), (now + L".second").c_str()));
        ASSERT_TRUE(CopyFileW(old.c_str(), now.c_str(), TRUE));
        replaced.push_back(now);
    }
    ASSERT_EQ(replaced.size(), 5u);
    AnotherMachine();
    const Watch stale = RunAndWatch(L"e2e-cache4");
    for (const std::wstring& now : replaced) {
        DeleteFileW(now.c_str());
        MoveFileW((now + L".second").c_str(), now.c_str());
    }
    ExpectReleaseInstalled(stale);
    EXPECT_EQ(PlainNamesAsked(AccessLog(), afterUpdate.size()), std::vector<std::string>{});
}

}  // namespace
