// Fuzz target: a served block map read as the updater reads it, and the input itself searched as an
// installed copy with that map (the strong hash a cheap stand-in: the search's bounds hold whatever it is).
#include <cstdint>
#include <cstring>
#include <string>

#include "check.h"
#include "core/block_map.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // The size the listed entry gives: the one the map claims (so the reader gets past it), bounded.
    std::uint64_t fileSize = 0;
    if (size >= 16) std::memcpy(&fileSize, data + 8, 8);
    fileSize %= std::uint64_t{1} << 26;
    core::BlockMap map;
    if (!core::ParseBlockMap(bytes, fileSize, map)) return 0;
    Check(map.blockSize == core::ChooseBlockSize(fileSize) && map.fileSize == fileSize);
    Check(map.BlockCount() == (fileSize + map.blockSize - 1) / map.blockSize && map.hashes.size() == map.BlockCount());
    Check(bytes.size() == core::kBlockMapHeaderSize + map.BlockCount() * core::kBlockEntrySize);
    const auto hasher = [](const char* block, std::size_t n) {
        core::StrongHash h{};
        for (std::size_t i = 0; i < n; ++i) h[i % h.size()] = static_cast<std::uint8_t>(h[i % h.size()] * 31 + block[i]);
        return h;
    };
    core::BlockMatcher matcher(map, hasher);
    for (std::size_t at = 0; at < size && matcher.Feed(bytes.data() + at, size - at < 97 ? size - at : 97); at += 97) {
    }
    const std::vector<std::int64_t> found = matcher.Finish();
    Check(found.size() == map.BlockCount());
    Check(matcher.StrongHashes() <= map.BlockCount() * (core::BlockMatcher::kMissesPerBlock + 1) + core::BlockMatcher::kSpareMisses + 1);
    for (std::size_t j = 0; j < found.size(); ++j) {
        if (found[j] < 0) continue;
        const std::uint32_t length = map.BlockLength(j);
        Check(static_cast<std::uint64_t>(found[j]) + length <= size);
        Check(core::BlockChecksum(bytes.data() + found[j], length) == map.checksums[j]);
        Check(hasher(bytes.data() + found[j], length) == map.hashes[j]);
    }
    std::uint64_t missing = 0;
    for (const core::ByteRange& r : core::MissingRanges(map, found)) {
        Check(r.first < r.end && r.end <= fileSize);
        missing += r.end - r.first;
    }
    Check(missing <= fileSize);
    return 0;
}
