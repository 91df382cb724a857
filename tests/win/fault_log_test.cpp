// The vendor's transparency log as machines meet it: whole runs of the real BrinsoUpdator.exe built with the
// log's origin and one witness needed, against releases in the log and out of it, forks, older logs, too
// few witnesses and damaged or stale tiles.
#include "fault_fixture.h"
#include "support/test_log.h"

#include "core/tlog.h"
#include "net/download.h"

namespace fault_matrix {
namespace {

const char kDbPath[] = "update/db/DBUpdate.ver", kProgramPath[] = "marrowtide/MarrowtideWeb.ver";

// A release of both files in the log at first and first + 1 (other entries before them), as the tool
// publishes it.
struct LoggedRelease {
    std::string dbVer, programVer;
    std::vector<std::string> entries;
    explicit LoggedRelease(const std::string& gdb = kListed.at("b.gdb"), int first = 0) {
        std::string text = "SITE=127.0.0.2\r\nSUBDIR=db\r\n";
        for (const auto& l : kListed) text += l.first + "=5,0,0,0," + EntryChecks(l.first == "b.gdb" ? gdb : l.second) + "\r\n";
        dbVer = Signed(text + "#serial 5\r\n" + ReleaseLines(kDbPath) + "#log-index " + std::to_string(first) + "\r\n", 0);
        programVer = Signed("#serial 1\r\n" + ReleaseLines(kProgramPath) + "#log-index " + std::to_string(first + 1) + "\r\n", 0);
        for (int i = 0; i < first; ++i) entries.push_back("update/earlier.ver " + std::to_string(i) + "\n");
        entries.push_back(LogEntry(kDbPath, dbVer));
        entries.push_back(LogEntry(kProgramPath, programVer));
    }
    std::function<void(TestHttpServer&)> Serve(std::map<std::string, std::string> log, std::string gdb = kListed.at("b.gdb")) const {
        return [=](TestHttpServer& s) {
            s.Serve("/update/db/DBUpdate.ver", Ok(dbVer));
            for (const auto& l : kListed) s.Serve("/db/" + l.first, Ok(l.first == "b.gdb" ? gdb : l.second));
            s.Serve("/marrowtide/MarrowtideWeb.ver", Ok(programVer));
            for (const auto& f : log) s.Serve(f.first, Ok(f.second));
        };
    }
};

std::wstring Kept(const wchar_t* name) {
    std::wstring v;
    return ReadHklmString((std::wstring(product::kProductKeyPathW) + L"\\" + product::kReleasesSubKeyW).c_str(), name, v) ? v : L"<none>";
}

// A checkpoint this machine kept from an earlier run: size entries with root.
std::function<std::shared_ptr<void>()> KeptCheckpoint(std::uint64_t size, const std::string& rootOfEntries = "") {
    return [size, rootOfEntries]() -> std::shared_ptr<void> {
        std::string root(32, 'r');
        if (!rootOfEntries.empty()) {
            const std::string note = rootOfEntries.substr(0, rootOfEntries.find("\n\n") + 1);
            core::tlog::Checkpoint c;
            if (!core::tlog::ParseCheckpoint(note, c)) return nullptr;
            root.assign(c.root.begin(), c.root.end());
        }
        HKEY key = nullptr;
        const std::wstring path = std::wstring(product::kProductKeyPathW) + L"\\" + product::kReleasesSubKeyW;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0) return nullptr;
        const std::wstring sizeText = std::to_wstring(size), rootText = Utf16(core::EncodeBase64(root));
        const bool set = RegSetValueExW(key, L"log.size", 0, REG_SZ, reinterpret_cast<const BYTE*>(sizeText.c_str()), static_cast<DWORD>((sizeText.size() + 1) * 2)) == 0 &&
                         RegSetValueExW(key, L"log.root", 0, REG_SZ, reinterpret_cast<const BYTE*>(rootText.c_str()), static_cast<DWORD>((rootText.size() + 1) * 2)) == 0;
        RegCloseKey(key);
        return set ? Undo([] {}) : nullptr;
    };
}

TEST_F(FaultTest, TransparencyLog) {
    m_exe = LoggedUpdatorExePath();
    const LoggedRelease release;
    const auto log = LogFiles(release.entries, 0, {2});
    const auto installed = [](std::uint64_t size) {
        return [size] {
            EXPECT_EQ(RecordedVersion(L"b.gdb"), L"5");
            EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"5");
            EXPECT_EQ(Kept(L"log.size"), std::to_wstring(size)) << "the checkpoint accepted is kept";
        };
    };
    const auto refused = [] {
        EXPECT_EQ(RecordedVersion(L"b.gdb"), L"1");
        EXPECT_EQ(StoredSerial(L"DBUpdate.ver"), L"<none>") << "nothing of a release the log does not show is kept";
    };
    // Not in the log: a validly signed list whose bytes no entry names (the log holds another build of it).
    const LoggedRelease other("another build of b");
    auto notInLog = log;
    notInLog = LogFiles({other.entries[0], release.entries[1]}, 0, {2});
    auto damaged = log;
    damaged["/log/tile/0/000.p/2"][5] ^= 1;
    // A larger log (10 entries) served by a cache whose level-0 tile is of the 2-entry log: its name is the
    // new width's, its bytes the old.
    LoggedRelease grown = release;
    for (char i = 0; i < 8; ++i) grown.entries.push_back("update/other.ver " + std::string(64, static_cast<char>('0' + i)) + "\n");
    const auto grownLog = LogFiles(grown.entries, 0, {2});
    auto stale = grownLog;
    stale["/log/tile/0/000.p/10"] = log.at("/log/tile/0/000.p/2");
    // A server trickling each tile, every one of them within a fetch's own bounds (a 300-entry log: leaf 0's
    // proof needs two tiles, 3/4 and 1/2 of the slow-server span): the check of each file ends within one span.
    LoggedRelease big = release;
    for (int i = 2; i < 300; ++i) big.entries.push_back("update/other.ver " + std::to_string(i) + "\n");
    const auto bigLog = LogFiles(big.entries, 0, {2});
    const auto slowTiles = [serve = big.Serve(bigLog), bigLog](TestHttpServer& s) {
        serve(s);
        HttpAnswer full = Ok(bigLog.at("/log/tile/0/000")), partial = Ok(bigLog.at("/log/tile/0/001.p/44"));
        // Small pieces, a pause after each but the last: a download given up hears of it within a pause.
        full.piece = 256;
        full.delayPerKiB = kSlowServerMs * 3 / 4 / 31;
        partial.piece = 32;
        partial.delayPerKiB = kSlowServerMs / 2 / 43;
        s.Serve("/log/tile/0/000", full);
        s.Serve("/log/tile/0/001.p/44", partial);
    };
    // A larger log whose first two entries are not those of the log kept: the release is in it, the log forked.
    const LoggedRelease forked(kListed.at("b.gdb"), 2);
    RunAll({
        {"a release in the log is installed", release.Serve(log), nullptr, true, installed(2)},
        Logs({"a validly signed release not in the log is refused", release.Serve(notInLog), nullptr, true, refused},
             "it is not in the vendor's log (the log's entry 0 is another file's)"),
        Logs({"a fork of the same size, another root, is refused", release.Serve(log), nullptr, true, refused, true, KeptCheckpoint(2)},
             "the vendor's log is not the one this machine saw before (a fork) (2 entries, 2 kept, another root)"),
        Logs({"an older checkpoint than the one kept is refused", release.Serve(log), nullptr, true, refused, true, KeptCheckpoint(3)},
             "the vendor's log is older than the one this machine saw before (2 entries, 3 kept)"),
        Logs({"too few witnesses cosigned", release.Serve(LogFiles(release.entries, 0, {})), nullptr, true, refused},
             "too few witnesses cosigned the vendor's log (0 of the 1 witnesses needed cosigned it)"),
        Logs({"a checkpoint signed by a key the program does not carry", release.Serve(LogFiles(release.entries, 2, {2})), nullptr, true, refused},
             "the vendor's log cannot be trusted (its checkpoint is not signed by a release key this program carries)"),
        Logs({"damaged tiles are refused", release.Serve(damaged), nullptr, true, refused}, "the vendor's log's tiles are damaged (its tiles do not give the checkpoint's root)"),
        {"a log grown from the one kept: the consistency proof holds", grown.Serve(grownLog), nullptr, true, installed(10), true,
         KeptCheckpoint(2, log.at("/log/checkpoint"))},
        Logs({"a larger log that does not grow from the one kept is a fork", forked.Serve(LogFiles(forked.entries, 0, {2})), nullptr, true,
              refused, true, KeptCheckpoint(2, log.at("/log/checkpoint"))},
             "(a fork) (4 entries, 2 kept: it does not grow from the one kept)"),
        Logs({"a cache serves a tile of the older size under the new name: refused, and why", grown.Serve(stale), nullptr, true, refused, true,
              KeptCheckpoint(2, log.at("/log/checkpoint"))},
             "the vendor's log's tiles are damaged (tile/0/000.p/10 holds 64 bytes, 320 were due)"),
        EndsWithin(2 * kSlowServerMs + 15000,
                   Logs({"a server trickling the tiles holds each file's check one span", slowTiles, nullptr, true, refused},
                        "the vendor's log's tiles are damaged (tile/0/001.p/44 could not be fetched)")),
    });
}

}  // namespace
}  // namespace fault_matrix
