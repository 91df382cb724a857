#pragma once
// The vendor's transparency log, apart from fetching and signatures: RFC 6962's Merkle tree over the log's
// entries, stored as C2SP tlog-tiles (tile height 8), and its checkpoint (C2SP tlog-checkpoint) signed as a
// C2SP signed note. SHA-256 comes from the caller (CNG in the program, OpenSSL in the tool and the tests).
//
// Each version-info file published is one entry, "PATH SHA256HEX\n", and names its place in the log in a
// signed "#log-index N" line: the log's tiles then prove it is there without anything being searched.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/release.h"

namespace core::tlog {

using Hash = Sha256Digest;
// SHA-256 of size bytes at data; false when it cannot be computed.
using Sha256Fn = std::function<bool(const void* data, std::size_t size, Hash& digest)>;

constexpr int kTileHeight = 8;
constexpr unsigned kTileWidth = 1u << kTileHeight;          // hashes in a full tile
constexpr std::size_t kMaxTileBytes = kTileWidth * 32;     // 8 KiB
constexpr std::uint64_t kMaxTreeSize = std::uint64_t{1} << 24;  // what a proof is bounded by: 3 tile levels
constexpr std::size_t kMaxCheckpointBytes = 8192;          // the signed note with its cosignatures
constexpr std::size_t kMaxNoteSignatures = 32;

// The entry of a version-info file published at path (as its "#file" names it) with these bytes' digest.
std::string EntryText(const std::string& path, const Hash& fileDigest);

// RFC 6962's hashes: a leaf SHA-256(0x00 || entry), an inner node SHA-256(0x01 || left || right). A failed
// SHA-256 is remembered: ok() then stays false, and whatever was computed since means nothing.
class Hasher {
public:
    explicit Hasher(Sha256Fn sha256) : m_sha256(std::move(sha256)) {}
    Hash Leaf(const std::string& entry);
    Hash Node(const Hash& left, const Hash& right);
    Hash Empty();  // the empty tree's root: SHA-256 of nothing
    bool ok() const { return m_ok; }

private:
    Sha256Fn m_sha256;
    std::string m_leaf;  // room for 0x00 || entry, kept between leaves
    bool m_ok = true;
};

// The root of the tree over these leaf hashes (RFC 6962's MTH); the empty tree's is SHA-256 of nothing.
Hash RootOf(Hasher& hasher, const std::vector<Hash>& leaves);

// A tile: the hashes at tree level 8 x level, index x 256 onwards, width of them (1 to 256; a partial tile
// below 256). With entries, the entry bundle of the same leaves instead (level 0).
struct TileId {
    int level = 0;
    std::uint64_t index = 0;
    unsigned width = kTileWidth;
    bool entries = false;
};
// Its path under the log's folder: "tile/0/x001/234.p/5", "tile/entries/000".
std::string TilePath(const TileId& tile);
// The tile of a tree of treeSize leaves that holds what node (height, index) is made of, a perfect subtree
// of that tree (its leaves index x 2^height to (index + 1) x 2^height - 1): the tile of level height / 8.
TileId TileFor(int height, std::uint64_t index, std::uint64_t treeSize);
// The tiles of every level that a tree of treeSize leaves has, from first to last of each level, beginning
// with those that the tree of fromSize leaves does not have whole at their width (entries too).
std::vector<TileId> TilesOf(std::uint64_t treeSize, std::uint64_t fromSize);

// The stored hashes of a tree, as its tiles hold them: levels[0] the leaf hashes, levels[l] the hashes of
// the perfect subtrees of 2^(8 x l) leaves, left to right (only whole ones). Made by the log's writer.
std::vector<std::vector<Hash>> StoredLevels(Hasher& hasher, const std::vector<Hash>& leaves);
// A tile's bytes (its hashes one after another) from those levels; the entry bundles are made apart.
std::string TileBytes(const std::vector<std::vector<Hash>>& levels, const TileId& tile);

// An entry bundle: the tile's entries (of all the log's, in order), each a big-endian 16-bit length and its
// bytes; and its entries read back (exactly width of them, nothing after), appended to entries.
std::string BundleBytes(const std::vector<std::string>& entries, const TileId& tile);
bool ParseBundle(const std::string& bytes, unsigned width, std::vector<std::string>& entries);

// The leaves of RFC 6962 proof nodes, [lo, hi): an inclusion proof of leaf index in a tree of size leaves,
// from the leaf upwards (index < size); a consistency proof of the tree of oldSize leaves with the tree of
// size leaves (0 < oldSize < size).
struct Range {
    std::uint64_t lo = 0, hi = 0;
};
std::vector<Range> InclusionProof(std::uint64_t index, std::uint64_t size);
std::vector<Range> ConsistencyProof(std::uint64_t oldSize, std::uint64_t size);

// RFC 9162's checks of proofs given as hashes: the root an inclusion proof of leaf gives; whether a
// consistency proof holds between the two trees.
bool RootFromInclusion(Hasher& hasher, std::uint64_t index, std::uint64_t size, const Hash& leaf,
                       const std::vector<Hash>& proof, Hash& root);
bool ConsistencyHolds(Hasher& hasher, std::uint64_t oldSize, std::uint64_t size, const Hash& oldRoot, const Hash& root,
                      const std::vector<Hash>& proof);

// Tiles as a log (or a cache in front of it) hands them out: a tile's bytes, or false when none came.
using TileSource = std::function<bool(const TileId& tile, std::string& bytes)>;

// The hashes a tree of treeSize leaves is made of, read from its tiles as they are needed: a few tiles at
// a time (at most 8 KiB each), the last ones asked kept for the next nodes.
class TileReader {
public:
    TileReader(Hasher& hasher, TileSource source, std::uint64_t treeSize)
        : m_hasher(hasher), m_source(std::move(source)), m_size(treeSize) {}
    // The hash of the leaves [lo, hi) (MTH). False when a tile could not be had or is no tile of this
    // width (badTile() then names it).
    bool RangeHash(std::uint64_t lo, std::uint64_t hi, Hash& hash);
    // The hashes of the proof nodes given.
    bool ProofHashes(const std::vector<Range>& nodes, std::vector<Hash>& hashes);
    const std::string& badTile() const { return m_badTile; }
    std::uint64_t bytesRead() const { return m_bytes; }
    unsigned tilesRead() const { return m_tiles; }

private:
    bool Node(int height, std::uint64_t index, Hash& hash);
    const std::string* Tile(const TileId& tile);

