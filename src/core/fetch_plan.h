#pragma once
// The order of attempts at one file, as decisions apart from the network: which host is asked next and
// after what wait, the path each host is asked for, and whether a file with an older copy installed is
// worth fetching by blocks (which ranges, in which requests).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/block_map.h"
#include "core/run_report.h"

namespace core {

// Where an attempt stands among its file's attempts: what NextAttemptAfter needs to know of it.
struct Turn {
    bool mayAskAgain = false;    // this host has not been asked again yet
    bool otherHostLeft = false;  // another host follows it
    std::int64_t waitLeft = kMaxRetryAfterSeconds;  // of the file's waits for Retry-After, over all its hosts
    bool wholeFileLeft = false;  // a part of fetching a file by blocks: a failure means the whole file instead
    bool plainNameLeft = false;  // a by-hash name is asked: a 404 means its plain name at the same host
};
// What follows a failed attempt (NextAttempt::None for one that succeeded or was stopped).
NextAttempt Following(const DownloadOutcome& outcome, const Turn& turn);

// The hosts of one file asked in turn (the site, then its mirrors), each for the same path: a host asked
// once, once more after the wait it asked for (Retry-After), or once more at once for the whole file when
// its kept part was refused or proved wrong; the file's waits over all its hosts at most
// kMaxRetryAfterSeconds, so a chain of hosts that each ask for one cannot hold the stopped product long.
// With byHash, each host is asked for the file's by-hash name first, and for its plain name after a 404
// (a server or mirror without by-hash names).
class HostTurns {
public:
    explicit HostTurns(std::size_t hosts, bool byHash = false) : m_hosts(hosts), m_byHash(byHash) {}
    bool Left() const { return m_host < m_hosts; }  // an attempt is due, at Host()
    std::size_t Host() const { return m_host; }
    bool ByHash() const { return m_byHash && !m_plain; }  // the attempt due asks the by-hash name
    Turn Current() const;
    // After the attempt at Host() failed with next (told by Following(outcome, Current())) and its
    // Retry-After: the seconds to wait before the next attempt, if Left() says there is one.
    std::int64_t After(NextAttempt next, std::int64_t retryAfter);
    std::int64_t Waited() const { return m_waited; }  // seconds, so far

private:
    std::size_t m_hosts;
    bool m_byHash;
    std::size_t m_host = 0;
    bool m_askedAgain = false;
    bool m_plain = false;  // this host had no by-hash name
    std::int64_t m_waited = 0;
};

// The request target for object on host. An absolute URL names the host it is on: asked of another one (a
// mirror serves the same paths), it is its path alone, so each host is asked for its own copy and the log
// names the host that answered.
std::string TargetOnHost(const std::string& object, const std::string& host);

// A block update's requests: at most kRangesPerRequest ranges (a Range header of a few hundred bytes) and
// kRangeBytesPerRequest bytes each (whole within a minute at 9 KB/s).
constexpr std::size_t kRangesPerRequest = 32;
constexpr std::uint64_t kRangeBytesPerRequest = 512 * 1024;

// The length of the tool's block map of a file of fileSize bytes: the most a served map may take.
std::uint64_t BlockMapBytes(std::uint64_t fileSize);
// Whether a listed file may come by blocks: one with its digest and size, and large enough to have a map.
bool MayComeByBlocks(bool hasDigest, bool hasSize, std::uint64_t size);

struct BlockPlan {
    std::vector<std::vector<ByteRange>> requests;  // what the installed copy lacks, in requests
    std::uint64_t asked = 0;                       // bytes asked for, in all of them
    bool worthIt = false;                          // the ranges and the map cost less than the whole file
};
// The plan for a file whose map is map, found saying where the installed copy holds each block (-1: not),
// mapBytes what its map took.
BlockPlan PlanByBlocks(const BlockMap& map, const std::vector<std::int64_t>& found, std::uint64_t mapBytes);

}  // namespace core
