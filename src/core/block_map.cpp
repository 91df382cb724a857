#include "core/block_map.h"

#include <algorithm>
#include <cstring>

#include "core/text.h"

namespace core {

namespace {

void PutLittle(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t GetLittle(const std::string& in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    return value;
}

}  // namespace

std::uint32_t ChooseBlockSize(std::uint64_t fileSize) {
    // About the square root of the size, as rsync chooses: the map and the bytes a change costs stay balanced.
    std::uint32_t size = 4096;
    while (size < kMaxBlockSize / 16 && static_cast<std::uint64_t>(size) * size < fileSize) size *= 2;
    return size;
}

void RollingChecksum::Reset(const unsigned char* data, std::size_t size) {
    m_a = m_b = 0;
    m_size = static_cast<std::uint16_t>(size);
    for (std::size_t i = 0; i < size; ++i) {
        m_a = static_cast<std::uint16_t>(m_a + data[i]);
        m_b = static_cast<std::uint16_t>(m_b + m_a);
    }
}

std::uint32_t BlockChecksum(const char* data, std::size_t size) {
    RollingChecksum sum;
    sum.Reset(reinterpret_cast<const unsigned char*>(data), size);
    return sum.Value();
}

std::uint32_t BlockMap::BlockLength(std::size_t block) const {
    const std::uint64_t start = static_cast<std::uint64_t>(block) * blockSize;
    return static_cast<std::uint32_t>(fileSize - start < blockSize ? fileSize - start : blockSize);
}

BlockMapWriter::BlockMapWriter(std::uint64_t fileSize, BlockHasher hasher, std::uint32_t blockSize)
    : m_fileSize(fileSize), m_blockSize(blockSize ? blockSize : ChooseBlockSize(fileSize)), m_hasher(std::move(hasher)) {
    m_out.append(kBlockMapMagic, 8);
    PutLittle(m_out, m_fileSize, 8);
    PutLittle(m_out, m_blockSize, 4);
    m_pending.reserve(m_blockSize);
}

void BlockMapWriter::Block(const char* data, std::size_t size) {
    PutLittle(m_out, BlockChecksum(data, size), 4);
    const StrongHash strong = m_hasher(data, size);
    m_out.append(reinterpret_cast<const char*>(strong.data()), strong.size());
}

void BlockMapWriter::Feed(const char* data, std::size_t size) {
    m_fed += size;
    while (size > 0) {
        if (m_pending.empty() && size >= m_blockSize) {  // whole blocks straight from the caller's bytes
            Block(data, m_blockSize);
            data += m_blockSize;
            size -= m_blockSize;
            continue;
        }
        const std::size_t take = std::min<std::size_t>(size, m_blockSize - m_pending.size());
        m_pending.append(data, take);
        data += take;
        size -= take;
        if (m_pending.size() == m_blockSize) {
            Block(m_pending.data(), m_pending.size());
            m_pending.clear();
        }
    }
}

std::string BlockMapWriter::Finish() {
    if (m_fed != m_fileSize) return std::string();
    if (!m_pending.empty()) Block(m_pending.data(), m_pending.size());
    m_pending.clear();
    return std::move(m_out);
}

bool ParseBlockMap(const std::string& bytes, std::uint64_t fileSize, BlockMap& map) {
    if (bytes.size() < kBlockMapHeaderSize || bytes.compare(0, 8, kBlockMapMagic, 8) != 0) return false;
    const std::uint64_t size = GetLittle(bytes, 8, 8);
    const std::uint32_t blockSize = static_cast<std::uint32_t>(GetLittle(bytes, 16, 4));
    if (size != fileSize || size == 0 || blockSize != ChooseBlockSize(size)) return false;
    // The count the size and the block size make, checked against the bytes there are before anything is made.
    const std::uint64_t count = size / blockSize + (size % blockSize ? 1 : 0);
    if ((bytes.size() - kBlockMapHeaderSize) % kBlockEntrySize != 0 || (bytes.size() - kBlockMapHeaderSize) / kBlockEntrySize != count) {
        return false;
    }
    map.fileSize = size;
    map.blockSize = blockSize;
    map.checksums.resize(static_cast<std::size_t>(count));
    map.hashes.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = kBlockMapHeaderSize + i * kBlockEntrySize;
        map.checksums[i] = static_cast<std::uint32_t>(GetLittle(bytes, at, 4));
        std::memcpy(map.hashes[i].data(), bytes.data() + at + 4, 16);
    }
    return true;
}

BlockMatcher::BlockMatcher(const BlockMap& map, BlockHasher hasher, std::function<bool()> goOn, std::uint32_t seed)
    : m_map(map), m_hasher(std::move(hasher)), m_goOn(std::move(goOn)), m_misses(map.BlockCount(), 0),
      m_missesLeft(map.BlockCount() + kSpareMisses), m_found(map.BlockCount(), -1), m_multiplier(seed | 1) {
    unsigned bits = 4;
    while ((std::size_t{1} << bits) < 2 * map.BlockCount()) ++bits;
    m_shift = 32 - bits;
    m_heads.assign(std::size_t{1} << bits, -1);
    m_next.assign(map.BlockCount(), -1);
    for (std::size_t j = 0; j < map.BlockCount(); ++j) {
        if (map.BlockLength(j) != map.blockSize) continue;  // a shorter last block is looked for at the end
        const std::uint32_t bucket = Bucket(map.checksums[j]);
        m_next[j] = m_heads[bucket];
        m_heads[bucket] = static_cast<std::int32_t>(j);
    }
    m_window.reserve(2 * static_cast<std::size_t>(map.blockSize));
}

void BlockMatcher::TryMatch() {
    const std::uint32_t value = m_sum.Value();
    bool hashed = false, matched = false;
    StrongHash strong{};
    // A block found or given up leaves its bucket: no window looks at it again.
    for (std::int32_t* link = &m_heads[Bucket(value)]; *link >= 0;) {
        const std::size_t block = static_cast<std::size_t>(*link);
        ++m_steps;
        if (m_map.checksums[block] != value) {
            link = &m_next[block];
            continue;
        }
        if (!hashed) {
            if (m_goOn && !m_goOn()) {
                m_abandoned = true;
                return;
            }
            strong = m_hasher(m_window.data() + m_pos, m_map.blockSize);
            hashed = true;
            ++m_hashes;
        }
        bool leaves = false;
        if (strong == m_map.hashes[block]) {
            m_found[block] = m_windowAt + static_cast<std::int64_t>(m_pos);
            matched = leaves = true;
        } else if (++m_misses[block] == kMissesPerBlock) {
            ++m_falseBlocks;
            leaves = true;
        }
        if (leaves) {
            *link = m_next[block];
        } else {
            link = &m_next[block];
        }
    }
    if (hashed && !matched) --m_missesLeft;
    // A block found: the search goes on after it (its bytes cannot begin another block of the new file
    // that the copy holds only once).
    if (matched) {
        m_pos += m_map.blockSize;
        m_rolling = false;
    }
}

bool BlockMatcher::Feed(const char* data, std::size_t size) {
    if (Ended()) return false;
    if (m_goOn && !m_goOn()) {
        m_abandoned = true;
        return false;
    }
    const std::size_t block = m_map.blockSize;
    const std::size_t last = m_map.BlockCount() ? m_map.BlockLength(m_map.BlockCount() - 1) : 0;
    // The copy's last bytes, for a short last block.
    if (last < block && last > 0) {
        if (size >= last) {
            m_tail.assign(data + size - last, last);
        } else {
            m_tail.append(data, size);
            if (m_tail.size() > last) m_tail.erase(0, m_tail.size() - last);
        }
    }
    if (block == 0 || m_map.BlockCount() == 0) return true;
    m_window.append(data, size);
    const auto bytes = [this] { return reinterpret_cast<const unsigned char*>(m_window.data()); };
    while (!Ended()) {
        if (m_window.size() - m_pos < block) break;
        if (!m_rolling) {
            m_sum.Reset(bytes() + m_pos, block);
            m_rolling = true;
            TryMatch();
            continue;
        }
        // The block at m_pos was looked for: the window moves a byte on when there is one.
        if (m_window.size() <= m_pos + block) break;
        m_sum.Roll(bytes()[m_pos], bytes()[m_pos + block]);
        ++m_pos;
        TryMatch();
    }
    // What no block can begin in any more goes: the window stays within two blocks and a piece.
    if (m_pos > block) {
        m_window.erase(0, m_pos);
        m_windowAt += static_cast<std::int64_t>(m_pos);
        m_pos = 0;
    }
    return !Ended();
}

std::vector<std::int64_t> BlockMatcher::Finish() {
    const std::size_t count = m_map.BlockCount();
    if (count > 0) {
        const std::size_t last = m_map.BlockLength(count - 1);
        const std::int64_t fed = m_windowAt + static_cast<std::int64_t>(m_window.size());
        if (last < m_map.blockSize && m_found[count - 1] < 0 && m_tail.size() == last &&
            m_hasher(m_tail.data(), last) == m_map.hashes[count - 1] && BlockChecksum(m_tail.data(), last) == m_map.checksums[count - 1]) {
            m_found[count - 1] = fed - static_cast<std::int64_t>(last);
        }
    }
    return m_found;
}

std::vector<std::vector<ByteRange>> BatchRanges(std::vector<ByteRange> ranges, std::size_t maxRanges, std::uint64_t maxBytes) {
    std::vector<std::vector<ByteRange>> batches;
    std::uint64_t bytes = 0;
    for (ByteRange r : ranges) {
        while (r.first < r.end) {
            if (batches.empty() || batches.back().size() == maxRanges || bytes == maxBytes) {
                batches.emplace_back();
                bytes = 0;
            }
            // A range longer than a batch has room for goes on in the next one.
            const std::uint64_t take = std::min(r.end - r.first, maxBytes - bytes);
            batches.back().push_back({r.first, r.first + take});
            bytes += take;
            r.first += take;
        }
    }
    return batches;
}

std::vector<ByteRange> MissingRanges(const BlockMap& map, const std::vector<std::int64_t>& found) {
    std::vector<ByteRange> ranges;
    for (std::size_t j = 0; j < map.BlockCount() && j < found.size(); ++j) {
        if (found[j] >= 0) continue;
        const std::uint64_t first = static_cast<std::uint64_t>(j) * map.blockSize, end = first + map.BlockLength(j);
        if (!ranges.empty() && ranges.back().end == first) {
            ranges.back().end = end;
        } else {
            ranges.push_back({first, end});
        }
    }
    return ranges;
}

std::uint64_t RangeAnswerBound(const std::vector<ByteRange>& ranges, std::size_t boundarySize) {
    std::uint64_t bytes = 0;
    for (const ByteRange& r : ranges) bytes += r.end - r.first;
    return bytes + (ranges.size() + 1) * (kPartOverhead + boundarySize) + ByteRangesReader::kMaxEpilogue;
}

std::string RangesHeaderValue(const std::vector<ByteRange>& ranges) {
    std::string value = "bytes=";
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (i) value += ',';
        value += std::to_string(ranges[i].first) + "-" + std::to_string(ranges[i].end - 1);
    }
    return value;
}

