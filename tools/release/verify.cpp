// verify: a release folder checked as the updater would check it.
#include <ctime>
#include <map>

#include "core/release.h"
#include "core/text.h"
#include "core/version_info.h"
#include "copies.h"
#include "crypto.h"
#include "description.h"
#include "release_tool.h"

namespace release_tool {

namespace {

// The signature of the file's bytes (path, lines long) against keys: text becomes what it signs, keyId
// the KEYID that signed it.
void SignatureProblems(const std::string& bytes, const std::string& path, int lines, const std::vector<PKey>& keys, std::string& text,
                       std::string& keyId, std::vector<Problem>& problems) {
    core::SignatureLine sig;
    const core::SignatureStatus status = core::FindSignatureLine(bytes, sig);
    const std::string where = path + ":" + std::to_string(lines);
    if (status == core::SignatureStatus::Absent) {
        problems.push_back({where, "no signature line at the end"});
        return;
    }
    if (status == core::SignatureStatus::Malformed) {
        problems.push_back({where, "a malformed signature line"});
        return;
    }
    text = bytes.substr(0, sig.signedLength);
    keyId = sig.keyId;
    EVP_PKEY* signer = nullptr;
    for (const PKey& k : keys) {
        core::P256Point point;
        if (PublicPoint(k.get(), point) && KeyId(point) == sig.keyId) signer = k.get();
    }
    if (!signer) {
        problems.push_back({where, "signed by the unknown key " + sig.keyId});
    } else if (!Verify(signer, text, sig.signature)) {
        problems.push_back({where, "the signature does not verify: the file was changed after it was signed"});
    }
}

// Its own path and its expiry, as the updater checks them.
void OwnLinesProblems(const std::string& text, const std::string& file, const std::string& path, std::int64_t now,
                      std::vector<Problem>& problems) {
    std::string own;
    std::int64_t expires = 0;
    if (!core::FindFileLine(text, own)) {
        problems.push_back({path, "not exactly one valid \"#file PATH\" line: the updater refuses it"});
    } else if (own != file) {
        problems.push_back({path, "it names itself \"" + own + "\": the updater asking for " + file + " refuses it"});
    }
    if (!core::FindExpiry(text, expires)) {
        problems.push_back({path, "not exactly one valid \"#expires YYYY-MM-DDThh:mm:ssZ\" line: the updater refuses it"});
    } else if (expires <= now) {  // as the updater: expired at the very second
        problems.push_back({path, "expired at " + core::FormatUtcTime(expires) + ": the updater refuses it"});
    }
    core::Rollout rollout;
    if (core::FindRollout(text, rollout) == core::RolloutLine::Malformed) {
        problems.push_back({path, "a \"#rollout PERCENT ID\" line that is not one (or more than one): the updater refuses it"});
    }
}

// One serial, and against the previous release (when its folder is given) the key generations as every
// updater that took it applies them: keys ranks them as the updater's build does, oldest first; without
// keys, the serials alone.
void GenerationProblems(const std::string& text, const std::string& keyId, const std::vector<std::string>& keyIds, const std::string& file,
                        const std::string& path, const std::string& previousDir, std::vector<Problem>& problems) {
    std::uint64_t serial = 0;
    if (!core::FindSerial(text, serial)) {
        problems.push_back({path, "not exactly one valid \"#serial N\" line"});
        return;
    }
    if (previousDir.empty()) return;
    std::string old, why;
    std::map<std::u16string, Listed> ignored;
    core::KeptRelease kept;
    if (!ReadFile(previousDir + "/" + file, old)) {
        problems.push_back({previousDir + "/" + file, "the previous release is missing: nothing to compare the serial with"});
        return;
    }
    if (!ReadExisting(old, ignored, kept.serial, why)) {
        problems.push_back({previousDir + "/" + file, "the previous release cannot be read: " + why});
        return;
    }
    core::SignatureLine oldSig;
    const bool oldSigned = core::FindSignatureLine(old, oldSig) == core::SignatureStatus::Present;
    const int rank = keyIds.empty() ? 0 : RankOf(keyId, keyIds);
    kept.rank = keyIds.empty() || !oldSigned ? 0 : RankOf(oldSig.keyId, keyIds);
    bool keep = false;
    if (rank == core::kNotBuiltIn || core::GenerationAccepts(rank, serial, kept, keep)) return;
    if (rank < kept.rank) {
        problems.push_back({path, "signed with " + keyId + ", a key ranked before " + oldSig.keyId +
                                      ", which signed the previous release: every updater that took that one refuses this (the keys rank in the order given, oldest first)"});
    } else {
        problems.push_back({path, "serial " + std::to_string(serial) + " is lower than the previous release's " + std::to_string(kept.serial) +
                                      ": the updater refuses it as a rollback"});
    }
}

// Its SITE and SUBDIR lines; the SUBDIR the updater would use.
std::string SettingProblems(const std::string& text, const std::string& path, std::vector<Problem>& problems) {
    std::string subDir;
    int at = 0;
    core::ForEachLine(text.data(), text.size(), [&](const std::string& line) {
        ++at;
        const core::ClassifiedLine c = core::ClassifyLine(line);
        const std::string where = path + ":" + std::to_string(at);
        if (c.kind == core::LineKind::SubDir) {
            subDir = c.value;
            if (!IsReleaseSubDir(c.value)) problems.push_back({where, "a SUBDIR outside the release folder"});
        }
        if (c.kind == core::LineKind::Site && !IsSiteHost(c.value)) {
            problems.push_back({where, "a SITE that is no host name alone: the updater would ask for http://" + c.value + "/..."});
        }
    });
    return subDir;
}

// NAME.gz and NAME.blocks beside the file at path, where they are: a gzip copy of exactly its bytes, and its
// block map. label: how the problems name path.
void CopiesProblems(const std::string& path, const std::string& bytes, const std::string& label, const std::string& where,
                    std::vector<Problem>& problems) {
    std::string gz, decoded, map;
    if (ReadFile(path + ".gz", gz) && (!Gunzip(gz, decoded) || decoded != bytes)) {
        problems.push_back({where, label + ".gz is no gzip copy of the file (an older one?): whoever accepts gzip gets it and fails the file"});
    }
    if (ReadFile(path + ".blocks", map) && map != BlockMap(bytes)) {
        problems.push_back({where, label + ".blocks is not the file's block map: block updates of it fail and come whole"});
    }
}

// The by-hash name of a listed file (its bytes, SHA-256 digest) in folder, with the copies its plain name has.
void ByHashProblems(const std::string& folder, const std::string& plain, const std::string& bytes, const core::Sha256Digest& digest,
                    const std::string& label, const std::string& where, std::vector<Problem>& problems) {
    const std::string name = core::ByHashName(digest), path = folder + "/" + name;
    if (!HoldsBytes(path, bytes)) {
        problems.push_back({where, label + ": " + name + (IsRegularFile(path) ? " holds other bytes" : " is missing") +
                                       ": updaters asking for it get those, or the plain name, which a cache may hold older"});
        return;
    }
    for (const char* copy : {".gz", ".blocks"}) {
        if (IsRegularFile(plain + copy) && !IsRegularFile(path + copy)) problems.push_back({where, label + ": " + name + copy + " is missing"});
    }
    CopiesProblems(path, bytes, label + ": " + name, where, problems);
}

// Every listed file: an acceptable name, a digest and a size, and the file in folder with those, its
// copies beside it, and its by-hash name where the list says it has one.
void EntryProblems(const std::string& text, const std::string& folder, const std::string& path, const ReleaseRoot& root,
                   std::vector<Problem>& problems) {
    bool byHash = false;
    core::ForEachLine(text.data(), text.size(), [&](const std::string& line) { byHash = byHash || core::ClassifyLine(line).kind == core::LineKind::ByHash; });
    int n = 0;
    core::ForEachLine(text.data(), text.size(), [&](const std::string& line) {
        ++n;
        const core::ClassifiedLine c = core::ClassifyLine(line);
        if (c.kind != core::LineKind::Entry) return;
        const std::string where = path + ":" + std::to_string(n);
        std::string name;
        if (!FromCp949(c.key, name)) {
            problems.push_back({where, "the name is not code page 949 text"});
            return;
        }
        if (const std::string why = NameProblem(name, c.key); !why.empty()) problems.push_back({where, "\"" + name + "\": " + why});
        const core::EntryFields fields = core::ParseEntryFields(c.value);
        core::Sha256Digest want;
        std::uint64_t size = 0;
        if (!core::ParseDigestField(fields.digest, want) || !core::ParseSizeField(fields.size, size)) {
            problems.push_back({where, "\"" + name + "\": no digest (sha256:...) and size (size:N) as the fifth and sixth fields"});
            return;
        }
        std::string bytes;
        const std::string file = folder + "/" + c.key;
        if (!IsRegularFile(file) || !ReadFile(file, bytes)) {
            problems.push_back({where, "\"" + name + "\": the listed file is missing (" + folder + "/" + name + ")"});
        } else if (!root.Holds(file)) {
            problems.push_back({where, "\"" + name + "\": a link that leads out of the release folder"});
        } else if (Sha256(bytes) != want || bytes.size() != size) {
            problems.push_back({where, "\"" + name + "\": the file's bytes differ from its digest or size"});
        } else {
            CopiesProblems(file, bytes, "\"" + name + "\": " + name, where, problems);
            if (byHash) ByHashProblems(folder, file, bytes, want, "\"" + name + "\"", where, problems);
        }
    });
}

}  // namespace

bool Verify(const std::string& releaseDir, const std::vector<std::string>& versionFiles,
            const std::vector<std::string>& publicKeyPaths, const std::string& previousDir,
            std::vector<Problem>& problems, bool unsignedRelease, std::int64_t now) {
    const size_t before = problems.size();
    const ReleaseRoot root(releaseDir);
    if (publicKeyPaths.empty() == !unsignedRelease) {
        problems.push_back({"verify", unsignedRelease ? "--key and --unsigned together: check signatures, or do not"
                                                      : "no key: --key PUBLIC.pem to check signatures, or --unsigned for a release without them"});
        return false;
    }
    std::vector<PKey> keys;
    std::vector<std::string> keyIds;  // in the order given: the updater's ranks
    for (const std::string& path : publicKeyPaths) {
        core::P256Point point;
        PKey k = LoadKeyAndPoint(path, false, point, problems);
        if (!k) continue;
        keyIds.push_back(KeyId(point));
        keys.push_back(std::move(k));
    }
    for (const std::string& file : versionFiles) {
        std::string bytes;
        const std::string path = releaseDir + "/" + file;
        if (!ReadFile(path, bytes)) {
            problems.push_back({path, "missing"});
            continue;
        }
        if (!core::WithinVersionInfoBounds(bytes.data(), bytes.size())) {
            problems.push_back({path, "larger than 1 MiB or more than " + std::to_string(core::kMaxVersionInfoEntries) +
                                          " files: the updater cannot read it"});
        }
        std::string text = bytes, keyId;
        int lines = 0;
        core::ForEachLine(bytes.data(), bytes.size(), [&](const std::string&) { ++lines; });
        if (!keys.empty()) SignatureProblems(bytes, path, lines, keys, text, keyId, problems);
        OwnLinesProblems(text, file, path, now ? now : static_cast<std::int64_t>(std::time(nullptr)), problems);
        GenerationProblems(text, keyId, keyIds, file, path, previousDir, problems);
        const std::string subDir = SettingProblems(text, path, problems);
        EntryProblems(text, FilesFolder(releaseDir, file, subDir), path, root, problems);
    }
    return problems.size() == before;
}

}  // namespace release_tool
