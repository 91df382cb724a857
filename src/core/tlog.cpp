#include "core/tlog.h"

#include <algorithm>

#include "core/text.h"

namespace core::tlog {

namespace {

// The largest power of two below n (n > 1).
std::uint64_t SplitOf(std::uint64_t n) {
    std::uint64_t k = 1;
    while (k * 2 < n) k *= 2;
    return k;
}

void InclusionNodes(std::uint64_t index, std::uint64_t lo, std::uint64_t hi, std::vector<Range>& out) {
    if (hi - lo <= 1) return;
    const std::uint64_t k = SplitOf(hi - lo);
    if (index < lo + k) {
        InclusionNodes(index, lo, lo + k, out);
        out.push_back({lo + k, hi});
    } else {
        InclusionNodes(index, lo + k, hi, out);
        out.push_back({lo, lo + k});
    }
}

// RFC 6962's SUBPROOF(m, D[lo:hi], whole).
void ConsistencyNodes(std::uint64_t m, std::uint64_t lo, std::uint64_t hi, bool whole, std::vector<Range>& out) {
    if (m == hi - lo) {
        if (!whole) out.push_back({lo, hi});
        return;
    }
    const std::uint64_t k = SplitOf(hi - lo);
    if (m <= k) {
        ConsistencyNodes(m, lo, lo + k, whole, out);
        out.push_back({lo + k, hi});
    } else {
        ConsistencyNodes(m - k, lo + k, hi, false, out);
        out.push_back({lo, lo + k});
    }
}

// The tile's number written in groups of three digits, each but the last after an "x".
std::string TileNumber(std::uint64_t n) {
    std::string text;
    do {
        char group[4] = {static_cast<char>('0' + n / 100 % 10), static_cast<char>('0' + n / 10 % 10), static_cast<char>('0' + n % 10), 0};
        text.insert(0, (text.empty() ? "" : "x") + std::string(group) + (text.empty() ? "" : "/"));
        n /= 1000;
    } while (n > 0);
    return text;
}

void Shift(std::uint64_t& a, std::uint64_t& b) {
    a >>= 1;
    b >>= 1;
}

}  // namespace

std::string EntryText(const std::string& path, const Hash& fileDigest) {
    return path + " " + HexLower(fileDigest.data(), fileDigest.size()) + "\n";
}

Hash Hasher::Leaf(const std::string& entry) {
    m_leaf.assign(1, '\0');
    m_leaf += entry;
    Hash h{};
    m_ok = m_sha256(m_leaf.data(), m_leaf.size(), h) && m_ok;
    return h;
}

Hash Hasher::Empty() {
    Hash h{};
    m_ok = m_sha256("", 0, h) && m_ok;
    return h;
}

Hash Hasher::Node(const Hash& left, const Hash& right) {
    std::uint8_t both[65];
    both[0] = 1;
    std::copy(left.begin(), left.end(), both + 1);
    std::copy(right.begin(), right.end(), both + 33);
    Hash h{};
    m_ok = m_sha256(both, sizeof both, h) && m_ok;
    return h;
}

Hash RootOf(Hasher& hasher, const std::vector<Hash>& leaves) {
    if (leaves.empty()) return hasher.Empty();
    // Level by level: an odd node at the end of a level is carried up as it is (RFC 6962's split).
    std::vector<Hash> level = leaves;
    while (level.size() > 1) {
        std::size_t out = 0;
        for (std::size_t i = 0; i + 1 < level.size(); i += 2) level[out++] = hasher.Node(level[i], level[i + 1]);
        if (level.size() % 2) level[out++] = level.back();
        level.resize(out);
    }
    return level[0];
}

std::vector<std::vector<Hash>> StoredLevels(Hasher& hasher, const std::vector<Hash>& leaves) {
    std::vector<std::vector<Hash>> levels{leaves};
    std::vector<Hash> level = leaves;
    for (;;) {
        for (int up = 0; up < kTileHeight && !level.empty(); ++up) {
            std::vector<Hash> next(level.size() / 2);
            for (std::size_t i = 0; i < next.size(); ++i) next[i] = hasher.Node(level[2 * i], level[2 * i + 1]);
            level.swap(next);
        }
        if (level.empty()) return levels;
        levels.push_back(level);
    }
}

std::string TileBytes(const std::vector<std::vector<Hash>>& levels, const TileId& tile) {
    std::string bytes;
    const std::vector<Hash>& level = levels.at(static_cast<std::size_t>(tile.level));
    for (std::uint64_t i = tile.index * kTileWidth; i < tile.index * kTileWidth + tile.width && i < level.size(); ++i) {
        bytes.append(level[i].begin(), level[i].end());
    }
    return bytes;
}

std::string BundleBytes(const std::vector<std::string>& entries, const TileId& tile) {
    std::string bytes;
    for (std::uint64_t i = tile.index * kTileWidth; i < tile.index * kTileWidth + tile.width && i < entries.size(); ++i) {
        const std::string& e = entries[i];
        bytes += static_cast<char>((e.size() >> 8) & 0xFF);
        bytes += static_cast<char>(e.size() & 0xFF);
        bytes += e;
    }
    return bytes;
}

bool ParseBundle(const std::string& bytes, unsigned width, std::vector<std::string>& entries) {
    std::size_t at = 0;
    for (unsigned i = 0; i < width; ++i) {
        if (at + 2 > bytes.size()) return false;
        const std::size_t length = (static_cast<std::size_t>(static_cast<std::uint8_t>(bytes[at])) << 8) | static_cast<std::uint8_t>(bytes[at + 1]);
        if (at + 2 + length > bytes.size()) return false;
        entries.push_back(bytes.substr(at + 2, length));
        at += 2 + length;
    }
    return at == bytes.size();
}

std::string TilePath(const TileId& tile) {
    std::string path = "tile/" + (tile.entries ? std::string("entries") : std::to_string(tile.level)) + "/" + TileNumber(tile.index);
    if (tile.width < kTileWidth) path += ".p/" + std::to_string(tile.width);
    return path;
}

TileId TileFor(int height, std::uint64_t index, std::uint64_t treeSize) {
    TileId tile;
    tile.level = height / kTileHeight;
    const int base = tile.level * kTileHeight;
    tile.index = (index << (height - base)) / kTileWidth;
    const std::uint64_t stored = treeSize >> base;  // hashes at the tile's level in this tree
    tile.width = static_cast<unsigned>(std::min<std::uint64_t>(kTileWidth, stored - tile.index * kTileWidth));
    return tile;
}

std::vector<TileId> TilesOf(std::uint64_t treeSize, std::uint64_t fromSize) {
    std::vector<TileId> tiles;
    for (int level = 0; (treeSize >> (level * kTileHeight)) > 0; ++level) {
        const std::uint64_t stored = treeSize >> (level * kTileHeight), before = fromSize >> (level * kTileHeight);
        for (std::uint64_t index = before / kTileWidth; index * kTileWidth < stored; ++index) {
            TileId tile;
            tile.level = level;
            tile.index = index;
            tile.width = static_cast<unsigned>(std::min<std::uint64_t>(kTileWidth, stored - index * kTileWidth));
            const unsigned had = static_cast<unsigned>(std::min<std::uint64_t>(kTileWidth, before > index * kTileWidth ? before - index * kTileWidth : 0));
            if (had == tile.width) continue;
            tiles.push_back(tile);
            if (level == 0) {
                tile.entries = true;
                tiles.push_back(tile);
            }
        }
    }
    return tiles;
}

std::vector<Range> InclusionProof(std::uint64_t index, std::uint64_t size) {
    std::vector<Range> nodes;
    if (index < size) InclusionNodes(index, 0, size, nodes);
    return nodes;
}

std::vector<Range> ConsistencyProof(std::uint64_t oldSize, std::uint64_t size) {
    std::vector<Range> nodes;
    if (oldSize > 0 && oldSize < size) ConsistencyNodes(oldSize, 0, size, true, nodes);
    return nodes;
}

bool RootFromInclusion(Hasher& hasher, std::uint64_t index, std::uint64_t size, const Hash& leaf, const std::vector<Hash>& proof,
                       Hash& root) {
    if (index >= size) return false;
    std::uint64_t fn = index, sn = size - 1;
    Hash r = leaf;
    for (const Hash& p : proof) {
        if (sn == 0) return false;
        if ((fn & 1) || fn == sn) {
            r = hasher.Node(p, r);
            while (!(fn & 1) && fn != 0) Shift(fn, sn);
        } else {
            r = hasher.Node(r, p);
        }
        Shift(fn, sn);
    }
    root = r;
    return sn == 0 && hasher.ok();
}

bool ConsistencyHolds(Hasher& hasher, std::uint64_t oldSize, std::uint64_t size, const Hash& oldRoot, const Hash& root,
                      const std::vector<Hash>& proof) {
    if (oldSize == 0 || oldSize > size) return false;
    if (oldSize == size) return proof.empty() && oldRoot == root;
    std::vector<Hash> path;
    if ((oldSize & (oldSize - 1)) == 0) path.push_back(oldRoot);  // a perfect old tree is a node of the new one
    path.insert(path.end(), proof.begin(), proof.end());
    if (path.empty()) return false;
    std::uint64_t fn = oldSize - 1, sn = size - 1;
    while (fn & 1) Shift(fn, sn);
    Hash fr = path[0], sr = path[0];
    for (std::size_t i = 1; i < path.size(); ++i) {
        const Hash& c = path[i];
        if (sn == 0) return false;
        if ((fn & 1) || fn == sn) {
            fr = hasher.Node(c, fr);
            sr = hasher.Node(c, sr);
            while (!(fn & 1) && fn != 0) Shift(fn, sn);
        } else {
            sr = hasher.Node(sr, c);
        }
        Shift(fn, sn);
    }
    return sn == 0 && fr == oldRoot && sr == root && hasher.ok();
}

const std::string* TileReader::Tile(const TileId& tile) {
    for (const Held& h : m_held) {
        if (h.id.level == tile.level && h.id.index == tile.index && h.id.width >= tile.width && !h.id.entries) return &h.bytes;
    }
    std::string bytes;
    const bool had = m_source(tile, bytes);
    ++m_tiles;
    m_bytes += bytes.size();
    // A wider tile of the same place holds the same hashes first (a full one where a partial one was asked
    // for); a shorter one, or one that is no whole number of hashes, is not that tile.
    if (!had || bytes.size() < tile.width * std::size_t{32} || bytes.size() > kMaxTileBytes || bytes.size() % 32 != 0) {
        m_badTile = TilePath(tile) + (had ? " holds " + std::to_string(bytes.size()) + " bytes, " + std::to_string(tile.width * 32) + " were due"
                                          : " could not be fetched");
        return nullptr;
    }
    // A proof reads at most a few tiles of each level: the last four are all it comes back to.
    if (m_held.size() == 4) m_held.erase(m_held.begin());
    m_held.push_back({tile, std::move(bytes)});
    return &m_held.back().bytes;
}

bool TileReader::Node(int height, std::uint64_t index, Hash& hash) {
    const TileId tile = TileFor(height, index, m_size);
    const std::string* bytes = Tile(tile);
    if (!bytes) return false;
    // The node's hashes at the tile's level, made up to its height.
    const int up = height - tile.level * kTileHeight;
    const std::size_t first = static_cast<std::size_t>((index << up) - tile.index * kTileWidth);
    std::vector<Hash> level(std::size_t{1} << up);
    for (std::size_t i = 0; i < level.size(); ++i) std::copy_n(bytes->data() + (first + i) * 32, 32, level[i].begin());
    hash = RootOf(m_hasher, level);
    return m_hasher.ok();
}

bool TileReader::RangeHash(std::uint64_t lo, std::uint64_t hi, Hash& hash) {
    if (lo >= hi || hi > m_size) return false;
    // The range's perfect subtrees, left to right, then folded from the right.
    std::vector<Hash> parts;
    for (std::uint64_t at = lo; at < hi;) {
        int height = 0;
        while (at % (std::uint64_t{2} << height) == 0 && at + (std::uint64_t{2} << height) <= hi) ++height;
        Hash part;
        if (!Node(height, at >> height, part)) return false;
        parts.push_back(part);
        at += std::uint64_t{1} << height;
    }
    hash = parts.back();
    for (std::size_t i = parts.size() - 1; i-- > 0;) hash = m_hasher.Node(parts[i], hash);
    return m_hasher.ok();
}

bool TileReader::ProofHashes(const std::vector<Range>& nodes, std::vector<Hash>& hashes) {
    hashes.clear();
    for (const Range& r : nodes) {
        Hash h;
        if (!RangeHash(r.lo, r.hi, h)) return false;
        hashes.push_back(h);
    }
    return true;
}

ProofOutcome GrowsFrom(TileReader& reader, Hasher& hasher, std::uint64_t oldSize, const Hash& oldRoot, std::uint64_t size, const Hash& root) {
    std::vector<Hash> proof;
    if (!reader.ProofHashes(ConsistencyProof(oldSize, size), proof)) return ProofOutcome::BadTiles;
    return ConsistencyHolds(hasher, oldSize, size, oldRoot, root, proof) ? ProofOutcome::Holds : ProofOutcome::Fails;
}

ProofOutcome Includes(TileReader& reader, Hasher& hasher, std::uint64_t index, const Hash& leaf, std::uint64_t size, const Hash& root) {
    // The tiles' own leaf at index must give the root: else the tiles are wrong, whatever the leaf.
    Hash stored, computed;
    std::vector<Hash> proof;
    if (!reader.RangeHash(index, index + 1, stored) || !reader.ProofHashes(InclusionProof(index, size), proof) ||
        !RootFromInclusion(hasher, index, size, stored, proof, computed) || computed != root) {
        return ProofOutcome::BadTiles;
    }
    return stored == leaf && hasher.ok() ? ProofOutcome::Holds : ProofOutcome::Fails;
}

bool ParseCheckpoint(const std::string& text, Checkpoint& checkpoint) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t nl; lines.size() < 3 && (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
        lines.push_back(text.substr(at, nl - at));
    }
    std::string root;
    if (lines.size() < 3 || lines[0].empty() || !ParseCanonicalDecimal(lines[1], checkpoint.size) || !DecodeBase64(lines[2], root) ||
        root.size() != 32) {
        return false;
    }
    checkpoint.origin = lines[0];
    std::copy(root.begin(), root.end(), checkpoint.root.begin());
    return true;
}