    struct Held {
        TileId id;
        std::string bytes;
    };
    Hasher& m_hasher;
    TileSource m_source;
    std::uint64_t m_size;
    std::vector<Held> m_held;  // the last tiles read, newest last
    std::string m_badTile;
    std::uint64_t m_bytes = 0;
    unsigned m_tiles = 0;
};

// A client's checks of a checkpoint of size leaves with root, each proof read from its tiles:
// that it grows from the tree of oldSize leaves with oldRoot (0 < oldSize < size), and that leaf stands at
// index. BadTiles: the tiles could not be had, or do not give the checkpoint's root.
enum class ProofOutcome { Holds, Fails, BadTiles };
ProofOutcome GrowsFrom(TileReader& reader, Hasher& hasher, std::uint64_t oldSize, const Hash& oldRoot, std::uint64_t size, const Hash& root);
ProofOutcome Includes(TileReader& reader, Hasher& hasher, std::uint64_t index, const Hash& leaf, std::uint64_t size, const Hash& root);

// A checkpoint's text: "ORIGIN\nSIZE\nROOT\n", then lines it may carry beyond (kept, not read).
struct Checkpoint {
    std::string origin;
    std::uint64_t size = 0;
    Hash root{};
};
bool ParseCheckpoint(const std::string& text, Checkpoint& checkpoint);
std::string FormatCheckpoint(const Checkpoint& checkpoint);

// A signed note: its text (ending in a newline), a blank line, then signature lines
// "\u2014 NAME base64(KEYID || SIGNATURE)\n". ParseNote is false for anything else, or for more than
// kMaxNoteSignatures signatures, or beyond kMaxCheckpointBytes.
struct NoteSignature {
    std::string name;
    std::uint32_t keyId = 0;
    std::string signature;  // the bytes after the key ID
};
struct Note {
    std::string text;
    std::vector<NoteSignature> signatures;
};
bool ParseNote(const std::string& bytes, Note& note);
std::string SignatureLineOf(const NoteSignature& signature);

// ECDSA P-256 keys and signatures in a signed note (signature type 0x02): the key's DER SubjectPublicKeyInfo,
// its key ID the first 4 bytes of that DER's SHA-256 (big-endian), and the signature DER-encoded.
std::string SpkiOf(const P256Point& point);
std::uint32_t NoteKeyId(const Hash& spkiDigest);
bool SignatureFromDer(const std::string& der, P256Signature& signature);  // strict DER only
std::string SignatureToDer(const P256Signature& signature);

}  // namespace core::tlog
