#include "support/test_log.h"

#include "core/tlog.h"
#include "framework/cng.h"
#include "support/test_support.h"

namespace testing_support {

std::string LogEntry(const std::string& path, const std::string& bytes) {
    core::Sha256Digest d;
    Sha256(bytes.data(), bytes.size(), d);
    return core::tlog::EntryText(path, d);
}

std::map<std::string, std::string> LogFiles(const std::vector<std::string>& entries, int key, const std::vector<int>& witnesses,
                                            const std::string& origin) {
    core::tlog::Hasher hasher([](const void* data, std::size_t size, core::tlog::Hash& digest) { return Sha256(data, size, digest); });
    std::vector<core::tlog::Hash> leaves;
    for (const std::string& e : entries) leaves.push_back(hasher.Leaf(e));
    const auto levels = core::tlog::StoredLevels(hasher, leaves);
    std::map<std::string, std::string> files;
    for (const core::tlog::TileId& t : core::tlog::TilesOf(entries.size(), 0)) {
        files["/log/" + core::tlog::TilePath(t)] = t.entries ? core::tlog::BundleBytes(entries, t) : core::tlog::TileBytes(levels, t);
    }
    const std::string text = core::tlog::FormatCheckpoint({origin, entries.size(), core::tlog::RootOf(hasher, leaves)});
    std::string note = text + "\n";
    std::vector<int> signers{key};
    signers.insert(signers.end(), witnesses.begin(), witnesses.end());
    for (std::size_t i = 0; i < signers.size(); ++i) {
        const std::string point = TestKeyPoint(signers[i]);
        const std::string spki = core::tlog::SpkiOf(*reinterpret_cast<const core::P256Point*>(point.data()));
        core::Sha256Digest d;
        Sha256(spki.data(), spki.size(), d);
        const std::string raw = RawSignature(text, signers[i]);
        core::P256Signature sig;
        std::copy(raw.begin(), raw.end(), sig.begin());
        note += core::tlog::SignatureLineOf({i == 0 ? origin : "witness.example/" + std::to_string(signers[i]), core::tlog::NoteKeyId(d),
                                             core::tlog::SignatureToDer(sig)});
    }
    files["/log/checkpoint"] = note;
    return files;
}

}  // namespace testing_support