std::string FormatCheckpoint(const Checkpoint& checkpoint) {
    return checkpoint.origin + "\n" + std::to_string(checkpoint.size) + "\n" +
           EncodeBase64(std::string(checkpoint.root.begin(), checkpoint.root.end())) + "\n";
}

namespace {

const char kDash[] = "\xE2\x80\x94 ";  // U+2014 and a space

bool ParseSignatureLine(const std::string& line, NoteSignature& s) {
    if (line.compare(0, 4, kDash) != 0) return false;
    const std::size_t blank = line.find(' ', 4);
    std::string bytes;
    if (blank == std::string::npos || blank == 4 || line.find('+', 4) < blank || !DecodeBase64(line.substr(blank + 1), bytes) ||
        bytes.size() < 5) {
        return false;
    }
    s.name = line.substr(4, blank - 4);
    s.keyId = 0;
    for (int i = 0; i < 4; ++i) s.keyId = (s.keyId << 8) | static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(i)]);
    s.signature = bytes.substr(4);
    return true;
}

}  // namespace

bool ParseNote(const std::string& bytes, Note& note) {
    if (bytes.size() > kMaxCheckpointBytes || bytes.empty() || bytes.back() != '\n') return false;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n') return false;
    }
    const std::size_t split = bytes.rfind("\n\n");
    if (split == std::string::npos) return false;
    note.text = bytes.substr(0, split + 1);
    note.signatures.clear();
    for (std::size_t at = split + 2; at < bytes.size();) {
        const std::size_t nl = bytes.find('\n', at);
        NoteSignature s;
        if (note.signatures.size() == kMaxNoteSignatures || !ParseSignatureLine(bytes.substr(at, nl - at), s)) return false;
        note.signatures.push_back(std::move(s));
        at = nl + 1;
    }
    return !note.signatures.empty();
}

