#pragma once
// Block-level updates from any older copy, apart from the network and the cryptography. The publishing tool
// writes beside a large listed file its block map ("NAME.blocks"): the file's size, a block size, and per block
// of the file a cheap rolling checksum and a strong hash (the first 16 bytes of the block's SHA-256). The
// updater rolls the checksum over the installed copy, byte by byte, to find every block of the new file it
// holds anywhere (after insertions and deletions too), confirms each by its strong hash, and asks the server
// only for the byte ranges it lacks. The whole file's digest and size decide, as always.
//
// The map, all numbers little-endian:
//   "MWBLOCK1"                8 bytes
//   file size                 8 bytes
//   block size                4 bytes: the tool's choice for the file size (ChooseBlockSize)
//   per block, in order:      4 bytes rolling checksum, 16 bytes strong hash
// The block count is the file size divided by the block size, rounded up; the last block may be shorter.
// The map is not signed: only the file made from it is checked. So the updater takes no block size but the
// one the tool chooses, and gives each block of a map a budget of strong hashes that find nothing: whatever
// a hostile map says, the search costs about one pass over the installed copy and a hash of the file's size.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace core {

constexpr char kBlockMapMagic[] = "MWBLOCK1";
constexpr std::size_t kBlockMapHeaderSize = 8 + 8 + 4;
constexpr std::size_t kBlockEntrySize = 4 + 16;
constexpr std::uint32_t kMinBlockSize = 512;
constexpr std::uint32_t kMaxBlockSize = 1u << 20;
// Files smaller than this get no map: the whole file costs little.
constexpr std::uint64_t kMinMappedFileSize = std::uint64_t{1} << 20;

using StrongHash = std::array<std::uint8_t, 16>;
// A block's strong hash from its SHA-256 (32 bytes): the first 16 of them.
inline StrongHash StrongHashOf(const std::uint8_t* sha256) {
    StrongHash h{};
    for (std::size_t i = 0; i < h.size(); ++i) h[i] = sha256[i];
    return h;
}
// The strong hash of a block: the first 16 bytes of its SHA-256 (computed by the platform or OpenSSL).
using BlockHasher = std::function<StrongHash(const char* data, std::size_t size)>;

// The block size the tool chooses for a file: the power of two at or above the square root of its size, from
// 4 KiB to 64 KiB (8 MiB: 4 KiB, 64 MiB: 8 KiB, 100 MB: 16 KiB): a map is about 0.5 % of its file or less,
// and a change costs a block or two.
std::uint32_t ChooseBlockSize(std::uint64_t fileSize);

// The rsync rolling checksum of a window: two 16-bit sums, one of the bytes and one of the running sums.
class RollingChecksum {
public:
    void Reset(const unsigned char* data, std::size_t size);
    // The window moves one byte on: out leaves it at the front, in joins it at the back.
    void Roll(unsigned char out, unsigned char in) {
        m_a = static_cast<std::uint16_t>(m_a - out + in);
        m_b = static_cast<std::uint16_t>(m_b - m_size * out + m_a);
    }
    std::uint32_t Value() const { return static_cast<std::uint32_t>(m_a) | (static_cast<std::uint32_t>(m_b) << 16); }

private:
    std::uint16_t m_a = 0, m_b = 0;
    std::uint16_t m_size = 0;  // the window's length, modulo 2^16 as the sums are
};
std::uint32_t BlockChecksum(const char* data, std::size_t size);

struct BlockMap {
    std::uint64_t fileSize = 0;
    std::uint32_t blockSize = 0;
    std::vector<std::uint32_t> checksums;
    std::vector<StrongHash> hashes;
    std::size_t BlockCount() const { return checksums.size(); }
    std::uint32_t BlockLength(std::size_t block) const;  // the last one may be shorter
};

// The map of a file, its bytes given in any pieces (feed them in order, then Finish).
class BlockMapWriter {
public:
    // blockSize 0: the tool's choice (ChooseBlockSize).
    BlockMapWriter(std::uint64_t fileSize, BlockHasher hasher, std::uint32_t blockSize = 0);
    void Feed(const char* data, std::size_t size);
    // The map's bytes; empty when the bytes fed were not fileSize.
    std::string Finish();

private:
    void Block(const char* data, std::size_t size);
    std::uint64_t m_fileSize, m_fed = 0;
    std::uint32_t m_blockSize;
    BlockHasher m_hasher;
    std::string m_pending;  // of the block being filled
    std::string m_out;
};

// A served map read: false for anything that is not a whole, consistent map of a file of fileSize bytes in
// the tool's block size (a damaged or hostile map means the whole file is fetched instead).
bool ParseBlockMap(const std::string& bytes, std::uint64_t fileSize, BlockMap& map);

