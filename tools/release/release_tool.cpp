#include "release_tool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <filesystem>

#include "c_resources.h"
#include "copies.h"
#include "core/block_map.h"
#include "core/release.h"
#include "core/text.h"
#include "core/version_info.h"
#include "crypto.h"
#include "description.h"
#include "log.h"

namespace release_tool {

namespace {

// The publication time as a serial: YYYYMMDDhhmmss (UTC).
std::uint64_t TimeSerial(std::int64_t now) {
    std::uint64_t serial = 0;
    for (const char c : core::FormatUtcTime(now)) {
        if (c >= '0' && c <= '9') serial = serial * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return serial;
}

}  // namespace

std::string BlockMap(const std::string& bytes) {
    core::BlockMapWriter writer(bytes.size(), [](const char* data, std::size_t size) {
        return core::StrongHashOf(Sha256(data, size).data());
    });
    writer.Feed(bytes.data(), bytes.size());
    return writer.Finish();
}

std::string Describe(const Problem& p) { return p.where + ": " + p.what; }

const char* DefaultLogOrigin() { return UPDATER_DEFAULT_LOG_ORIGIN; }

const std::vector<std::string>& StandardVersionFiles() {
    static const std::vector<std::string> files = {"update/db/DBUpdate.ver", "marrowtide/MarrowtideWeb.ver"};
    return files;
}

bool Keygen(const std::string& privatePath, std::string& publicPem, std::string& keyId, std::vector<Problem>& problems) {
    PKey key = NewKey();
    core::P256Point point;
    std::string error;
    if (!key || !PublicPoint(key.get(), point)) {
        problems.push_back({privatePath, "no key could be made"});
        return false;
    }
    if (!WritePrivatePem(key.get(), privatePath, error)) {
        problems.push_back({privatePath, error});
        return false;
    }
    publicPem = PublicPem(key.get());
    keyId = KeyId(point);
    return true;
}

bool PublicKeyOf(const std::string& privatePath, std::string& publicPem, std::string& keyId, std::vector<Problem>& problems) {
    core::P256Point point;
    const PKey key = LoadKeyAndPoint(privatePath, true, point, problems);
    if (!key) return false;
    publicPem = PublicPem(key.get());
    keyId = KeyId(point);
    return true;
}

namespace {

// The file's inode (0: none).
ino_t InodeOf(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// What publish writes: the version-info files, and beside each listed file its NAME.gz and NAME.blocks
// (with their bytes; none: removed) and its by-hash names (each with the file whose bytes it takes).
struct Writes {
    std::vector<std::pair<std::string, std::string>> files, beside, byHash;
    std::set<std::string> byHashFolders;  // of this publish's listed files
    std::set<std::string> named;          // by-hash names (hex) the new or the replaced lists name: kept
    std::map<ino_t, std::string> listed;  // each listed file's inode: the by-hash name of its bytes
    Log log;                               // the folder's log, which each signed file joins
    std::vector<std::string> logEntries;   // the entries of the files signed
    std::vector<std::pair<std::string, std::string>> logFiles;  // the log's tiles and checkpoint, grown
};

// The text of a file about to be signed, its place in the log (the next one) named in it; joined to the
// log once signed.
std::string WithLogIndex(std::string text, const Writes& writes) {
    const std::size_t at = text.find("#log-index ");
    if (at != std::string::npos && (at == 0 || text[at - 1] == '\n')) text.erase(at, text.find('\n', at) + 1 - at);
    return text + "#log-index " + std::to_string(writes.log.entries.size() + writes.logEntries.size()) + "\r\n";
}
void JoinLog(const std::string& path, const std::string& bytes, Writes& writes) {
    writes.logEntries.push_back(core::tlog::EntryText(path, Sha256(bytes)));
}

// Where publish would leak a secret or not know how to sign: false, with the problem.
// A private key anywhere in the release folder (a copy of a signing key left there is published with it);
// a release folder that is a link (a copy of the server's link would publish into the live folder) or lies
// inside another release folder.
bool ReleaseFolderProblems(const std::string& releaseDir, std::vector<Problem>& problems) {
    const std::size_t before = problems.size();
    struct stat st {};
    std::string dir = releaseDir;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (::lstat(dir.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        problems.push_back({releaseDir, "is a link: publish into the folder itself (a copy made with cp -a of the server's link "
                                        "still leads to the live folder)"});
        return false;
    }
    const CMemory resolved{::realpath(dir.c_str(), nullptr)};
    for (std::string up = resolved ? std::string(resolved.get()) : std::string(); up.size() > 1;) {
        up = up.substr(0, std::max<std::size_t>(up.rfind('/'), 1));
        for (const std::string& file : StandardVersionFiles()) {
            if (IsRegularFile(up + "/" + file)) {
                problems.push_back({releaseDir, "lies inside the release folder " + up + " (it holds " + file + "): publish there, or outside it"});
                return false;
            }
        }
        if (up == "/") break;
    }
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, error); !error && it != std::filesystem::recursive_directory_iterator();
         it.increment(error)) {
        std::string head;
        // (a link is no file the server serves: it serves no links)
        if (it->symlink_status(error).type() != std::filesystem::file_type::regular || it->file_size(error) > 64 * 1024 ||
            !ReadFile(it->path().string(), head)) {
            continue;
        }
        if (head.find("PRIVATE KEY-----") != std::string::npos) {
            problems.push_back({it->path().string(), "a private key inside the release folder, which the server serves: remove it, "
                                                     "and make a new key if it was ever served"});
        }
    }
    return problems.size() == before;
}

bool PublishInputsProblems(const ReleaseRoot& root, const std::string& releaseDir, const std::string& descriptionPath,
                           const PublishOptions& options, std::vector<Problem>& problems) {
    if (options.privatePath.empty() == !options.unsignedRelease) {
        problems.push_back({"publish", options.unsignedRelease ? "--key and --unsigned together: sign, or do not"
                                                               : "no key: --key PRIVATE.pem to sign the release, or --unsigned to publish it unsigned"});
        return false;
    }
    // The secrets stay out of what the server serves.
    for (const std::string& secret : {descriptionPath, options.privatePath}) {
        if (!secret.empty() && root.Holds(secret)) {
            problems.push_back({secret, "lies inside the release folder, which the server serves: keep it outside"});
            return false;
        }
    }
    return ReleaseFolderProblems(releaseDir, problems);
}

// One publish at a time: two at once would read the same serials and write their files over each other.
class PublishLock {
public:
    explicit PublishLock(const std::string& releaseDir)
        : m_fd(::open((releaseDir + "/.publish.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600)),
          m_error(m_fd < 0 ? errno : 0), m_held(m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {}
    ~PublishLock() {
        if (m_fd >= 0) ::close(m_fd);
    }
    PublishLock(const PublishLock&) = delete;
    PublishLock& operator=(const PublishLock&) = delete;
    bool Held(const std::string& releaseDir, std::vector<Problem>& problems) const {
        if (!m_held) {
            problems.push_back({releaseDir, m_fd < 0 ? "its lock (.publish.lock) cannot be made: " + std::string(std::strerror(m_error))
                                                     : "another publish is running on this release folder"});
        }
        return m_held;
    }

private:
    int m_fd;
    int m_error;
    bool m_held;
};

// The entry line of a listed file (its copies beside it added to writes); false, with the problem, when it
// cannot be published.
bool EntryText(const Entry& e, const std::string& folder, const std::string& where, const ReleaseRoot& root,
               const std::map<std::u16string, Listed>& previous, Writes& writes, std::string& text, std::vector<Problem>& problems) {
    std::string name, bytes;
    ToCp949(e.name, name);
    const std::string path = folder + "/" + name;
    // Found under its UTF-8 name too (what every Linux tool writes): it then gets its code page 949 name, the
    // one the updater asks for, as a link to the same bytes.
    const std::string asWritten = folder + "/" + e.name;
    const std::string source = !IsRegularFile(path) && name != e.name && IsRegularFile(asWritten) ? asWritten : path;
    if (!IsRegularFile(source) || !ReadFile(source, bytes)) {
        problems.push_back({where, "\"" + e.name + "\": no such file " + folder + "/" + e.name});
        return false;
    }
    if (!root.Holds(source)) {
        problems.push_back({where, "\"" + e.name + "\": a link that leads out of the release folder"});
        return false;
    }
    // A database cut to nothing is the classic tired mistake: placed, it stops the product.
    if (bytes.empty() && !e.mayBeEmpty) {
        problems.push_back({where, "\"" + e.name + "\": the file is empty (0 bytes); if that is meant, flag it \"empty\""});
        return false;
    }
    // A copy gzip makes at least a tenth smaller goes beside it, for a server that serves it to whoever
    // accepts gzip; none otherwise, so no copy of older bytes can stay behind. A large file's block map goes
    // beside it too, for updaters that hold an older copy.
    std::string gz;
    const bool worth = Gzip(bytes, gz) && gz.size() * 10 <= bytes.size() * 9;
    writes.beside.emplace_back(path + ".gz", worth ? gz : std::string());
    writes.beside.emplace_back(path + ".blocks", bytes.size() >= core::kMinMappedFileSize ? BlockMap(bytes) : std::string());
    if (source != path) writes.byHash.emplace_back(path, source);
    const core::Sha256Digest d = Sha256(bytes);
    const std::string digest = "sha256:" + core::HexLower(d.data(), d.size());
    // The same bytes under the name made of their digest, which a cache may keep for good.
    const std::string hashed = folder + "/" + core::ByHashName(d);
    writes.byHash.emplace_back(hashed, path);
    if (worth) writes.byHash.emplace_back(hashed + ".gz", path + ".gz");
    if (bytes.size() >= core::kMinMappedFileSize) writes.byHash.emplace_back(hashed + ".blocks", path + ".blocks");
    writes.byHashFolders.insert(Folder(hashed));
    writes.listed[InodeOf(source)] = core::HexLower(d.data(), d.size());
    writes.named.insert(core::HexLower(d.data(), d.size()));
    // A version given is published as it stands; without one, unchanged bytes keep theirs and changed bytes
    // get one of their own. The file is due on a customer's machine exactly when its version text changes,
    // so a text the replaced file gives other bytes is never reused.
    const auto was = previous.find(WindowsFold(e.name));
    const bool same = was != previous.end() && was->second.digest == digest;
    std::string version;
    ToCp949(e.version.empty() ? (same ? std::string() : core::HexLower(d.data(), 4)) : e.version, version);
    if (e.version.empty() && same) version = was->second.version;
    if (was != previous.end() && !same && version == was->second.version) {
        problems.push_back({where, "\"" + e.name + "\": its bytes changed, but version=" + e.version +
                                       " is the version the published release gives its old bytes: customers would "
                                       "keep the old file; give it a new version="});
        return false;
    }
    text += name + "=" + version + ",0," + (e.registerFlag ? "1" : "0") + "," + (e.openFlag ? "1" : "0") + "," + digest +
            ",size:" + std::to_string(bytes.size()) + "\r\n";
    return true;
}

// The serial of the release that replaces the file at target: false, with the problem, where it cannot be
// told or the one given is not above the old one. previous: the old release's entries.
bool NextSerial(const std::string& target, const PublishOptions& options, std::int64_t now, std::map<std::u16string, Listed>& previous,
                std::uint64_t& next, std::vector<Problem>& problems) {
    std::uint64_t serial = 0;
    std::string old, why;
    if (ReadFile(target, old) && !ReadExisting(old, previous, serial, why) && !options.serial) {
        problems.push_back({target, "the release it replaces cannot be read: " + why +
                                        "; its serial is unknown, so give --serial N above the one customers have"});
        return false;
    }
    if (options.serial && options.serial <= serial) {
        problems.push_back({target, "--serial " + std::to_string(options.serial) + " is not above the serial " + std::to_string(serial) +
                                        " it replaces: every updater would refuse it as older"});
        return false;
    }
    next = options.serial ? options.serial : std::max(serial + 1, TimeSerial(now));
    return true;
}

// A staged section's rollout ID: the one it gives, else the one the replaced file carried (widening a stage
// keeps the machines already in it), else a new one: the serial of this release.
std::string RolloutId(const Section& s, const std::string& target, std::uint64_t serial) {
    if (!s.rolloutId.empty()) return s.rolloutId;
    std::string old;
    core::Rollout replaced;
    if (ReadFile(target, old) && core::FindRollout(old, replaced) == core::RolloutLine::Present) return replaced.id;
    return std::to_string(serial);
}

// Signing and numbering, the same for every section of one publish.
struct Signer {
    EVP_PKEY* key;  // none: unsigned
    core::P256Point point;
    std::string expires;
    std::vector<std::string> ranked;  // the KEYIDs of --rank, oldest first
};

// Whether every updater that took the release at target (its bytes old) takes one that signer signs: the
// same key, or one ranked after it. false, with why, otherwise.
bool GenerationHolds(const std::string& old, const Signer& signer, const std::string& target, std::vector<Problem>& problems) {
    core::SignatureLine sig;
    if (!signer.key || core::FindSignatureLine(old, sig) != core::SignatureStatus::Present) return true;
    const std::string mine = KeyId(signer.point);
    if (sig.keyId == mine) return true;
    const int rank = RankOf(mine, signer.ranked);
    core::KeptRelease kept;  // the replaced release, as an updater that took it keeps it (the new serial is higher)
    kept.rank = RankOf(sig.keyId, signer.ranked);
    bool keep = false;
    if (signer.ranked.empty()) {
        problems.push_back({target, "the release it replaces is signed with " + sig.keyId + ", this publish signs with " + mine +
                                        ": give the updater's public keys in their order (--rank PUBLIC.pem, oldest first) so publish can check every updater takes it"});
    } else if (rank == core::kNotBuiltIn) {
        problems.push_back({target, "the signing key " + mine + " is none of the keys given with --rank: no updater built with them takes it"});
    } else if (!core::GenerationAccepts(rank, kept.serial + 1, kept, keep)) {
        problems.push_back({target, "the signing key " + mine + " ranks before " + sig.keyId +
                                        ", which signed the release it replaces: every updater that took that one refuses this"});
    } else {
        return true;
    }
    return false;
}

// A section's version-info file, made into writes; false, with the problems, when it cannot be.
bool SectionFile(const Section& s, const std::string& releaseDir, const std::string& descriptionPath, const ReleaseRoot& root,
                 const PublishOptions& options, std::int64_t now, const Signer& signer, Writes& writes, std::vector<Problem>& problems) {
    std::string site, subDir;
    ToCp949(s.site, site);
    ToCp949(s.subDir, subDir);
    const std::string target = releaseDir + "/" + s.versionFile;
    if (!root.Holds(Folder(target))) {
        problems.push_back({descriptionPath + ":" + std::to_string(s.line),
                            "the folder of " + s.versionFile + " is missing or a link that leads out of the release folder"});
        return false;
    }
    std::map<std::u16string, Listed> previous;
    std::uint64_t next = 0;
    if (!NextSerial(target, options, now, previous, next, problems)) return false;
    std::string old;
    if (ReadFile(target, old) && !GenerationHolds(old, signer, target, problems)) return false;
    std::string text;
    if (!s.site.empty()) text += "SITE=" + site + "\r\n";
    if (!s.subDir.empty()) text += "SUBDIR=" + subDir + "\r\n";
    const std::string folder = FilesFolder(releaseDir, s.versionFile, subDir);
    bool all = true;
    for (const Entry& e : s.entries) {
        all = EntryText(e, folder, descriptionPath + ":" + std::to_string(e.line), root, previous, writes, text, problems) && all;
    }
    // Signed with the rest: which file this is, and until when it may be used.
    text += "#serial " + std::to_string(next) + "\r\n#file " + s.versionFile + "\r\n#expires " + signer.expires + "\r\n";
    for (const std::string& mirror : s.mirrors) text += "#mirror " + mirror + "\r\n";
    text += "#by-hash\r\n";
    if (s.staged) text += "#rollout " + core::FormatRolloutPercent(s.stage) + " " + RolloutId(s, target, next) + "\r\n";
    // An edge may serve the replaced list for a while yet: the names it gives stay.
    for (const auto& p : previous) {
        if (p.second.digest.compare(0, 7, "sha256:") == 0) writes.named.insert(p.second.digest.substr(7));
    }
    if (signer.key) {
        text = WithLogIndex(text, writes);
        core::P256Signature sig;
        if (!Sign(signer.key, text, sig)) {
            problems.push_back({options.privatePath, "signing failed"});
            return false;
        }
        text += "#signature " + KeyId(signer.point) + " " + core::EncodeBase64(std::string(sig.begin(), sig.end())) + "\r\n";
        JoinLog(s.versionFile, text, writes);
    }
    writes.files.emplace_back(target, text);
    return all;
}

// The standard version-info files this publish does not describe, signed by another key than its own: signed
// again as they stand, so that both files of a release carry one key (a leaked key then signs nothing any
// more), once every updater that took them takes the new signature.
void ResignOthers(const std::string& releaseDir, const std::vector<Section>& sections, const Signer& signer, Writes& writes,
                  std::vector<Problem>& problems) {
    if (!signer.key) return;
    for (const std::string& file : StandardVersionFiles()) {
        const bool described = std::any_of(sections.begin(), sections.end(), [&](const Section& s) { return s.versionFile == file; });
        const std::string path = releaseDir + "/" + file;
        std::string bytes;
        core::SignatureLine sig;
        if (described || !ReadFile(path, bytes) || core::FindSignatureLine(bytes, sig) != core::SignatureStatus::Present ||
            sig.keyId == KeyId(signer.point) || !GenerationHolds(bytes, signer, path, problems)) {
            continue;
        }
        const std::string text = WithLogIndex(bytes.substr(0, sig.signedLength), writes);
        core::P256Signature signature;
        if (!Sign(signer.key, text, signature)) {
            problems.push_back({path, "signing it again with the new key failed"});
            continue;
        }
        writes.files.emplace_back(path, text + "#signature " + KeyId(signer.point) + " " +
                                            core::EncodeBase64(std::string(signature.begin(), signature.end())) + "\r\n");
        JoinLog(file, writes.files.back().second, writes);
    }
}

// The by-hash names the version-info files this publish leaves as they are name: they share a folder
// with those it writes, maybe.
void NamedByOtherLists(const std::string& releaseDir, const std::vector<Section>& sections, std::set<std::string>& named) {
    for (const std::string& file : StandardVersionFiles()) {
        const bool described = std::any_of(sections.begin(), sections.end(), [&](const Section& s) { return s.versionFile == file; });
        std::string bytes, why;
        std::map<std::u16string, Listed> entries;
        std::uint64_t serial = 0;
        if (described || !ReadFile(releaseDir + "/" + file, bytes) || !ReadExisting(bytes, entries, serial, why)) continue;
        for (const auto& e : entries) {
            if (e.second.digest.compare(0, 7, "sha256:") == 0) named.insert(e.second.digest.substr(7));
        }
    }
}

// A by-hash name (hex, or hex.gz or hex.blocks) that no list named keeps nothing any updater asks for.
bool NamedBy(const std::string& file, const std::set<std::string>& named) {
    return named.count(file.substr(0, file.find('.'))) > 0;
}

// The by-hash names neither the new nor the replaced lists name, after the new lists are written; and those
// whose bytes a listed file written over in place changed (one inode with a listed file of another digest):
// a cache would keep those wrong bytes under their name for good.
void RemoveUnnamed(const Writes& writes, std::vector<std::string>& removed) {
    for (const std::string& folder : writes.byHashFolders) {
        std::error_code error;
        for (const auto& f : std::filesystem::directory_iterator(folder, error)) {
            const std::string file = f.path().filename().string();
            const auto listed = writes.listed.find(InodeOf(f.path().string()));
            const bool changed = listed != writes.listed.end() && listed->second != file;
            if (NamedBy(file, writes.named) && !changed) continue;
            if (std::remove(f.path().c_str()) == 0) {
                removed.push_back(f.path().string() + (changed ? " (a listed file was written over in place: it changed these bytes too)"
                                                                : " (no list names it any more)"));
            }
        }
    }
}

// The folder's log, read, when it is whole, continues the checkpoint kept beside the key and has the
// origin publish signs under (origin: as given, else the log's own, else the built-in one).
bool LogContinues(const std::string& releaseDir, const PublishOptions& options, Log& log, std::string& origin, std::vector<Problem>& problems) {
    if (!ReadLog(releaseDir, log, problems) || !ContinuesKept(log, KeptCheckpointPath(options.privatePath), problems)) return false;
    origin = !options.logOrigin.empty() ? options.logOrigin : !log.checkpoint.origin.empty() ? log.checkpoint.origin : DefaultLogOrigin();
    if (!log.checkpoint.origin.empty() && log.checkpoint.origin != origin) {
        problems.push_back({releaseDir + "/log/checkpoint", "the log's origin is " + log.checkpoint.origin + ", not " + origin +
                                                                 " (--log-origin): updaters are built with one origin"});
        return false;
    }
    return true;
}

// The compressed copies and block maps first (an unchanged one is left as it is: a new time would be a new
// ETag for every cache), then the by-hash names; the lists that name the new bytes come after them.
bool WriteAll(const Writes& writes, std::vector<std::string>& written, std::vector<Problem>& problems) {
    for (const auto& c : writes.beside) {
        if (!c.second.empty() && HoldsBytes(c.first, c.second)) continue;
        if (c.second.empty() ? std::remove(c.first.c_str()) != 0 && errno != ENOENT : !WriteAtomically(c.first, c.second)) {
            problems.push_back({c.first, "could not be written"});
            return false;
        }
    }
    for (const auto& h : writes.byHash) {
        if (!MakeByHashName(h.first, h.second)) {
            problems.push_back({h.first, "could not be written"});
            return false;
        }
    }
    // The log that holds the new lists before the lists: an updater never finds one that is not in it yet.
    for (const auto& l : writes.logFiles) {
        std::error_code error;
        std::filesystem::create_directories(Folder(l.first), error);
        if (!WriteAtomically(l.first, l.second)) {
            problems.push_back({l.first, "could not be written"});
            return false;
        }
    }
    for (const auto& f : writes.files) {
        if (!WriteAtomically(f.first, f.second)) {
            problems.push_back({f.first, "could not be written"});
            return false;
        }
        written.push_back(f.first);
    }
    return true;
}

}  // namespace

bool Publish(const std::string& releaseDir, const std::string& descriptionPath, const PublishOptions& options,
             std::vector<std::string>& written, std::vector<Problem>& problems, std::vector<std::string>* removed) {
    const ReleaseRoot root(releaseDir);
    if (!PublishInputsProblems(root, releaseDir, descriptionPath, options, problems)) return false;
    const std::int64_t now = options.now ? options.now : static_cast<std::int64_t>(std::time(nullptr));
    std::vector<Section> sections;
    if (!ParseDescription(descriptionPath, sections, problems)) return false;
    PKey key(nullptr, &EVP_PKEY_free);
    Signer signer{nullptr, {}, core::FormatUtcTime(now + options.expiresDays * 86400LL), {}};
    if (!options.privatePath.empty()) {
        key = LoadKeyAndPoint(options.privatePath, true, signer.point, problems);
        if (!key) return false;
        signer.key = key.get();
    }
    for (const std::string& path : options.rankedKeys) {
        core::P256Point point;
        if (!LoadKeyAndPoint(path, false, point, problems)) return false;
        signer.ranked.push_back(KeyId(point));
    }
    const PublishLock lock(releaseDir);
    if (!lock.Held(releaseDir, problems)) return false;
    // Every file is made before any is written: a refusal changes nothing on disk.
    Writes writes;
    // A signed release joins the folder's log, which must be whole and continue the last one this key signed.
    std::string origin;
    if (signer.key && !LogContinues(releaseDir, options, writes.log, origin, problems)) return false;
    for (const Section& s : sections) SectionFile(s, releaseDir, descriptionPath, root, options, now, signer, writes, problems);
    ResignOthers(releaseDir, sections, signer, writes, problems);
    NamedByOtherLists(releaseDir, sections, writes.named);
    if (!problems.empty()) return false;
    if (signer.key) {
        writes.logFiles = GrowLog(releaseDir, writes.log, writes.logEntries, origin, signer.key, signer.point);
        if (writes.logFiles.empty()) {
            problems.push_back({options.privatePath, "signing the log's checkpoint failed"});
            return false;
        }
    }
    if (!WriteAll(writes, written, problems)) return false;
    if (signer.key && !WriteAtomically(KeptCheckpointPath(options.privatePath), core::tlog::FormatCheckpoint(writes.log.checkpoint))) {
        problems.push_back({KeptCheckpointPath(options.privatePath), "could not be written: the next publish cannot check the log continues this one"});
        return false;
    }
    std::vector<std::string> gone;
    RemoveUnnamed(writes, removed ? *removed : gone);
    return true;
}

}  // namespace release_tool