bool ParseContentRange(const std::string& value, std::uint64_t total, ByteRange& range) {
    const std::string v = TrimBlanks(value);
    const std::size_t dash = v.find('-'), slash = v.find('/');
    std::uint64_t first = 0, last = 0, length = 0;
    if (v.compare(0, 6, "bytes ") != 0 || dash == std::string::npos || slash == std::string::npos || slash < dash ||
        !ParseDecimal(v.substr(6, dash - 6), first) || !ParseDecimal(v.substr(dash + 1, slash - dash - 1), last) ||
        !ParseDecimal(v.substr(slash + 1), length) || length != total || first > last || last >= total) {
        return false;
    }
    range = {first, last + 1};
    return true;
}

bool ByteRangesBoundary(const std::string& contentType, std::string& boundary) {
    const std::string type = AsciiLower(contentType);
    if (type.compare(0, 21, "multipart/byteranges;") != 0) return false;
    const std::size_t at = type.find("boundary=");
    if (at == std::string::npos) return false;
    boundary = TrimBlanks(contentType.substr(at + 9));
    if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"') boundary = boundary.substr(1, boundary.size() - 2);
    // RFC 2046: 1 to 70 characters, none of them a control character.
    return !boundary.empty() && boundary.size() <= 70 && !HasControlCharacter(boundary);
}

