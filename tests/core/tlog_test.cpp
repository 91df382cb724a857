#include "core/tlog.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <map>

using namespace core::tlog;

namespace {

Hasher OpenSslHasher() {
    return Hasher([](const void* data, std::size_t size, Hash& digest) {
        SHA256(static_cast<const unsigned char*>(data), size, digest.data());
        return true;
    });
}

std::string Hex(const Hash& h) { return core::HexLower(h.data(), h.size()); }

std::string Unhex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

Hash HashOf(const std::string& hex) {
    Hash h{};
    const std::string bytes = Unhex(hex);
    std::copy(bytes.begin(), bytes.end(), h.begin());
    return h;
}

// RFC 6962's reference leaves, as Certificate Transparency's and transparency-dev's tests publish them.
const char* const kLeaves[] = {"", "00", "10", "2021", "3031", "40414243", "5051525354555657", "606162636465666768696a6b6c6d6e6f"};
const char* const kRoots[] = {
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d",
    "fac54203e7cc696cf0dfcb42c92a1d9dbaf70ad9e621f4bd8d98662f00e3c125", "aeb6bcfe274b70a14fb067a5e5578264db0fa9b51af5e0ba159158f329e06e77",
    "d37ee418976dd95753c1c73862b9398fa2a2cf9b4ff0fdfe8b30cd95209614b7", "4e3bbb1f7b478dcfe71fb631631519a3bca12c9aefca1612bfce4c13a86264d4",
    "76e67dadbcdf1e10e1b74ddc608abd2f98dfb16fbce75277b5232a127f2087ef", "ddb89be403809e325750d3d263cd78929c2942b7942a34b77e122c9594a74c8c",
    "5dc9da79a70659a9ad559cb701ded9a2ab9d823aad2f4960cfe370eff4604328"};

std::vector<Hash> ReferenceLeaves(Hasher& hasher) {
    std::vector<Hash> leaves;
    for (const char* l : kLeaves) leaves.push_back(hasher.Leaf(Unhex(l)));
    return leaves;
}

// A log of n entries served from memory as its tiles, the tiles asked for counted.
struct MemoryLog {
    explicit MemoryLog(std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) leaves.push_back(hasher.Leaf("entry " + std::to_string(i) + "\n"));
        levels = StoredLevels(hasher, leaves);
    }
    Hash Root(std::size_t size) {
        return RootOf(hasher, std::vector<Hash>(leaves.begin(), leaves.begin() + static_cast<std::ptrdiff_t>(size)));
    }
    TileSource Source() {
        return [this](const TileId& tile, std::string& bytes) {
            ++asked[TilePath(tile)];
            bytes = TileBytes(levels, tile);
            return true;
        };
    }
    Hasher hasher = OpenSslHasher();
    std::vector<Hash> leaves;
    std::vector<std::vector<Hash>> levels;
    std::map<std::string, int> asked;
};

}  // namespace

TEST(TransparencyLog, TreeHashesAreRfc6962s) {
    Hasher hasher = OpenSslHasher();
    const std::vector<Hash> leaves = ReferenceLeaves(hasher);
    for (std::size_t n = 0; n <= leaves.size(); ++n) {
        EXPECT_EQ(Hex(RootOf(hasher, std::vector<Hash>(leaves.begin(), leaves.begin() + static_cast<std::ptrdiff_t>(n)))), kRoots[n])
            << n << " leaves";
    }
}

