#include "update/file_blocks.h"

#include <algorithm>

#include "framework/cng.h"

namespace {

// The spread of the search's table, drawn anew for each search so that no map can be made to crowd it.
std::uint32_t RandomSeed() {
    std::uint32_t seed = 0;
    if (!CngRandom(&seed, sizeof seed)) seed = ::GetTickCount() ^ ::GetCurrentProcessId() << 16;
    return seed;
}

}  // namespace

BlockSearch FindMappedBlocks(HANDLE file, const core::BlockMap& map, const CStopSignal& stop, std::vector<std::int64_t>& found) {
    constexpr DWORD kPiece = 64 * 1024;
    CSha256Each sha;
    bool hashed = true;
    core::BlockMatcher matcher(
        map,
        [&sha, &hashed](const char* data, std::size_t size) {
            core::Sha256Digest d{};
            hashed = sha.Hash(data, size, d) && hashed;
            return core::StrongHashOf(d.data());
        },
        [&stop] { return !stop.Raised(); }, RandomSeed());
    std::vector<char> piece(kPiece);
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file, piece.data(), kPiece, &n, nullptr)) return BlockSearch::ReadFailed;
        if (n == 0 || !matcher.Feed(piece.data(), n)) break;
    }
    if (matcher.Abandoned() || stop.Raised()) return BlockSearch::Stopped;
    if (!hashed) return BlockSearch::NoSha256;
    if (matcher.ProvedFalse()) return BlockSearch::MapProvedFalse;
    found = matcher.Finish();
    return BlockSearch::Done;
}