ByteRangesReader::ByteRangesReader(std::string boundary, std::uint64_t total, std::size_t maxParts, PartSink sink)
    : m_delimiter("--" + boundary), m_total(total), m_partsLeft(maxParts), m_sink(std::move(sink)) {}

bool ByteRangesReader::Feed(const char* data, std::size_t size) {
    while (size > 0) {
        if (m_state == State::Failed) return false;
        if (m_state == State::End) {
            // An epilogue means nothing, and may not go on.
            m_epilogue += size;
            return m_epilogue <= kMaxEpilogue || Fail();
        }
        if (m_state == State::Data) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(m_left, size));
            if (!m_sink(m_at, data, n)) return Fail();
            m_at += n;
            m_left -= n;
            data += n;
            size -= n;
            if (m_left == 0) m_state = State::Delimiter;
            continue;
        }
        m_pending += *data++;
        --size;
        const bool goesOn = m_state == State::Delimiter        ? DelimiterByte()
                            : m_state == State::AfterDelimiter ? AfterDelimiterByte()
                                                               : HeaderByte();
        if (!goesOn) return Fail();
    }
    return true;
}

bool ByteRangesReader::DelimiterByte() {
    // "--boundary" first (a preamble before it is allowed), then "\r\n--boundary" after each part.
    const std::string expected = m_first ? m_delimiter : "\r\n" + m_delimiter;
    if (m_first && m_pending.size() > kMaxHeaders) return false;
    const bool whole = m_first ? m_pending.size() >= expected.size() &&
                                     m_pending.compare(m_pending.size() - expected.size(), expected.size(), expected) == 0
                               : m_pending == expected;
    if (whole) {
        m_pending.clear();
        m_first = false;
        m_state = State::AfterDelimiter;
        return true;
    }
    return m_first || expected.compare(0, m_pending.size(), m_pending) == 0;
}