TEST(TransparencyLog, PublishedProofsVerify) {
    Hasher hasher = OpenSslHasher();
    const std::vector<Hash> leaves = ReferenceLeaves(hasher);
    struct Row {
        std::uint64_t a, b;  // leaf and size, or old size and size
        bool inclusion;
        std::vector<const char*> proof;
    };
    const Row rows[] = {
        {0, 8, true, {"96a296d224f285c67bee93c30f8a309157f0daa35dc5b87e410b78630a09cfc7", "5f083f0a1a33ca076a95279832580db3e0ef4584bdff1f54c8a360f50de3031e",
                      "6b47aaf29ee3c2af9af889bc1fb9254dabd31177f16232dd6aab035ca39bf6e4"}},
        {5, 8, true, {"bc1a0643b12e4d2d7c77918f44e0f4f79a838b6cf9ec5b5c283e1f4d88599e6b", "ca854ea128ed050b41b35ffc1b87b8eb2bde461e9e3b5596ece6b9d5975a0ae0",
                      "d37ee418976dd95753c1c73862b9398fa2a2cf9b4ff0fdfe8b30cd95209614b7"}},
        {2, 8, false, {"5f083f0a1a33ca076a95279832580db3e0ef4584bdff1f54c8a360f50de3031e", "6b47aaf29ee3c2af9af889bc1fb9254dabd31177f16232dd6aab035ca39bf6e4"}},
        {2, 5, false, {"5f083f0a1a33ca076a95279832580db3e0ef4584bdff1f54c8a360f50de3031e", "bc1a0643b12e4d2d7c77918f44e0f4f79a838b6cf9ec5b5c283e1f4d88599e6b"}},
    };
    for (const Row& r : rows) {
        std::vector<Hash> proof;
        for (const char* p : r.proof) proof.push_back(HashOf(p));
        // The tiles give the same nodes as the published proof.
        MemoryLog log(0);
        log.leaves = leaves;
        log.levels = StoredLevels(log.hasher, leaves);
        TileReader reader(log.hasher, log.Source(), r.b);
        std::vector<Hash> fromTiles;
        ASSERT_TRUE(reader.ProofHashes(r.inclusion ? InclusionProof(r.a, r.b) : ConsistencyProof(r.a, r.b), fromTiles));
        EXPECT_EQ(fromTiles, proof) << r.a << "/" << r.b;
        if (r.inclusion) {
            Hash root;
            ASSERT_TRUE(RootFromInclusion(hasher, r.a, r.b, leaves[r.a], proof, root));
            EXPECT_EQ(Hex(root), kRoots[r.b]);
        } else {
            EXPECT_TRUE(ConsistencyHolds(hasher, r.a, r.b, HashOf(kRoots[r.a]), HashOf(kRoots[r.b]), proof));
        }
    }
}

// Proofs of every shape read from the tiles (two levels from 257 leaves on) hold, and the same proof
// with one hash changed, at another index or against another root, does not.
TEST(TransparencyLog, ProofsOfEveryShapeFromTilesHoldAndNothingElseDoes) {
    MemoryLog log(300);
    std::vector<Hash> roots;
    for (std::size_t n = 0; n <= 300; ++n) roots.push_back(log.Root(n));
    for (std::uint64_t n = 1; n <= 300; ++n) {
        TileReader reader(log.hasher, log.Source(), n);
        // Every leaf and every old size in the small trees and about each tile's edge; a sample elsewhere.
        const bool all = n <= 70 || n == 255 || n == 256 || n == 257 || n == 300;
        for (std::uint64_t i = 0; i < n; i += all ? 1 : 11) {
            std::vector<Hash> proof;
            ASSERT_TRUE(reader.ProofHashes(InclusionProof(i, n), proof)) << i << "/" << n;
            Hash root;
            ASSERT_TRUE(RootFromInclusion(log.hasher, i, n, log.leaves[i], proof, root) && root == roots[n]) << i << "/" << n;
            if (n > 1 && RootFromInclusion(log.hasher, (i + 1) % n, n, log.leaves[i], proof, root)) EXPECT_NE(root, roots[n]) << i << "/" << n;
            if (!proof.empty()) {
                proof[i % proof.size()][0] ^= 1;
                EXPECT_FALSE(RootFromInclusion(log.hasher, i, n, log.leaves[i], proof, root) && root == roots[n]) << i << "/" << n;
            }
        }
        for (std::uint64_t m = 1; m <= n; m += all ? 1 : 37) {
            std::vector<Hash> proof;
            ASSERT_TRUE(reader.ProofHashes(ConsistencyProof(m, n), proof));
            EXPECT_TRUE(ConsistencyHolds(log.hasher, m, n, roots[m], roots[n], proof)) << m << "->" << n;
            EXPECT_FALSE(ConsistencyHolds(log.hasher, m, n, roots[m - 1], roots[n], proof)) << m << "->" << n;  // a fork of the old tree
            if (!proof.empty()) {
                proof.back()[31] ^= 0x80;
                EXPECT_FALSE(ConsistencyHolds(log.hasher, m, n, roots[m], roots[n], proof)) << m << "->" << n;
            }
        }
        EXPECT_FALSE(ConsistencyHolds(log.hasher, n, n - 1 ? n - 1 : 1, roots[n], roots[n - 1], {}));  // never a smaller tree
    }
}

