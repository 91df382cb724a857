#include "core/fetch_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using core::DownloadFailure;

core::DownloadOutcome Answer(unsigned long status, std::int64_t retryAfter = -1, std::uint64_t rangeFrom = 0) {
    core::DownloadOutcome o;
    o.failure = status == 0 ? DownloadFailure::NoConnection : DownloadFailure::Status;
    o.status = status;
    o.retryAfter = retryAfter;
    o.rangeFrom = rangeFrom;
    return o;
}

// The attempts at one file as the fetch makes them: each failure decides what follows it, and the turns
// which host is asked next and after what wait. "h0 w20 h0 h1": the site, 20 s, the site again, the mirror;
// "h0*": the site asked for the by-hash name.
std::string Attempts(std::size_t hosts, const std::vector<core::DownloadOutcome>& failures, bool byHash) {
    std::string trace;
    core::HostTurns turns(hosts, byHash);
    for (std::size_t i = 0; turns.Left() && i < failures.size(); ++i) {
        trace += (trace.empty() ? "h" : " h") + std::to_string(turns.Host()) + (turns.ByHash() ? "*" : "");
        const std::int64_t wait = turns.After(core::Following(failures[i], turns.Current()), failures[i].retryAfter);
        if (wait > 0) trace += " w" + std::to_string(wait);
    }
    return trace + (turns.Left() ? " ..." : "");
}

TEST(FetchPlan, EachHostInTurnWithItsWaitsAndOneMoreAskingEach) {
    const struct {
        const char* name;
        std::size_t hosts;
        std::vector<core::DownloadOutcome> failures;
        const char* attempts;
        bool byHash = false;
    } cases[] = {
        {"every host fails once", 3, {Answer(500), Answer(0), Answer(404)}, "h0 h1 h2"},
        {"the site asks for 20 s, then fails", 2, {Answer(503, 20), Answer(503), Answer(500)}, "h0 w20 h0 h1"},
        {"asked again once only, however often a host asks", 2, {Answer(503, 5), Answer(503, 5), Answer(503, 5), Answer(503, 5)},
         "h0 w5 h0 h1 w5 h1"},
        {"the waits of a file add up over its hosts to a minute", 3,
         {Answer(503, 30), Answer(503, 30), Answer(429, 30), Answer(429, 30), Answer(503, 1), Answer(500)}, "h0 w30 h0 h1 w30 h1 h2"},
        {"a wait longer than what is left: the next host", 2, {Answer(503, 61), Answer(500)}, "h0 h1"},
        {"a kept part refused: the whole file at once from the same host", 2, {Answer(416, -1, 100), Answer(500), Answer(500)},
         "h0 h0 h1"},
        {"one host: asked again after its wait, then nothing is left", 1, {Answer(503, 2), Answer(503, 2)}, "h0 w2 h0"},
        {"no host", 0, {Answer(500)}, ""},
        {"no by-hash name (404): the plain name at the same host, then the next host's by-hash name", 2,
         {Answer(404), Answer(500), Answer(404), Answer(404)}, "h0* h0 h1* h1", true},
        {"any other failure of a by-hash name: the next host", 2, {Answer(500), Answer(0)}, "h0* h1*", true},
        {"asked again after its wait, the by-hash name still; then the plain name", 2, {Answer(503, 5), Answer(404), Answer(503, 5)},
         "h0* w5 h0* h0 ...", true},
    };
    for (const auto& c : cases) EXPECT_EQ(Attempts(c.hosts, c.failures, c.byHash), c.attempts) << c.name;
    // A stop, and a part of a block update, are never asked again of anyone.
    core::DownloadOutcome stopped;
    stopped.failure = DownloadFailure::Stopped;
    core::Turn turn;
    turn.otherHostLeft = turn.mayAskAgain = true;
    EXPECT_EQ(core::Following(stopped, turn), core::NextAttempt::None);
    turn.wholeFileLeft = true;
    EXPECT_EQ(core::Following(Answer(503, 2), turn), core::NextAttempt::WholeFile);
    // A block map or ranges with no by-hash name: the plain name's, before the whole file.
    turn.plainNameLeft = true;
    EXPECT_EQ(core::Following(Answer(404), turn), core::NextAttempt::PlainName);
    EXPECT_EQ(core::Following(Answer(410), turn), core::NextAttempt::WholeFile);
}

TEST(FetchPlan, AMirrorIsAskedForItsOwnCopyOfTheSamePath) {
    const struct {
        const char* object;
        const char* host;
        const char* target;
    } cases[] = {
        {"/marrowtide/db/a.gdb", "mirror", "/marrowtide/db/a.gdb"},
        {"http://site/marrowtide/db/a.gdb", "mirror", "/marrowtide/db/a.gdb"},
        {"http://site/marrowtide/db/a.gdb", "SITE", "http://site/marrowtide/db/a.gdb"},
        {"http://site:8080/a", "site", "/a"},
        {"http://site", "mirror", "/"},
    };
    for (const auto& c : cases) EXPECT_EQ(core::TargetOnHost(c.object, c.host), c.target) << c.object << " of " << c.host;
}

TEST(FetchPlan, ByBlocksOnlyWhereTheRangesAndTheMapCostLessThanTheFile) {
    EXPECT_EQ(core::BlockMapBytes(8u << 20), 20u + 2048u * 20u);       // 4 KiB blocks
    EXPECT_EQ(core::BlockMapBytes((8u << 20) + 1), 20u + 2049u * 20u);  // a last block of one byte
    EXPECT_FALSE(core::MayComeByBlocks(true, true, core::kMinMappedFileSize - 1));
    EXPECT_FALSE(core::MayComeByBlocks(false, true, core::kMinMappedFileSize));
    EXPECT_TRUE(core::MayComeByBlocks(true, true, core::kMinMappedFileSize));
    core::BlockMap map;
    map.blockSize = 1000;
    map.fileSize = 10000;
    map.checksums.resize(10);
    map.hashes.resize(10);
    const struct {
        const char* name;
        std::vector<std::int64_t> found;
        std::uint64_t mapBytes, asked;
        bool worthIt;
        std::size_t requests;
    } cases[] = {
        {"two blocks missing", {0, 1000, -1, 3000, 4000, 5000, 6000, -1, 8000, 9000}, 220, 2000, true, 1},
        {"nothing held", std::vector<std::int64_t>(10, -1), 220, 10000, false, 0},
        {"all but one held, the map as large as the rest", {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, -1}, 9000, 1000,
         false, 0},
    };
    for (const auto& c : cases) {
        const core::BlockPlan plan = core::PlanByBlocks(map, c.found, c.mapBytes);
        EXPECT_EQ(plan.asked, c.asked) << c.name;
        EXPECT_EQ(plan.worthIt, c.worthIt) << c.name;
        EXPECT_EQ(plan.requests.size(), c.requests) << c.name;
    }
}

}  // namespace
