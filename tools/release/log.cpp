#include "log.h"

#include <openssl/sha.h>

#include <filesystem>

#include "crypto.h"
#include "description.h"

namespace release_tool {

using core::tlog::Checkpoint;
using core::tlog::Hash;
using core::tlog::Note;
using core::tlog::NoteSignature;
using core::tlog::TileId;

namespace {

std::string LogPath(const std::string& releaseDir, const std::string& inLog) { return releaseDir + "/log/" + inLog; }

std::uint32_t NoteKeyIdOf(const core::P256Point& point) { return core::tlog::NoteKeyId(Sha256(core::tlog::SpkiOf(point))); }

bool ReadCheckpointFile(const std::string& path, Note& note, Checkpoint& checkpoint) {
    std::string bytes;
    return ReadFile(path, bytes) && core::tlog::ParseNote(bytes, note) && core::tlog::ParseCheckpoint(note.text, checkpoint);
}

std::string NoteBytes(const Note& note) {
    std::string bytes = note.text + "\n";
    for (const NoteSignature& s : note.signatures) bytes += core::tlog::SignatureLineOf(s);
    return bytes;
}

bool WriteMakingFolders(const std::string& path, const std::string& bytes) {
    std::error_code error;
    std::filesystem::create_directories(Folder(path), error);
    return WriteAtomically(path, bytes);
}

}  // namespace

core::tlog::Hasher ToolHasher() {
    return core::tlog::Hasher([](const void* data, std::size_t size, Hash& digest) {
        SHA256(static_cast<const unsigned char*>(data), size, digest.data());
        return true;
    });
}

bool ReadLog(const std::string& releaseDir, Log& log, std::vector<Problem>& problems) {
    log = Log{};
    const std::string checkpointPath = LogPath(releaseDir, "checkpoint");
    std::error_code error;
    if (!std::filesystem::exists(releaseDir + "/log", error)) return true;
    if (!ReadCheckpointFile(checkpointPath, log.note, log.checkpoint)) {
        problems.push_back({checkpointPath, "missing, or no signed checkpoint: the log cannot be read"});
        return false;
    }
    const std::uint64_t size = log.checkpoint.size;
    core::tlog::Hasher hasher = ToolHasher();
    for (const TileId& t : core::tlog::TilesOf(size, 0)) {
        if (!t.entries) continue;
        std::string bytes;
        if (!ReadFile(LogPath(releaseDir, core::tlog::TilePath(t)), bytes) || !core::tlog::ParseBundle(bytes, t.width, log.entries)) {
            problems.push_back({LogPath(releaseDir, core::tlog::TilePath(t)), "missing, or not " + std::to_string(t.width) + " entries"});
            return false;
        }
    }
    for (const std::string& e : log.entries) log.leaves.push_back(hasher.Leaf(e));
    const auto levels = core::tlog::StoredLevels(hasher, log.leaves);
    for (const TileId& t : core::tlog::TilesOf(size, 0)) {
        std::string bytes;
        if (!t.entries && (!ReadFile(LogPath(releaseDir, core::tlog::TilePath(t)), bytes) || bytes != core::tlog::TileBytes(levels, t))) {
            problems.push_back({LogPath(releaseDir, core::tlog::TilePath(t)), "missing, or not the hashes of the log's entries"});
        }
    }
    if (core::tlog::RootOf(hasher, log.leaves) != log.checkpoint.root) {
        problems.push_back({checkpointPath, "its root is not that of the log's " + std::to_string(size) + " entries"});
    }
    return problems.empty();
}

bool SignNote(EVP_PKEY* key, const core::P256Point& point, const std::string& name, const std::string& text, NoteSignature& signature) {
    core::P256Signature raw;
    if (!Sign(key, text, raw)) return false;
    signature = NoteSignature{name, NoteKeyIdOf(point), core::tlog::SignatureToDer(raw)};
    return true;
}

bool NoteSignedBy(const Note& note, EVP_PKEY* key, const core::P256Point& point, const std::string& name) {
    bool verified = false;
    for (const NoteSignature& s : note.signatures) {
        if (s.name != name || s.keyId != NoteKeyIdOf(point)) continue;
        core::P256Signature raw;
        if (!core::tlog::SignatureFromDer(s.signature, raw) || !Verify(key, note.text, raw)) return false;
        verified = true;
    }
    return verified;
}

std::vector<std::pair<std::string, std::string>> GrowLog(const std::string& releaseDir, Log& log, const std::vector<std::string>& entries,
                                                         const std::string& origin, EVP_PKEY* key, const core::P256Point& point) {
    core::tlog::Hasher hasher = ToolHasher();
    const std::uint64_t before = log.entries.size();
    for (const std::string& e : entries) {
        log.entries.push_back(e);
        log.leaves.push_back(hasher.Leaf(e));
    }
    const auto levels = core::tlog::StoredLevels(hasher, log.leaves);
    std::vector<std::pair<std::string, std::string>> writes;
    for (const TileId& t : core::tlog::TilesOf(log.entries.size(), before)) {
        writes.emplace_back(LogPath(releaseDir, core::tlog::TilePath(t)), t.entries ? core::tlog::BundleBytes(log.entries, t) : core::tlog::TileBytes(levels, t));
    }
    log.checkpoint = Checkpoint{origin, log.entries.size(), core::tlog::RootOf(hasher, log.leaves)};
    log.note = Note{core::tlog::FormatCheckpoint(log.checkpoint), {}};
    NoteSignature s;
    if (!SignNote(key, point, origin, log.note.text, s)) return {};
    log.note.signatures.push_back(s);
    writes.emplace_back(LogPath(releaseDir, "checkpoint"), NoteBytes(log.note));
    return writes;
}

std::string KeptCheckpointPath(const std::string& privatePath) { return privatePath + ".log-checkpoint"; }

bool ContinuesKept(const Log& log, const std::string& keptPath, std::vector<Problem>& problems) {
    std::string text;
    Checkpoint kept;
    if (!ReadFile(keptPath, text)) return true;
    if (!core::tlog::ParseCheckpoint(text, kept)) {
        problems.push_back({keptPath, "is no checkpoint: the last log this key signed is not known"});
        return false;
    }
    core::tlog::Hasher hasher = ToolHasher();
    const bool continues = log.checkpoint.origin == kept.origin && log.entries.size() >= kept.size &&
                           core::tlog::RootOf(hasher, std::vector<Hash>(log.leaves.begin(), log.leaves.begin() + static_cast<std::ptrdiff_t>(kept.size))) == kept.root;
    if (!continues) {
        problems.push_back({keptPath, "this key last signed the log " + kept.origin + " at " + std::to_string(kept.size) +
                                          " entries, and the release folder's log (" + std::to_string(log.entries.size()) +
                                          " entries) does not continue it: restore the folder's log/ before publishing, or every "
                                          "updater that saw the later log refuses this one as a fork"});
    }
    return continues;
}

bool Audit(const std::string& releaseDir, const std::vector<std::string>& publicKeyPaths, std::vector<std::string>& lines,
           std::vector<Problem>& problems) {
    Log log;
    if (!ReadLog(releaseDir, log, problems)) return false;
    if (log.checkpoint.size == 0 && log.checkpoint.origin.empty()) {
        problems.push_back({releaseDir + "/log", "no log: this release folder was never published with one"});
        return false;
    }
    bool signedByKey = publicKeyPaths.empty();
    for (const std::string& path : publicKeyPaths) {
        core::P256Point point;
        const PKey key = LoadKeyAndPoint(path, false, point, problems);
        if (!key) return false;
        signedByKey = NoteSignedBy(log.note, key.get(), point, log.checkpoint.origin) || signedByKey;
    }
    if (!signedByKey) problems.push_back({LogPath(releaseDir, "checkpoint"), "not signed by any of the keys given under " + log.checkpoint.origin});
    for (std::size_t i = 0; i < log.entries.size(); ++i) {
        lines.push_back(std::to_string(i) + " " + log.entries[i].substr(0, log.entries[i].size() - 1));
    }
    std::string signers;
    for (const NoteSignature& s : log.note.signatures) signers += " " + s.name;
    lines.push_back("log " + log.checkpoint.origin + ": " + std::to_string(log.checkpoint.size) + " entries, root " +
                    core::EncodeBase64(std::string(log.checkpoint.root.begin(), log.checkpoint.root.end())) + ", signed by" + signers);
    // Each version-info file the folder serves must stand in the log where it says it does.
    for (const std::string& file : StandardVersionFiles()) {
        std::string bytes;
        if (!ReadFile(releaseDir + "/" + file, bytes)) continue;
        std::uint64_t index = 0;
        const std::string entry = core::tlog::EntryText(file, Sha256(bytes));
        if (!core::FindLogIndex(bytes, index) || index >= log.entries.size() || log.entries[index] != entry) {
            problems.push_back({releaseDir + "/" + file, "is not in the log where its \"#log-index\" says: no updater built with the log takes it"});
        }
    }
    return problems.empty();
}

bool Witness(const std::string& releaseDir, const WitnessOptions& o, std::string& said, std::vector<Problem>& problems) {
    core::P256Point own, logPoint;
    const PKey key = LoadKeyAndPoint(o.privatePath, true, own, problems);
    const PKey logKey = key ? LoadKeyAndPoint(o.logKeyPath, false, logPoint, problems) : PKey(nullptr, &EVP_PKEY_free);
    if (!logKey) return false;
    const std::string path = LogPath(releaseDir, "checkpoint");
    Note note;
    Checkpoint now, last;
    if (!ReadCheckpointFile(path, note, now) || !NoteSignedBy(note, logKey.get(), logPoint, now.origin)) {
        problems.push_back({path, "missing, or not a checkpoint signed by the log's key under its origin: not cosigned"});
        return false;
    }
    std::string kept;
    const bool hasLast = ReadFile(o.statePath, kept);
    if (hasLast && !core::tlog::ParseCheckpoint(kept, last)) {
        problems.push_back({o.statePath, "is no checkpoint: the last one cosigned is not known"});
        return false;
    }
    if (hasLast) {
        core::tlog::Hasher hasher = ToolHasher();
        core::tlog::TileReader reader(hasher, [&](const TileId& t, std::string& bytes) {
            return ReadFile(LogPath(releaseDir, core::tlog::TilePath(t)), bytes);
        }, now.size);
        const bool consistent = last.origin == now.origin && last.size <= now.size &&
                                (last.size == now.size ? last.root == now.root
                                                       : core::tlog::GrowsFrom(reader, hasher, last.size, last.root, now.size, now.root) ==
                                                             core::tlog::ProofOutcome::Holds);
        if (!consistent) {
            problems.push_back({path, "not consistent with the checkpoint last cosigned (" + std::to_string(last.size) + " entries" +
                                          (reader.badTile().empty() ? "" : "; " + reader.badTile()) +
                                          "): the log was rewritten, or shows another log elsewhere. Not cosigned"});
            return false;
        }
    }
    NoteSignature cosignature;
    if (!SignNote(key.get(), own, o.name, note.text, cosignature)) {
        problems.push_back({o.privatePath, "signing failed"});
        return false;
    }
    std::vector<NoteSignature> others;
    for (const NoteSignature& s : note.signatures) {
        if (s.name != o.name || s.keyId != cosignature.keyId) others.push_back(s);
    }
    others.push_back(cosignature);
    note.signatures = others;
    if (!WriteAtomically(path, NoteBytes(note)) || !WriteMakingFolders(o.statePath, core::tlog::FormatCheckpoint(now))) {
        problems.push_back({path, "could not be written"});
        return false;
    }
    said = "cosigned " + now.origin + " at " + std::to_string(now.size) + " entries as " + o.name;
    return true;
}

}  // namespace release_tool