TEST(TransparencyLog, TilesAreNamedAndBoundedAsTlogTilesHasThem) {
    struct Row {
        TileId tile;
        const char* path;
    } const rows[] = {
        {{0, 0, 256, false}, "tile/0/000"},
        {{0, 1234067, 256, false}, "tile/0/x001/x234/067"},
        {{1, 5, 7, false}, "tile/1/005.p/7"},
        {{0, 1000, 256, true}, "tile/entries/x001/000"},
        {{0, 2, 1, true}, "tile/entries/002.p/1"},
    };
    for (const Row& r : rows) EXPECT_EQ(TilePath(r.tile), r.path);
    // What growing the log from 255 to 513 leaves writes: each level's changed tiles at their new widths.
    std::vector<std::string> written;
    for (const TileId& t : TilesOf(513, 255)) written.push_back(TilePath(t));
    EXPECT_EQ(written, (std::vector<std::string>{"tile/0/000", "tile/entries/000", "tile/0/001", "tile/entries/001", "tile/0/002.p/1",
                                                 "tile/entries/002.p/1", "tile/1/000.p/2"}));
    EXPECT_TRUE(TilesOf(300, 300).empty());
}

TEST(TransparencyLog, AShortOrRaggedTileIsNamedNotUsed) {
    MemoryLog log(20);
    struct Row {
        const char* what;
        std::size_t cut;  // bytes taken off the tile
        bool holds;
    } const rows[] = {{"whole", 0, true}, {"a cache's copy of an older size", 32 * 4, false}, {"half a hash short", 16, false}};
    for (const Row& r : rows) {
        TileReader reader(log.hasher, [&](const TileId& tile, std::string& bytes) {
            bytes = TileBytes(log.levels, tile);
            bytes.resize(bytes.size() - r.cut);
            return true;
        }, 20);
        Hash h;
        EXPECT_EQ(reader.RangeHash(0, 20, h), r.holds) << r.what;
        EXPECT_EQ(reader.badTile(), r.holds ? "" : "tile/0/000.p/20 holds " + std::to_string(640 - r.cut) + " bytes, 640 were due") << r.what;
        if (r.holds) EXPECT_EQ(h, log.Root(20));
    }
    // A full tile where a partial one was asked holds the same hashes first.
    MemoryLog big(256);
    TileReader reader(big.hasher, [&](const TileId& tile, std::string& bytes) {
        bytes = TileBytes(big.levels, TileId{tile.level, tile.index, kTileWidth, false});
        return true;
    }, 100);
    Hash h;
    ASSERT_TRUE(reader.RangeHash(0, 100, h));
    EXPECT_EQ(h, big.Root(100));
}