// Finds the new file's blocks in an old copy fed in any pieces, in order: each block of the map is found at
// most once, anywhere in the copy. Memory: the map's table and two blocks, whatever the copy's size.
// Strong hashes are rationed: a block whose checksum matched kMissesPerBlock windows that its hash did not
// is looked for no more, and once the hashes that found nothing reach the map's block count and
// kSpareMisses, the search ends. Either proves the map false (a true map's checksums rarely meet a window
// its hash refuses). goOn, asked before every strong hash and every piece: false ends the search (a stop).
class BlockMatcher {
public:
    static constexpr unsigned kMissesPerBlock = 4;
    static constexpr std::uint64_t kSpareMisses = 64;
    // seed: how checksums spread over the table's buckets; a random one keeps a map from choosing checksums that
    // all share a bucket with the copy's windows (each window would then walk them all).
    BlockMatcher(const BlockMap& map, BlockHasher hasher, std::function<bool()> goOn = nullptr, std::uint32_t seed = 0x9E3779B9u);
    // false once the search has ended (a false map, or goOn said no): nothing more is looked at.
    bool Feed(const char* data, std::size_t size);
    // Per block of the new file: where it starts in the old copy, or -1 when the copy does not hold it.
    std::vector<std::int64_t> Finish();
    // The map's checksums met windows its hashes refused, beyond the budget.
    bool ProvedFalse() const { return m_falseBlocks > 0 || m_missesLeft == 0; }
    bool Abandoned() const { return m_abandoned; }  // goOn said no
    std::uint64_t StrongHashes() const { return m_hashes; }
    std::uint64_t TableSteps() const { return m_steps; }  // blocks looked at in the buckets, all windows together
    std::size_t HeldBytes() const { return m_window.capacity() + m_tail.capacity(); }  // of the copy, at the moment

private:
    void TryMatch();
    bool Ended() const { return m_abandoned || m_missesLeft == 0; }
    const BlockMap& m_map;
    BlockHasher m_hasher;
    std::function<bool()> m_goOn;
    std::vector<std::uint8_t> m_misses;        // per block: windows its checksum matched and its hash refused
    std::uint64_t m_missesLeft;                // hashes that may still find nothing
    std::uint64_t m_hashes = 0, m_steps = 0;
    std::size_t m_falseBlocks = 0;             // blocks that used up their misses
    bool m_abandoned = false;
    std::vector<std::int64_t> m_found;
    std::uint32_t Bucket(std::uint32_t checksum) const { return (checksum * m_multiplier) >> m_shift; }
    std::uint32_t m_multiplier;
    unsigned m_shift = 28;
    std::vector<std::int32_t> m_heads, m_next;  // the full blocks by checksum: buckets of a chained table
    std::string m_window;              // the bytes from m_windowAt on that may still begin a block
    std::int64_t m_windowAt = 0;       // the old copy's offset of m_window[0]
    std::size_t m_pos = 0;             // where in m_window the current candidate block begins
    bool m_rolling = false;            // the checksum holds m_window[m_pos, m_pos + block size)
    RollingChecksum m_sum;
    std::string m_tail;                // the old copy's last bytes, for a last block shorter than the others
};

struct ByteRange {
    std::uint64_t first = 0, end = 0;  // [first, end)
    bool operator==(const ByteRange& o) const { return first == o.first && end == o.end; }
};
// The byte ranges of the new file the old copy lacks, neighbouring blocks merged into one range.
std::vector<ByteRange> MissingRanges(const BlockMap& map, const std::vector<std::int64_t>& found);
// The ranges in the order given, as requests: at most maxRanges ranges and maxBytes bytes each (a longer
// range split where a request is full), so that each request can be held to a time of its own.
std::vector<std::vector<ByteRange>> BatchRanges(std::vector<ByteRange> ranges, std::size_t maxRanges, std::uint64_t maxBytes);
// The most body bytes a 206 answer to a request for these ranges may take: the ranges themselves, and per
// part its delimiter and headers (kPartOverhead and the boundary), the closing delimiter and an epilogue.
constexpr std::size_t kPartOverhead = 512;
std::uint64_t RangeAnswerBound(const std::vector<ByteRange>& ranges, std::size_t boundarySize);
// "bytes=a-b,c-d,..." for ranges.
std::string RangesHeaderValue(const std::vector<ByteRange>& ranges);

// A 206 answer's Content-Range ("bytes FIRST-LAST/TOTAL") as the range it carries of an object of total bytes.
bool ParseContentRange(const std::string& value, std::uint64_t total, ByteRange& range);
// The boundary of a "multipart/byteranges" Content-Type (1 to 70 characters); false for any other type.
bool ByteRangesBoundary(const std::string& contentType, std::string& boundary);

// The body of a "206 Partial Content" answer to a request for several ranges (multipart/byteranges): each
// part's bytes handed on with where they belong in the object, as they arrive. Each part's length is its
// Content-Range's, so a boundary's bytes inside a part mean nothing. At most maxParts parts (the ranges asked
// for), a preamble and each part's headers of at most kMaxHeaders bytes, an epilogue of at most kMaxEpilogue.
class ByteRangesReader {
public:
    static constexpr std::size_t kMaxHeaders = 4096;
    static constexpr std::size_t kMaxEpilogue = 64;
    using PartSink = std::function<bool(std::uint64_t offset, const char* data, std::size_t size)>;
    ByteRangesReader(std::string boundary, std::uint64_t total, std::size_t maxParts, PartSink sink);
    // false: not such a body (or the sink refused); nothing more is read then.
    bool Feed(const char* data, std::size_t size);
    // Whether the body ended with its closing delimiter.
    bool Finish() const { return m_state == State::End; }

private:
    enum class State { Delimiter, AfterDelimiter, Headers, Data, End, Failed };
    // The byte just added to m_pending, in the state of its name: false when the body cannot be such a one.
    bool DelimiterByte();
    bool AfterDelimiterByte();
    bool HeaderByte();
    bool Fail() {
        m_state = State::Failed;
        return false;
    }
    std::string m_delimiter;  // "--" boundary
    std::uint64_t m_total;
    std::size_t m_partsLeft;
    std::size_t m_epilogue = 0;  // bytes after the closing delimiter
    PartSink m_sink;
    State m_state = State::Delimiter;
    std::string m_pending;     // bytes of a delimiter or of headers not yet whole
    bool m_first = true;       // before the first delimiter (which may have no CR LF before it)
    std::uint64_t m_at = 0, m_left = 0;  // of the part being read
};

}  // namespace core
