// One file's attempts in process, against scripted servers on loopback: each host in turn, by blocks from an
// installed copy, downloads given up by their watch; and the file pieces they stand on.
#include <gtest/gtest.h>
#include <windows.h>

#include <random>

#include "core/block_map.h"
#include "framework/cng.h"
#include "framework/file.h"
#include "framework/win_text.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "update/file_fetch.h"

using namespace testing_support;

namespace {

const char kSite[] = "127.0.0.24";
const char kMirror[] = "127.0.0.25";

// What the fetch told, in the words a test compares.
struct Told : IRunEvents {
    std::vector<std::string> asked;  // the URLs downloads started with
    std::vector<BlocksUnused> notByBlocks;
    int byBlocks = 0;
    std::int64_t waited = 0;
    void DownloadStarted(const std::string& url) override { asked.push_back(url); }
    void NotByBlocks(const CString&, BlocksUnused why) override { notByBlocks.push_back(why); }
    void CameByBlocks(const CString&, std::uint64_t, std::uint64_t, std::size_t) override { ++byBlocks; }
    void CameAfterWaits(const std::string&, std::int64_t w, unsigned long) override { waited = w; }
};

// A fresh folder of the test's own in the temp folder, gone with the scope.
struct Scratch {
    std::wstring folder;
    explicit Scratch(const wchar_t* name) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder = std::wstring(temp) + name;
        RemoveTree(folder);
        EnsureFolder(folder + L"\\own");
    }
    ~Scratch() { RemoveTree(folder); }
    CString Own() const { return CString(Utf8(folder + L"\\own")); }
    CString Local() const { return CString(Utf8(folder + L"\\file.dat")); }
};

// One fetch with its own downloads, stop and listeners.
struct Fetcher {
    std::shared_ptr<Told> told = std::make_shared<Told>();
    CStopSignal stop;
    CWatchedDownloads downloads{told, stop};
    CFileFetch fetch;
    explicit Fetcher(const Scratch& s) : fetch(downloads, *told, stop, s.Own()) {}
};

HttpAnswer Busy(int seconds) {
    return HttpAnswer::Status(503, "Service Unavailable", "busy").With("Retry-After: " + std::to_string(seconds));
}