TEST(TransparencyLog, CheckpointsAndSignedNotes) {
    core::tlog::Checkpoint c;
    const Hash root = HashOf(kRoots[8]);
    const std::string text = "update.example/log\n8\n" + core::EncodeBase64(std::string(root.begin(), root.end())) + "\n";
    ASSERT_TRUE(ParseCheckpoint(text + "extension line\n", c));
    EXPECT_EQ(c.origin, "update.example/log");
    EXPECT_EQ(c.size, 8u);
    EXPECT_EQ(c.root, root);
    EXPECT_EQ(FormatCheckpoint(c), text);
    for (const char* bad : {"", "o\n8\n", "o\n08\nAAAA\n", "\n8\nXyKDkfC1JU+2I6hS9+EONKYbG0hXhy9Hz/40tDs0sKk=\n",
                            "o\n8\nXyKDkfC1JU+2I6hS9+EONKYbG0hXhy9Hz/40tDs0sKk\n", "o\n-1\nXyKDkfC1JU+2I6hS9+EONKYbG0hXhy9Hz/40tDs0sKk=\n"}) {
        EXPECT_FALSE(ParseCheckpoint(bad, c)) << bad;
    }
    const NoteSignature log{"update.example/log", 0x01020304, std::string("\x30\x06\x02\x01\x01\x02\x01\x02", 8)};
    const NoteSignature witness{"witness.example/w1", 0xA0B0C0D0, "sig"};
    const std::string note = text + "\n" + SignatureLineOf(log) + SignatureLineOf(witness);
    EXPECT_EQ(SignatureLineOf(log).substr(0, 4), "\xE2\x80\x94 ");
    Note parsed;
    ASSERT_TRUE(ParseNote(note, parsed));
    EXPECT_EQ(parsed.text, text);
    ASSERT_EQ(parsed.signatures.size(), 2u);
    EXPECT_EQ(parsed.signatures[0].name, log.name);
    EXPECT_EQ(parsed.signatures[0].keyId, log.keyId);
    EXPECT_EQ(parsed.signatures[0].signature, log.signature);
    EXPECT_EQ(parsed.signatures[1].keyId, witness.keyId);
    std::string many = text + "\n";
    for (std::size_t i = 0; i <= kMaxNoteSignatures; ++i) many += SignatureLineOf(witness);
    const std::string rows[] = {text,                                     // no signature
                                text + "\n",                              // a blank line and nothing after it
                                note.substr(0, note.size() - 1),          // its last line unended
                                text + "\n-- name AQIDBAU=\n",            // no em dash
                                text + "\n\xE2\x80\x94 na+me AQIDBAU=\n",  // a plus in the name
                                text + "\n\xE2\x80\x94 name AQID\n",      // shorter than a key ID and a byte
                                "o\r\n8\n\n" + SignatureLineOf(log),      // a control character
                                many};
    for (const std::string& bad : rows) EXPECT_FALSE(ParseNote(bad, parsed)) << bad;
}

TEST(TransparencyLog, EcdsaSignaturesInDerAreStrict) {
    core::P256Signature sig{};
    for (std::size_t i = 0; i < 64; ++i) sig[i] = static_cast<std::uint8_t>(i * 37 + 1);
    sig[0] = 0x80;   // r needs a leading zero
    sig[32] = 0x00;  // s a shorter integer
    sig[33] = 0x05;
    const std::string der = SignatureToDer(sig);
    EXPECT_EQ(der.size(), 2u + 35 + 33);
    core::P256Signature back{};
    ASSERT_TRUE(SignatureFromDer(der, back));
    EXPECT_EQ(back, sig);
    ASSERT_TRUE(SignatureFromDer(std::string("\x30\x06\x02\x01\x01\x02\x01\x02", 8), back));
    EXPECT_EQ(back[31], 1);
    EXPECT_EQ(back[63], 2);
    const std::string extraZero("\x30\x07\x02\x01\x01\x02\x02\x00\x05", 9), negative("\x30\x06\x02\x01\x81\x02\x01\x01", 8);
    for (const std::string& bad : {der + '\0', der.substr(0, der.size() - 1), extraZero, negative, std::string("\x30\x00", 2)}) {
        EXPECT_FALSE(SignatureFromDer(bad, back)) << core::HexLower(reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size());
    }
    // The key ID of a P-256 key: SHA-256 of its SubjectPublicKeyInfo, as OpenSSL writes it.
    core::P256Point point{};
    EXPECT_EQ(core::HexLower(reinterpret_cast<const std::uint8_t*>(SpkiOf(point).data()), 27),
              "3059301306072a8648ce3d020106082a8648ce3d030107034200" "04");
    EXPECT_EQ(NoteKeyId(HashOf("a1b2c3d4" + std::string(56, '0'))), 0xa1b2c3d4u);
}
