#pragma once
// What a failed download of a listed file keeps for the next attempt to resume from: "<sha256>.part",
// the bytes that arrived (the file itself, not compressed), and "<sha256>.tag", the validator its answer
// gave (If-Range), in a folder of the product's own, one per pass. The whole file's digest decides, as
// always; a part only saves bytes on the wire.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/release.h"

namespace core {

// What all of a pass's kept parts may take together.
constexpr std::uint64_t kMaxKeptPartBytes = std::uint64_t{512} << 20;

// "<sha256 in lower-case hex>" + ".part" or ".tag".
std::string KeptPartName(const Sha256Digest& digest);
std::string KeptTagName(const Sha256Digest& digest);

struct KeptFile {
    std::string name;
    std::uint64_t size = 0;
    std::uint64_t writtenAt = 0;  // any clock that grows
};
// What goes of the kept files once a pass's list is read (wanted: the part names of its due entries):
// everything that is not a wanted part or its tag, a part without its tag and a tag without its part, and,
// while the parts left take more than bound, the part written longest ago with its tag.
std::vector<std::string> KeptFilesToRemove(const std::vector<KeptFile>& files, const std::set<std::string>& wanted,
                                           std::uint64_t bound = kMaxKeptPartBytes);

}  // namespace core