TEST(FileFetch, EachHostInTurnForItsOwnCopyOfThePath) {
    const HttpAnswer ok = HttpAnswer::Ok("the file");
    HttpAnswer busyThenOk = Busy(1);
    busyThenOk.then = std::make_shared<HttpAnswer>(ok);
    const HttpAnswer down = HttpAnswer::Status(500, "Internal Server Error", "down");
    const struct {
        const char* name;
        const char* object;
        HttpAnswer site, mirror;
        const char* served;  // "": none
        std::vector<std::string> siteTargets, mirrorTargets;
        std::int64_t waited;
        const char* byHash = "";  // the by-hash name, which site and mirror answer (the plain name: ok)
    } cases[] = {
        {"the site delivers", "/f", ok, ok, kSite, {"/f"}, {}, 0},
        {"the site fails, the mirror delivers", "/f", down, ok, kMirror, {"/f"}, {"/f"}, 0},
        {"the site asks for a second, then delivers", "/f", busyThenOk, ok, kSite, {"/f", "/f"}, {}, 1},
        {"an absolute URL: the mirror is asked for the path", "http://127.0.0.24/db//f", down, ok, kMirror,
         {"/http://127.0.0.24/db//f"}, {"/db//f"}, 0},
        {"nobody delivers", "/f", down, down, "", {"/f"}, {"/f"}, 0},
        {"the by-hash name delivers", "/f", ok, ok, kSite, {"/h/ab"}, {}, 0, "/h/ab"},
        {"no by-hash name at the site (404): its plain name there", "/f", HttpAnswer::Status(404, "Not Found", "none"), ok, kSite,
         {"/h/ab", "/f"}, {}, 0, "/h/ab"},
        {"the by-hash name fails otherwise: the mirror's by-hash name", "/f", down, ok, kMirror, {"/h/ab"}, {"/h/ab"}, 0, "/h/ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer site(kSite), mirror(kMirror);
        ASSERT_TRUE(site.listening() && mirror.listening());
        const std::string siteTarget = c.object[0] == '/' ? c.object : std::string("/") + c.object;
        const bool byHash = *c.byHash != 0;
        site.Serve(byHash ? c.byHash : siteTarget, c.site);
        mirror.Serve(byHash ? c.byHash : core::TargetOnHost(c.object, kMirror), c.mirror);
        if (byHash) {
            site.Serve(siteTarget, ok);
            mirror.Serve(siteTarget, ok);
        }
        const Scratch scratch(L"file-fetch-hosts");
        Fetcher f(scratch);
        const FileFetched got = f.fetch.FromHosts(false, {CString(kSite), CString(kMirror)}, ListedPaths{CString(c.object), CString(c.byHash)},
                                                  scratch.Local(), {});
        EXPECT_EQ(got.ok, *c.served != 0);
        EXPECT_EQ(got.host.str(), c.served);
        EXPECT_EQ(site.Targets(), c.siteTargets);
        EXPECT_EQ(mirror.Targets(), c.mirrorTargets);
        EXPECT_EQ(f.told->waited, c.waited);
        EXPECT_EQ(ReadAll(Utf16(scratch.Local().str())), got.ok ? "the file" : "");
        EXPECT_TRUE(Listing(scratch.folder + L"\\own").empty()) << "an attempt's file was left behind";
    }
}

std::string Pattern(std::size_t n, unsigned salt) {
    std::mt19937 random(salt);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(random());
    return s;
}

std::string MapOf(const std::string& bytes) {
    CSha256Each sha;
    core::BlockMapWriter writer(bytes.size(), [&sha](const char* data, std::size_t size) {
        core::Sha256Digest d{};
        sha.Hash(data, size, d);
        return core::StrongHashOf(d.data());
    });
    writer.Feed(bytes.data(), bytes.size());
    return writer.Finish();
}

TEST(FileFetch, ByBlocksWhereTheInstalledCopyAllowsElseWhole) {
    const std::string old = Pattern(1536 * 1024, 1);
    std::string now = old;
    now.replace(700000, 5000, std::string(5000, 'n'));
    std::string wrongRest = now;
    wrongRest.replace(700000, 5000, std::string(5000, 'w'));  // the site's ranges are not the listed file's
    const auto withRanges = [](std::string body) {
        HttpAnswer a = HttpAnswer::Ok(std::move(body));
        a.etag = "\"v2\"";
        return a;
    };
    const struct {
        const char* name;
        std::string installed;
        HttpAnswer map, site;
        bool byBlocks;
        std::vector<BlocksUnused> told;
        std::vector<std::string> mirrorTargets;
        bool byHash = false;  // listed with a by-hash name, which the site serves (map and file) where siteTargets names it
        std::vector<std::string> siteTargets = {};
    } cases[] = {
        {"only what the copy lacks is asked for", old, HttpAnswer::Ok(MapOf(now)), withRanges(now), true, {}, {}},
        {"a damaged map: the whole file", old, HttpAnswer::Ok(MapOf(now).substr(1)), withRanges(now), false, {BlocksUnused::MapDamaged}, {}},
        {"no map: the whole file, nothing more told", old, HttpAnswer::Status(404, "Not Found", "none"), withRanges(now), false, {}, {}},
        {"a server without ranges: the whole file", old, HttpAnswer::Ok(MapOf(now)), HttpAnswer::Ok(now), false, {}, {}},
        {"a copy that holds too little", Pattern(1536 * 1024, 2), HttpAnswer::Ok(MapOf(now)), withRanges(now), false,
         {BlocksUnused::TooLittleHeld}, {}},
        {"ranges of other bytes: the made file is refused, the mirror's whole one taken", old, HttpAnswer::Ok(MapOf(now)),
         withRanges(wrongRest), false, {BlocksUnused::AssembledWrong}, {"/big.dat"}},
        {"the by-hash name's map and ranges", old, HttpAnswer::Ok(MapOf(now)), withRanges(now), true, {}, {}, true,
         {"/h/big.blocks", "/h/big"}},
        {"no by-hash map (404): the plain name's map and ranges", old, HttpAnswer::Ok(MapOf(now)), withRanges(now), true, {}, {}, true,
         {"/h/big.blocks", "/big.dat.blocks", "/big.dat"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer site(kSite), mirror(kMirror);
        ASSERT_TRUE(site.listening() && mirror.listening());
        const bool siteByHash = c.byHash && c.siteTargets.front() == "/h/big.blocks" && c.siteTargets.back() == "/h/big";
        site.Serve(siteByHash ? "/h/big.blocks" : "/big.dat.blocks", c.map);
        site.Serve(siteByHash ? "/h/big" : "/big.dat", c.site);
        mirror.Serve("/big.dat", HttpAnswer::Ok(now));
        const Scratch scratch(L"file-fetch-blocks");
        const std::wstring installed = scratch.folder + L"\\installed.dat";
        WriteAll(installed, c.installed);
        UPDATE_FILE_INFO record;
        record.szFileName = "big.dat";
        record.bHasDigest = record.bHasSize = true;
        CSha256 whole;
        whole.Update(now.data(), now.size());
        ASSERT_TRUE(whole.Finish(record.digest));
        record.nSize = now.size();
        Fetcher f(scratch);
        const FileFetched got = f.fetch.Listed(record, {CString(kSite), CString(kMirror)},
                                               ListedPaths{CString("/big.dat"), CString(c.byHash ? "/h/big" : "")},
                                               CString(Utf8(installed)), scratch.Local(), CString());
        EXPECT_TRUE(got.ok);
        EXPECT_EQ(got.byBlocks, c.byBlocks);
        EXPECT_EQ(f.told->byBlocks, c.byBlocks ? 1 : 0);
        EXPECT_EQ(f.told->notByBlocks, c.told);
        EXPECT_EQ(mirror.Targets(), c.mirrorTargets);
        if (c.byHash) EXPECT_EQ(site.Targets(), c.siteTargets);
        EXPECT_TRUE(ReadAll(Utf16(scratch.Local().str())) == now) << "not the listed file's bytes";
        EXPECT_TRUE(Listing(scratch.folder + L"\\own").empty()) << "the made file or an attempt's was left behind";
    }
}

TEST(FileFetch, EveryDownloadItsWatchGaveUpIsRememberedUntilItEnds) {
    TestHttpServer site(kSite);
    ASSERT_TRUE(site.listening());
    HttpAnswer slow = HttpAnswer::Ok(std::string(8192, 's'));
    slow.delayPerKiB = 2000;  // a piece, then 2 s: the given-up thread notices between pieces
    site.Serve("/slow", slow);
    const Scratch scratch(L"file-fetch-given-up");
    const auto told = std::make_shared<Told>();
    const CStopSignal stop;
    CWatchedDownloads downloads(told, stop);
    DownloadChecks checks;
    checks.nWholeWithinMs = 300;
    for (int i = 0; i < 2; ++i) {
        DownloadRequest request;
        request.server = kSite;
        request.object = "/slow";
        EXPECT_EQ(downloads.Run(request, scratch.Local().str(), checks, core::Turn{}, scratch.Own()).outcome.failure,
                  core::DownloadFailure::NotWholeInTime);
    }
    EXPECT_EQ(downloads.GivenUpThreads().size(), 2u) << "only the last given-up download remembered";
    EXPECT_TRUE(WaitUntil([&] { return !downloads.GivenUpRunning(); }, 10000));
    EXPECT_TRUE(Listing(scratch.folder + L"\\own").empty()) << "a given-up download left its file";
    EXPECT_FALSE(Exists(Utf16(scratch.Local().str()))) << "a given-up download made the local file";
}

TEST(FilePieces, AFileGoesUnlessKeptAndIsReadWholeOnlyWithinItsBound) {
    const Scratch scratch(L"file-pieces");
    const struct {
        const char* name;
        bool kept;
        std::uint64_t bound;
        bool read;
    } cases[] = {{"kept, read within its bound", true, 5, true},
                 {"kept, longer than its bound", true, 4, false},
                 {"not kept: gone", false, 5, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = scratch.folder + L"\\piece.dat";
        {
            CRemovedUnlessKept goes(path);
            const ScopedFile made = CreateAnew(path, GENERIC_WRITE, 0);
            ASSERT_TRUE(made);
            ASSERT_TRUE(WriteAt(made.get(), 0, "bytes", 5));
            if (c.kept) goes.Keep();
        }
        std::string bytes;
        EXPECT_EQ(ReadWhole(path, c.bound, bytes), c.read);
        EXPECT_EQ(Exists(path), c.kept);
        if (c.read) EXPECT_EQ(bytes, "bytes");
        DeleteFileW(path.c_str());
    }
}

}  // namespace
