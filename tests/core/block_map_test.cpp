// Block-level updates: the map, the rolling checksum, finding an old copy's blocks, the ranges it lacks.
// The strong hash is OpenSSL's SHA-256 here, as in the publishing tool.
#include "core/block_map.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>
#include <map>
#include <random>

namespace {

core::StrongHash Sha(const char* data, std::size_t size) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(data), size, digest);
    core::StrongHash h{};
    std::memcpy(h.data(), digest, h.size());
    return h;
}

std::string Random(std::size_t size, unsigned salt) {
    std::mt19937 rnd(salt);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(rnd());
    return s;
}

std::string MapOf(const std::string& file, std::size_t piece) {
    core::BlockMapWriter writer(file.size(), Sha);
    for (std::size_t at = 0; at < file.size(); at += piece) writer.Feed(file.data() + at, std::min(piece, file.size() - at));
    return writer.Finish();
}

// The new file as the updater assembles it: found blocks from the old copy, the rest from the new file's
// missing ranges (what the server sends).
std::string Assemble(const core::BlockMap& map, const std::vector<std::int64_t>& found, const std::string& old,
                     const std::string& newer, std::uint64_t& fetched) {
    std::string out(newer.size(), '\0');
    for (std::size_t j = 0; j < map.BlockCount(); ++j) {
        if (found[j] >= 0) out.replace(j * map.blockSize, map.BlockLength(j), old, static_cast<std::size_t>(found[j]), map.BlockLength(j));
    }
    fetched = 0;
    for (const core::ByteRange& r : core::MissingRanges(map, found)) {
        out.replace(r.first, r.end - r.first, newer, r.first, r.end - r.first);
        fetched += r.end - r.first;
    }
    return out;
}

TEST(BlockMap, TheToolsMapReadsBackAndADamagedOneIsRefused) {
    EXPECT_EQ(core::ChooseBlockSize(1 << 20), 4096u);
    EXPECT_EQ(core::ChooseBlockSize(8 << 20), 4096u);
    EXPECT_EQ(core::ChooseBlockSize(64 << 20), 8192u);
    EXPECT_EQ(core::ChooseBlockSize(100000000), 16384u);
    EXPECT_EQ(core::ChooseBlockSize(std::uint64_t{1} << 40), 65536u);
    const std::string file = Random((1 << 20) + 1000, 1);
    const std::string map = MapOf(file, 1 << 20);
    EXPECT_EQ(MapOf(file, 1), map) << "the same map whatever pieces the file comes in";
    EXPECT_EQ(MapOf(file, 4097), map);
    ASSERT_EQ(map.size(), core::kBlockMapHeaderSize + 257 * core::kBlockEntrySize);
    core::BlockMap parsed;
    ASSERT_TRUE(core::ParseBlockMap(map, file.size(), parsed));
    EXPECT_EQ(parsed.BlockCount(), 257u);
    EXPECT_EQ(parsed.BlockLength(256), 1000u);
    EXPECT_EQ(parsed.checksums[256], core::BlockChecksum(file.data() + 256 * 4096, 1000));
    EXPECT_EQ(parsed.hashes[3], Sha(file.data() + 3 * 4096, 4096));
    core::BlockMapWriter shortFed(file.size(), Sha);
    shortFed.Feed(file.data(), 100);
    EXPECT_EQ(shortFed.Finish(), "") << "fewer bytes than the size it was told";
    const auto with = [&map](std::size_t at, std::string bytes) { return std::string(map).replace(at, bytes.size(), bytes); };
    const struct {
        const char* name;
        std::string bytes;
        std::uint64_t fileSize;
    } damaged[] = {
        {"another file's size", map, file.size() + 1},
        {"cut by a byte", map.substr(0, map.size() - 1), file.size()},
        {"a byte more", map + "x", file.size()},
        {"another magic", with(0, "MWBLOCK2"), file.size()},
        {"a block size below 512", with(16, std::string("\xff\x01\0\0", 4)), file.size()},
        {"a block size above 1 MiB", with(16, std::string("\x01\0\x10\0", 4)), file.size()},
        {"no header", map.substr(0, 10), file.size()},
        {"an empty file's", with(8, std::string(8, '\0')), 0},
    };
    for (const auto& d : damaged) EXPECT_FALSE(core::ParseBlockMap(d.bytes, d.fileSize, parsed)) << d.name;
}

