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
    return core::StrongHashOf(digest);
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
        {"a whole entry short", map.substr(0, map.size() - core::kBlockEntrySize), file.size()},
        {"a whole entry more", map + std::string(core::kBlockEntrySize, 'e'), file.size()},
        // Not signed: a block size other than the tool's would let a map make the search cost what it likes.
        {"8 KiB blocks for a file of 1 MiB", with(16, std::string("\0\x20\0\0", 4)), file.size()},
        {"the largest blocks, 1 MiB", [&] {
             core::BlockMapWriter large(file.size(), Sha, 1 << 20);
             large.Feed(file.data(), file.size());
             return large.Finish();
         }(), file.size()},
    };
    for (const auto& d : damaged) EXPECT_FALSE(core::ParseBlockMap(d.bytes, d.fileSize, parsed)) << d.name;
}

// The format as documented, computed here from its definition: little-endian fields, and per block the
// rsync checksum a = sum of the bytes, b = sum of (n - i) * byte i, each modulo 2^16, as a | b << 16.
TEST(BlockMap, TheMapIsTheDocumentedFormat) {
    std::string file((1 << 20) + 5, '\0');
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>((i * 31 + i / 251) & 0xFF);
    const std::string map = MapOf(file, 65536);
    ASSERT_EQ(map.size(), 20 + 257 * 20u);
    EXPECT_EQ(map.substr(0, 8), "MWBLOCK1");
    EXPECT_EQ(map.substr(8, 8), std::string("\x05\0\x10\0\0\0\0\0", 8)) << "the size, 0x100005";
    EXPECT_EQ(map.substr(16, 4), std::string("\0\x10\0\0", 4)) << "the block size, 4096";
    for (std::size_t block : {std::size_t{0}, std::size_t{9}, std::size_t{256}}) {
        const std::size_t at = block * 4096, n = std::min<std::size_t>(4096, file.size() - at);
        std::uint32_t a = 0, b = 0;
        for (std::size_t i = 0; i < n; ++i) {
            a += static_cast<unsigned char>(file[at + i]);
            b += static_cast<std::uint32_t>(n - i) * static_cast<unsigned char>(file[at + i]);
        }
        const std::uint32_t sum = (a & 0xFFFF) | (b & 0xFFFF) << 16;
        const std::size_t entry = 20 + block * 20;
        EXPECT_EQ(map.substr(entry, 4), std::string({static_cast<char>(sum), static_cast<char>(sum >> 8), static_cast<char>(sum >> 16),
                                                     static_cast<char>(sum >> 24)}))
            << "block " << block;
        const core::StrongHash strong = Sha(file.data() + at, n);
        EXPECT_EQ(map.substr(entry + 4, 16), std::string(reinterpret_cast<const char*>(strong.data()), 16)) << "block " << block;
    }
    EXPECT_EQ(core::BlockChecksum("abc", 3), 294u | 586u << 16);
}

// A map is not signed: whatever it says, finding its blocks costs about a pass over the copy and the hashes
// of a file's size, and a map that lies is known for one.
TEST(BlockMap, AFalseMapCostsLittleAndIsKnownForOne) {
    const std::string newer = Random((1 << 20) + 1, 6);
    core::BlockMap map;
    ASSERT_TRUE(core::ParseBlockMap(MapOf(newer, 65536), newer.size(), map));
    // Every checksum a window of zeros has, every hash wrong, over a copy of 2 MiB of zeros: each position
    // of the copy meets every block's checksum.
    core::BlockMap hostile = map;
    for (std::size_t j = 0; j < hostile.BlockCount(); ++j) hostile.checksums[j] = core::BlockChecksum(std::string(4096, '\0').data(), 4096);
    const std::string zeros(2 << 20, '\0');
    core::BlockMatcher matcher(hostile, Sha);
    for (std::size_t at = 0; at < zeros.size(); at += 65536) matcher.Feed(zeros.data() + at, 65536);
    EXPECT_TRUE(matcher.ProvedFalse());
    EXPECT_LE(matcher.StrongHashes(), core::BlockMatcher::kMissesPerBlock) << "blocks of one checksum are given up together";
    EXPECT_LE(matcher.TableSteps(), 2 * hostile.BlockCount() * core::BlockMatcher::kMissesPerBlock) << "and leave the table";
    for (std::int64_t at : matcher.Finish()) EXPECT_EQ(at, -1);
    // Every block's checksum that of a window the copy holds four times over, every hash wrong: the search
    // ends once the misses reach the block count and the spare ones.
    const std::string quarter = Random(512 * 1024, 8), fourTimes = quarter + quarter + quarter + quarter;
    core::BlockMap recurring = map;
    for (std::size_t j = 0; j < recurring.BlockCount(); ++j) recurring.checksums[j] = core::BlockChecksum(quarter.data() + j * 2000, 4096);
    core::BlockMatcher budgeted(recurring, Sha);
    for (std::size_t at = 0; at < fourTimes.size(); at += 65536) budgeted.Feed(fourTimes.data() + at, 65536);
    EXPECT_TRUE(budgeted.ProvedFalse());
    EXPECT_LE(budgeted.StrongHashes(), recurring.BlockCount() + core::BlockMatcher::kSpareMisses);
    // Checksums a map chose to share the zero window's bucket (under the default spread), none of them the
    // zero window's: under the run's own seed they spread, and a window of zeros looks at few blocks.
    core::BlockMap crowded = map;
    for (std::uint32_t c = 1, j = 0; j < crowded.BlockCount(); ++c) {
        if ((c * 0x9E3779B9u) >> 22 == 0) crowded.checksums[j++] = c;  // bucket 0 of the 1024 this map's table has
    }
    core::BlockMatcher spread(crowded, Sha, nullptr, 0x2545F491u);
    for (std::size_t at = 0; at < zeros.size(); at += 65536) spread.Feed(zeros.data() + at, 65536);
    EXPECT_LE(spread.TableSteps(), 4 * zeros.size()) << "a few blocks a window at most, not all 257";

    // A window whose checksum is a block's and whose bytes are not (three bytes changed so that both sums
    // stay): the strong hash refuses it, and one such window proves nothing false.
    std::string twin = newer.substr(0, 4096);
    twin[100] = static_cast<char>(twin[100] + 1);
    twin[101] = static_cast<char>(twin[101] - 2);
    twin[102] = static_cast<char>(twin[102] + 1);
    ASSERT_EQ(core::BlockChecksum(twin.data(), 4096), map.checksums[0]);
    core::BlockMatcher refusing(map, Sha);
    refusing.Feed(twin.data(), twin.size());
    EXPECT_EQ(refusing.StrongHashes(), 1u) << "the checksum matched";
    EXPECT_EQ(refusing.Finish()[0], -1) << "the hash did not";
    EXPECT_FALSE(refusing.ProvedFalse());

    // A stop is answered before the next hash or piece.
    int asked = 0;
    core::BlockMatcher stopped(hostile, Sha, [&asked] { return ++asked < 3; });
    EXPECT_FALSE(stopped.Feed(zeros.data(), zeros.size()));
    EXPECT_TRUE(stopped.Abandoned());
    EXPECT_LE(stopped.StrongHashes(), 1u);
    EXPECT_FALSE(stopped.Feed(zeros.data(), 1)) << "nothing more is looked at";
}

