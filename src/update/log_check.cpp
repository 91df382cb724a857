#include "update/log_check.h"

#include <set>

#include "core/product.h"
#include "core/tlog.h"
#include "framework/cng.h"
#include "framework/win_text.h"
#include "host/registry_key.h"

namespace tlog = core::tlog;

namespace {

constexpr char kKeptSize[] = "log.size";
constexpr char kKeptRoot[] = "log.root";

struct Kept {
    bool any = false;
    tlog::Checkpoint checkpoint;
};

// The checkpoint accepted before on this machine; none when nothing (or nothing readable) is kept.
Kept KeptCheckpoint() {
    Kept kept;
    CRegistryKey key;
    CString size, root;
    std::string rootBytes;
    if (key.Open(HKEY_LOCAL_MACHINE, ReleasesKeyPath(), KEY_READ) == ERROR_SUCCESS && QueryTextValue(key, CString(kKeptSize), 24, size) &&
        QueryTextValue(key, CString(kKeptRoot), 48, root) && core::ParseCanonicalDecimal(size.str(), kept.checkpoint.size) &&
        core::DecodeBase64(root.str(), rootBytes) && rootBytes.size() == 32) {
        std::copy(rootBytes.begin(), rootBytes.end(), kept.checkpoint.root.begin());
        kept.any = true;
    }
    return kept;
}

// Kept where it can be: one that cannot be written only weakens what a later run can refuse.
void KeepCheckpoint(const tlog::Checkpoint& c) {
    CRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, ProductKeyPath(), KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
    key.SetKeyValue(product::kReleasesSubKey, std::to_string(c.size).c_str(), CString(kKeptSize));
    key.SetKeyValue(product::kReleasesSubKey, core::EncodeBase64(std::string(c.root.begin(), c.root.end())).c_str(), CString(kKeptRoot));
}

// How the note's signatures by these keys stand: verified (each key once), or one of them failed.
struct Signers {
    std::set<std::size_t> verified;
    bool failed = false;
};
Signers SignersOf(const tlog::Note& note, const core::P256Point* points, std::size_t count, const std::string* name) {
    Signers s;
    core::Sha256Digest textDigest;
    if (!Sha256(note.text.data(), note.text.size(), textDigest)) {
        s.failed = true;
        return s;
    }
    for (std::size_t k = 0; k < count; ++k) {
        const std::string spki = tlog::SpkiOf(points[k]);
        core::Sha256Digest spkiDigest;
        if (!Sha256(spki.data(), spki.size(), spkiDigest)) continue;
        for (const tlog::NoteSignature& sig : note.signatures) {
            if (sig.keyId != tlog::NoteKeyId(spkiDigest) || (name && sig.name != *name)) continue;
            core::P256Signature raw;
            if (tlog::SignatureFromDer(sig.signature, raw) && VerifyP256(points[k], textDigest, raw)) s.verified.insert(k);
            else s.failed = true;  // a known key's signature that fails condemns the note
        }
    }
    return s;
}

LogVerdict Refused(VersionInfoProblem problem, std::string detail) {
    LogVerdict v;
    v.problem = problem;
    v.detail = std::move(detail);
    return v;
}

// The checkpoint, fetched fresh and checked: its signature by a release key under the origin, and the
// witnesses' cosignatures.
LogVerdict ReadCheckpoint(const LogSettings& log, const ReleaseKeys& keys, const LogFetch& fetch, tlog::Checkpoint& c) {
    std::string bytes;
    tlog::Note note;
    if (!fetch("checkpoint", true, bytes)) return Refused(VersionInfoProblem::LogUnreadable, "its checkpoint could not be fetched");
    if (!tlog::ParseNote(bytes, note) || !tlog::ParseCheckpoint(note.text, c) || c.origin != log.origin) {
        return Refused(VersionInfoProblem::LogUnreadable, "its checkpoint is no signed checkpoint of " + std::string(log.origin));
    }
    const std::string origin = log.origin;
    const Signers byKeys = SignersOf(note, keys.points, keys.count, &origin);
    if (byKeys.failed || byKeys.verified.empty()) {
        return Refused(VersionInfoProblem::LogUnreadable, "its checkpoint is not signed by a release key this program carries");
    }
    const Signers byWitnesses = SignersOf(note, log.witnesses, log.witnessCount, nullptr);
    if (byWitnesses.failed || byWitnesses.verified.size() < log.threshold) {
        return Refused(VersionInfoProblem::TooFewWitnesses, std::to_string(byWitnesses.verified.size()) + " of the " +
                                                                std::to_string(log.threshold) + " witnesses needed cosigned it" +
                                                                (byWitnesses.failed ? " (a cosignature does not verify)" : ""));
    }
    if (c.size > tlog::kMaxTreeSize) return Refused(VersionInfoProblem::LogUnreadable, "its checkpoint names more entries than a log may hold");
    return {};
}

}  // namespace