TEST(BlockMap, TheRollingChecksumIsTheChecksumOfEveryWindow) {
    const std::string data = Random(3 * 4096, 2);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    for (std::size_t window : {1u, 512u, 4096u}) {
        core::RollingChecksum sum;
        sum.Reset(bytes, window);
        for (std::size_t at = 1; at + window <= data.size(); ++at) {
            sum.Roll(bytes[at - 1], bytes[at + window - 1]);
            ASSERT_EQ(sum.Value(), core::BlockChecksum(data.data() + at, window)) << window << " at " << at;
        }
    }
}

TEST(BlockMap, AnOldCopyGivesEveryBlockItHoldsWhereverItMoved) {
    const std::string base = Random(2 << 20, 3);  // 2 MiB: 4 KiB blocks
    // Three 4 KiB stretches changed, 1000 bytes inserted, 500 deleted, as a database changes in a day.
    std::string changed = base;
    for (std::size_t at : {100000u, 900000u, 1700000u}) changed.replace(at, 4096, Random(4096, static_cast<unsigned>(at)));
    changed.insert(500000, Random(1000, 4));
    changed.erase(1300000, 500);
    const std::string shortTail = base.substr(0, base.size() - 1234);  // its last block shorter than the others
    const struct {
        const char* name;
        std::string old, newer;
        std::size_t piece;           // the old copy fed in pieces of this size
        std::uint64_t maxFetched;    // bytes the server must send at most
        std::uint64_t minFetched;
    } cases[] = {
        {"the same file", base, base, 65536, 0, 0},
        {"changed, inserted and deleted", base, changed, 65536, 12 * 4096, 5 * 4096},
        {"the same, the old copy byte by byte", base, changed, 1, 12 * 4096, 5 * 4096},
        {"the same, in odd pieces", base, changed, 4099, 12 * 4096, 5 * 4096},
        {"no old copy", "", changed, 65536, changed.size(), changed.size()},
        {"an unrelated old copy", Random(1 << 20, 5), changed, 65536, changed.size(), changed.size()},
        {"an old copy that is the new one's first half", changed.substr(0, changed.size() / 2), changed, 65536,
         changed.size() / 2 + 4096, changed.size() / 2 - 4096},
        {"a short last block, unchanged", shortTail, shortTail, 65536, 0, 0},
        {"a short last block, the rest moved by an insertion", shortTail, "x" + shortTail, 65536, 2 * 4096, 1},
        {"the new file's blocks all the same bytes", std::string(40000, 'z'), std::string(81920, 'z'), 4096, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        core::BlockMap map;
        ASSERT_TRUE(core::ParseBlockMap(MapOf(c.newer, 65536), c.newer.size(), map));
        core::BlockMatcher matcher(map, Sha);
        for (std::size_t at = 0; at < c.old.size(); at += c.piece) matcher.Feed(c.old.data() + at, std::min(c.piece, c.old.size() - at));
        const std::vector<std::int64_t> found = matcher.Finish();
        std::uint64_t fetched = 0;
        EXPECT_TRUE(Assemble(map, found, c.old, c.newer, fetched) == c.newer) << "assembled byte for byte";
        EXPECT_LE(fetched, c.maxFetched);
        EXPECT_GE(fetched, c.minFetched);
    }
}

TEST(BlockMap, MissingBlocksMergeIntoRanges) {
    core::BlockMap map;
    map.fileSize = 10 * 100 + 50;
    map.blockSize = 100;
    map.checksums.resize(11);
    map.hashes.resize(11);
    const std::vector<std::int64_t> found = {0, -1, -1, 300, -1, 500, 600, 700, -1, -1, -1};
    const std::vector<core::ByteRange> ranges = core::MissingRanges(map, found);
    EXPECT_EQ(ranges, (std::vector<core::ByteRange>{{100, 300}, {400, 500}, {800, 1050}}));
    EXPECT_EQ(core::RangesHeaderValue(ranges), "bytes=100-299,400-499,800-1049");
    EXPECT_TRUE(core::MissingRanges(map, std::vector<std::int64_t>(11, 0)).empty());
}

}  // namespace