// What the matcher holds stays within two blocks and a piece, however the copy comes.
TEST(BlockMap, TheSearchHoldsNoMoreThanTwoBlocksAndAPiece) {
    const std::string old = Random(4 << 20, 7);
    core::BlockMap map;
    ASSERT_TRUE(core::ParseBlockMap(MapOf(old, 65536), old.size(), map));
    for (std::size_t piece : {std::size_t{1000}, std::size_t{65536}}) {
        core::BlockMatcher matcher(map, Sha);
        std::size_t most = 0;
        for (std::size_t at = 0; at < old.size(); at += piece) {
            matcher.Feed(old.data() + at, std::min(piece, old.size() - at));
            most = std::max(most, matcher.HeldBytes());
        }
        EXPECT_LE(most, 4 * map.blockSize + 2 * piece) << "pieces of " << piece;
        EXPECT_EQ(core::MissingRanges(map, matcher.Finish()).size(), 0u);
    }
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
    using R = std::vector<core::ByteRange>;
    const struct {
        const char* name;
        std::size_t maxRanges;
        std::uint64_t maxBytes;
        std::vector<R> batches;
    } batching[] = {
        {"all in one", 32, 1000, {ranges}},
        {"two ranges a request", 2, 1000, {R{{100, 300}, {400, 500}}, R{{800, 1050}}}},
        {"250 bytes a request: a range split where one is full", 32, 250,
         {R{{100, 300}, {400, 450}}, R{{450, 500}, {800, 1000}}, R{{1000, 1050}}}},
        {"100 bytes a request", 32, 100, {R{{100, 200}}, R{{200, 300}}, R{{400, 500}}, R{{800, 900}}, R{{900, 1000}}, R{{1000, 1050}}}},
    };
    for (const auto& b : batching) EXPECT_EQ(core::BatchRanges(ranges, b.maxRanges, b.maxBytes), b.batches) << b.name;
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
    EXPECT_TRUE(core::ByteRangesBoundary("multipart/byteranges; boundary=" + std::string(70, 'b'), boundary));
    EXPECT_FALSE(core::ByteRangesBoundary("multipart/byteranges; boundary=" + std::string(71, 'b'), boundary)) << "over 70 characters";
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
        {"a one-byte range", part("99-99/100", "Z") + "\r\n" + b + "--", true, true, "99:Z"},
        {"its header spelled in lower case", "\r\n" + b + "\r\ncontent-range: bytes 3-4/100\r\n\r\nCC\r\n" + b + "--", true, true, "3:CC"},
        {"a delimiter line with more after the boundary", "\r\n" + b + "X\r\nContent-Range: bytes 3-4/100\r\n\r\nCC", false, false, ""},
        {"the closing delimiter and a line end", two + "\r\n", true, true, "0:AAAAA 10:B\r\n--"},
        {"an endless epilogue", two + std::string(65, 'e'), false, false, "0:AAAAA 10:B\r\n--"},
        {"more parts than ranges asked for", part("0-0/100", "A") + part("1-1/100", "A") + part("2-2/100", "A"), false, false, "0:AA"},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {c.body.size(), std::size_t{1}}) {
            SCOPED_TRACE(std::string(c.name) + (piece == 1 ? ", byte by byte" : ""));
            std::map<std::uint64_t, std::string> parts;
            core::ByteRangesReader reader(b.substr(2), 100, 2, [&parts](std::uint64_t at, const char* data, std::size_t size) {
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
    core::ByteRangesReader refusing("00000000001", 100, 2, [](std::uint64_t, const char*, std::size_t) { return false; });
    EXPECT_FALSE(refusing.Feed(two.data(), two.size())) << "a sink that refuses ends the reading";
    // What a request's answer may take: nginx's answer for two ranges fits, with little room to spare.
    const std::vector<core::ByteRange> asked = {{0, 5}, {10, 15}};
    EXPECT_LE(two.size(), core::RangeAnswerBound(asked, 11));
    EXPECT_LT(core::RangeAnswerBound(asked, 11), 10 + 4096u);
}

}  // namespace