LogVerdict CheckInLog(const std::string& bytes, const std::string& path, const LogSettings& log, const ReleaseKeys& keys,
                      const LogFetch& fetch) {
    core::SignatureLine line;
    std::uint64_t index = 0;
    if (core::FindSignatureLine(bytes, line) != core::SignatureStatus::Present || !core::FindLogIndex(bytes.substr(0, line.signedLength), index)) {
        return Refused(VersionInfoProblem::NotInLog, "it names no place in the log (\"#log-index\")");
    }
    tlog::Checkpoint c;
    LogVerdict v = ReadCheckpoint(log, keys, fetch, c);
    if (v.problem != VersionInfoProblem::None) return v;
    // A proof costs a few hundred hashes: SHA-256's algorithm is opened once for them.
    CSha256Each each;
    tlog::Hasher hasher([&each](const void* data, std::size_t size, tlog::Hash& digest) { return each.Hash(data, size, digest); });
    tlog::TileReader reader(hasher, [&](const tlog::TileId& t, std::string& tile) {
        // A partial tile a log has filled since may be gone: the full one holds the same hashes first.
        return fetch(tlog::TilePath(t), false, tile) || (t.width < tlog::kTileWidth && fetch(tlog::TilePath({t.level, t.index, tlog::kTileWidth, false}), false, tile));
    }, c.size);
    const auto badTiles = [&] { return Refused(VersionInfoProblem::BadLogTiles, reader.badTile().empty() ? "its tiles do not give the checkpoint's root" : reader.badTile()); };
    const Kept kept = KeptCheckpoint();
    const std::string sizes = std::to_string(c.size) + " entries, " + std::to_string(kept.checkpoint.size) + " kept";
    if (kept.any && c.size < kept.checkpoint.size) return Refused(VersionInfoProblem::OlderCheckpoint, sizes);
    if (kept.any && c.size == kept.checkpoint.size && c.root != kept.checkpoint.root) return Refused(VersionInfoProblem::LogFork, sizes + ", another root");
    if (kept.any && kept.checkpoint.size > 0 && c.size > kept.checkpoint.size) {
        const tlog::ProofOutcome grows = tlog::GrowsFrom(reader, hasher, kept.checkpoint.size, kept.checkpoint.root, c.size, c.root);
        if (grows == tlog::ProofOutcome::BadTiles) return badTiles();
        if (grows == tlog::ProofOutcome::Fails) return Refused(VersionInfoProblem::LogFork, sizes + ": it does not grow from the one kept");
    }
    // Accepted as the log's state whatever becomes of the file: a later run never takes an older one.
    if (!kept.any || c.size > kept.checkpoint.size) KeepCheckpoint(c);
    if (index >= c.size) return Refused(VersionInfoProblem::NotInLog, "its place " + std::to_string(index) + " lies beyond the log's " + std::to_string(c.size) + " entries");
    core::Sha256Digest digest;
    if (!each.Hash(bytes.data(), bytes.size(), digest)) return Refused(VersionInfoProblem::NoCrypto, std::string());
    const tlog::ProofOutcome included = tlog::Includes(reader, hasher, index, hasher.Leaf(tlog::EntryText(path, digest)), c.size, c.root);
    if (included == tlog::ProofOutcome::BadTiles) return badTiles();
    if (included == tlog::ProofOutcome::Fails) return Refused(VersionInfoProblem::NotInLog, "the log's entry " + std::to_string(index) + " is another file's");
    v.index = index;
    v.size = c.size;
    return v;
}