bool ByteRangesReader::AfterDelimiterByte() {
    if (m_pending.size() < 2) return true;
    if (m_pending != "--" && m_pending != "\r\n") return false;
    m_state = m_pending == "--" ? State::End : State::Headers;
    m_pending.clear();
    return true;
}

bool ByteRangesReader::HeaderByte() {
    if (m_pending.size() > kMaxHeaders) return false;
    // Whole at the blank line (or at once, when the part has no header at all).
    const bool blankLine = m_pending.size() >= 4 && m_pending.compare(m_pending.size() - 4, 4, "\r\n\r\n") == 0;
    if (!blankLine && m_pending != "\r\n") return true;
    // The part's headers are whole: its Content-Range says where its bytes go.
    ByteRange range;
    bool found = false;
    std::size_t from = 0;
    for (std::size_t end; (end = m_pending.find("\r\n", from)) != std::string::npos; from = end + 2) {
        const std::string line = m_pending.substr(from, end - from);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && EqualsNoCase(TrimBlanks(line.substr(0, colon)), "Content-Range")) {
            found = ParseContentRange(line.substr(colon + 1), m_total, range);
            if (!found) return false;
        }
    }
    if (!found || m_partsLeft == 0) return false;
    --m_partsLeft;
    m_pending.clear();
    m_at = range.first;
    m_left = range.end - range.first;
    m_state = State::Data;
    return true;
}

}  // namespace core