std::string SignatureLineOf(const NoteSignature& s) {
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((s.keyId >> shift) & 0xFF);
    return kDash + s.name + " " + EncodeBase64(bytes + s.signature) + "\n";
}

std::string SpkiOf(const P256Point& point) {
    // SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING { 0x04 X Y } }
    static const unsigned char kPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06, 0x08,
                                            0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
    std::string spki(reinterpret_cast<const char*>(kPrefix), sizeof kPrefix);
    spki.append(point.begin(), point.end());
    return spki;
}

std::uint32_t NoteKeyId(const Hash& spkiDigest) {
    return (std::uint32_t{spkiDigest[0]} << 24) | (std::uint32_t{spkiDigest[1]} << 16) | (std::uint32_t{spkiDigest[2]} << 8) | spkiDigest[3];
}

namespace {

// One DER INTEGER at der[at], positive and minimally encoded, into 32 big-endian bytes.
bool DerInteger(const std::string& der, std::size_t& at, std::uint8_t* out) {
    if (at + 2 > der.size() || der[at] != 0x02) return false;
    const std::size_t length = static_cast<std::uint8_t>(der[at + 1]);
    const std::size_t start = at + 2;
    if (length == 0 || length > 33 || start + length > der.size()) return false;
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(der[start + i]); };
    if (byte(0) & 0x80) return false;                                  // negative
    if (length > 1 && byte(0) == 0 && !(byte(1) & 0x80)) return false;  // a zero that need not be there
    const std::size_t skip = byte(0) == 0 ? 1 : 0;
    if (length - skip > 32) return false;
    std::fill(out, out + 32, 0);
    for (std::size_t i = skip; i < length; ++i) out[32 - (length - i)] = byte(i);
    at = start + length;
    return true;
}

void AppendDerInteger(std::string& der, const std::uint8_t* value) {
    std::size_t first = 0;
    while (first < 31 && value[first] == 0) ++first;
    const bool pad = value[first] & 0x80;
    der += '\x02';
    der += static_cast<char>(32 - first + (pad ? 1 : 0));
    if (pad) der += '\0';
    der.append(reinterpret_cast<const char*>(value + first), 32 - first);
}

}  // namespace

bool SignatureFromDer(const std::string& der, P256Signature& signature) {
    if (der.size() < 8 || der[0] != 0x30 || static_cast<std::uint8_t>(der[1]) != der.size() - 2) return false;
    std::size_t at = 2;
    return DerInteger(der, at, signature.data()) && DerInteger(der, at, signature.data() + 32) && at == der.size();
}

std::string SignatureToDer(const P256Signature& signature) {
    std::string body;
    AppendDerInteger(body, signature.data());
    AppendDerInteger(body, signature.data() + 32);
    return std::string("\x30", 1) + static_cast<char>(body.size()) + body;
}

}  // namespace core::tlog