namespace {

TEST(ByteRanges, EachPartGoesWhereItsContentRangeSays) {
    std::string boundary;
    EXPECT_TRUE(core::ByteRangesBoundary("multipart/byteranges; boundary=00000000001", boundary));
    EXPECT_EQ(boundary, "00000000001");
    EXPECT_TRUE(core::ByteRangesBoundary("Multipart/Byteranges; boundary=\"a b\"", boundary));
    EXPECT_EQ(boundary, "a b");
    EXPECT_FALSE(core::ByteRangesBoundary("application/octet-stream", boundary));
    EXPECT_FALSE(core::ByteRangesBoundary("multipart/byteranges; boundary=", boundary));
    core::ByteRange range;
    EXPECT_TRUE(core::ParseContentRange("bytes 10-14/100", 100, range));
    EXPECT_EQ(range, (core::ByteRange{10, 15}));
    for (const char* bad : {"bytes 10-14/101", "bytes 14-10/100", "bytes 10-100/100", "bytes */100", "10-14/100"}) {
        EXPECT_FALSE(core::ParseContentRange(bad, 100, range)) << bad;
    }

    const std::string b = "--00000000001";
    const auto part = [&b](const char* range, const std::string& data) {
        return "\r\n" + b + "\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes " + range + "\r\n\r\n" + data;
    };
    const std::string two = part("0-4/100", "AAAAA") + part("10-14/100", "B\r\n" + b.substr(0, 2)) + "\r\n" + b + "--\r\n";
    const struct {
        const char* name;
        std::string body;
        bool ok, whole;
        std::string got;  // "offset:bytes" per piece, pieces of one part joined
    } cases[] = {
        {"two parts as nginx sends them", two, true, true, "0:AAAAA 10:B\r\n--"},
        {"no closing delimiter", two.substr(0, two.size() - 4), true, false, "0:AAAAA 10:B\r\n--"},
        {"a part without Content-Range", "\r\n" + b + "\r\nContent-Type: x\r\n\r\nAAAAA", false, false, ""},
        {"a part of another file's size", part("0-4/99", "AAAAA"), false, false, ""},
        {"something else after a part", part("0-4/100", "AAAAA") + "\r\nxx", false, false, "0:AAAAA"},
        {"endless headers", "\r\n" + b + "\r\n" + std::string(5000, 'h'), false, false, ""},
        {"no delimiter at all", std::string(5000, 'x'), false, false, ""},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {c.body.size(), std::size_t{1}}) {
            SCOPED_TRACE(std::string(c.name) + (piece == 1 ? ", byte by byte" : ""));
            std::map<std::uint64_t, std::string> parts;
            core::ByteRangesReader reader(b.substr(2), 100, [&parts](std::uint64_t at, const char* data, std::size_t size) {
                // Pieces of one part arrive in order: they join the part that ends where they begin.
                for (auto& p : parts) {
                    if (p.first + p.second.size() == at) {
                        p.second.append(data, size);
                        return true;
                    }
                }
                parts[at].append(data, size);
                return true;
            });
            bool ok = true;
            for (std::size_t at = 0; ok && at < c.body.size(); at += piece) ok = reader.Feed(c.body.data() + at, std::min(piece, c.body.size() - at));
            std::string got;
            for (const auto& p : parts) got += (got.empty() ? "" : " ") + std::to_string(p.first) + ":" + p.second;
            EXPECT_EQ(ok, c.ok);
            EXPECT_EQ(reader.Finish(), c.whole);
            EXPECT_EQ(got, c.got);
        }
    }
    core::ByteRangesReader refusing("00000000001", 100, [](std::uint64_t, const char*, std::size_t) { return false; });
    EXPECT_FALSE(refusing.Feed(two.data(), two.size())) << "a sink that refuses ends the reading";
}

}  // namespace
