// The vendor's log of 2^20 entries, its tiles served from memory: what the updater's check of one version-info
// file reads (the tiles of a consistency proof from the checkpoint it kept and of the file's inclusion
// proof) and its CPU time for them, with CNG's SHA-256 as a run has it. Prints one line per case:
//   CASE tiles=N bytes=B cpu_us=T
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/tlog.h"
#include "framework/cng.h"

namespace tlog = core::tlog;

namespace {

double CpuMicroseconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto us = [](const FILETIME& f) { return ((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 10.0; };
    return us(kernel) + us(user);
}

}  // namespace

int main() {
    constexpr std::uint64_t kSize = std::uint64_t{1} << 20;
    CSha256Each each;
    tlog::Hasher hasher([&each](const void* data, std::size_t size, tlog::Hash& digest) { return each.Hash(data, size, digest); });
    std::vector<tlog::Hash> leaves(kSize);
    for (std::uint64_t i = 0; i < kSize; ++i) leaves[i] = hasher.Leaf("update/db/DBUpdate.ver " + std::to_string(i) + "\n");
    const auto levels = tlog::StoredLevels(hasher, leaves);
    const auto rootOf = [&](std::uint64_t n) { return tlog::RootOf(hasher, std::vector<tlog::Hash>(leaves.begin(), leaves.begin() + n)); };
    const tlog::Hash root = rootOf(kSize);
    struct Case {
        const char* name;
        std::uint64_t kept, index;  // the checkpoint kept, the file's place
    } const cases[] = {
        {"newest_file_kept_one_release_back", kSize - 2, kSize - 1},
        {"month_old_file_kept_half_the_log_back", kSize / 2 + 12345, kSize - 300000},
        {"first_file_kept_the_first_entry", 1, 0},
    };
    for (const Case& c : cases) {
        const tlog::Hash keptRoot = rootOf(c.kept);
        constexpr int kRounds = 2000;
        unsigned tiles = 0;
        std::uint64_t bytes = 0;
        bool held = true;
        const double before = CpuMicroseconds();
        for (int round = 0; round < kRounds; ++round) {
            tlog::TileReader reader(hasher, [&](const tlog::TileId& t, std::string& tile) {
                tile = tlog::TileBytes(levels, t);
                return true;
            }, kSize);
            held = tlog::GrowsFrom(reader, hasher, c.kept, keptRoot, kSize, root) == tlog::ProofOutcome::Holds &&
                   tlog::Includes(reader, hasher, c.index, leaves[c.index], kSize, root) == tlog::ProofOutcome::Holds && held;
            tiles = reader.tilesRead();
            bytes = reader.bytesRead();
        }
        // The tiles are copied out of memory in each round as a fetch would hand them over; that copy is
        // part of the figure, which therefore errs on the high side.
        const double cpu = (CpuMicroseconds() - before) / kRounds;
        std::printf("%s tiles=%u bytes=%llu cpu_us=%.0f%s\n", c.name, tiles, static_cast<unsigned long long>(bytes), cpu, held ? "" : " PROOF-FAILED");
    }
    return 0;
}
