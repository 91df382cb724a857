#include "release_tool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cwctype>
#include <locale.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

#include <zlib.h>

#include "core/block_map.h"
#include "core/release.h"
#include "core/text.h"
#include "core/version_info.h"
#include "crypto.h"

namespace release_tool {

namespace {

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    bytes = s.str();
    return true;
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Where the listed files of a version-info file lie in the release folder: its SUBDIR, as the server maps it,
// or, without one, the folder of the version-info file itself (both passes' defaults).
std::string FilesFolder(const std::string& releaseDir, const std::string& versionFile, const std::string& subDirCp949) {
    std::string sub = core::NormaliseSubDir(subDirCp949);
    if (sub.empty()) return Folder(releaseDir + "/" + versionFile);
    return releaseDir + sub;
}

// Whether path, with every link resolved, lies inside folder (also resolved). False when either is missing.
// The release folder with its links resolved, once; whether a path (its links resolved) lies inside it.
class ReleaseRoot {
public:
    explicit ReleaseRoot(const std::string& folder) {
        if (char* resolved = ::realpath(folder.c_str(), nullptr)) {
            m_root = std::string(resolved) + "/";
            std::free(resolved);
        }
    }
    bool Holds(const std::string& path) const {
        char* resolved = ::realpath(path.c_str(), nullptr);
        const bool inside = resolved && !m_root.empty() && std::string(resolved).compare(0, m_root.size(), m_root) == 0;
        std::free(resolved);
        return inside;
    }

private:
    std::string m_root;  // empty when the folder cannot be resolved: nothing lies inside it
};

// Why the updater would refuse a listed name (UTF-8, and cp949 its code page 949 bytes) or read its line
// as something else; empty when it takes it as the file it is. The updater's own rules decide.
std::string NameProblem(const std::string& name, const std::string& cp949) {
    if (!core::IsAcceptableEntryName(name)) return "a name the updater refuses";
    const core::ClassifiedLine line = core::ClassifyLine(cp949 + "=1");
    if (line.kind != core::LineKind::Entry || line.key != cp949) {
        return "the updater reads its line as something else (a comment, or a SITE or SUBDIR line)";
    }
    if (core::Utf8ToUtf16(name).size() > core::kMaxListedNameChars) {
        return "longer than the " + std::to_string(core::kMaxListedNameChars) +
               " characters whose paths every machine can download and place";
    }
    return "";
}

// A name as Windows compares file names: every character in upper case (Unicode's simple mapping, as
// the system's table has it), so "α.dat" and "Α.dat" are one file.
std::u16string WindowsFold(const std::string& utf8) {
    static const locale_t utf8Locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::u16string units = core::Utf8ToUtf16(utf8);
    for (char16_t& u : units) {
        if (utf8Locale && (u < 0xD800 || u > 0xDFFF)) u = static_cast<char16_t>(::towupper_l(u, utf8Locale));
    }
    return units;
}

// A SUBDIR the server maps inside the release folder: relative, "/"-separated, no "." or ".." part.
bool IsReleaseSubDir(const std::string& value) {
    if (value.find('\\') != std::string::npos || value.find(':') != std::string::npos) return false;
    std::istringstream parts(value);
    for (std::string part; std::getline(parts, part, '/');) {
        if (part == "." || part == "..") return false;
    }
    return true;
}

// A SITE the updater can connect to: a host name or address, nothing more (no scheme, port or path).
bool IsSiteHost(const std::string& value) { return value.empty() || core::IsHostName(value); }  // none: the built-in host

// --- the description -----------------------------------------------------------------------------------

struct Entry {
    std::string name;  // UTF-8
    bool registerFlag = false, openFlag = false;
    std::string version;  // given for a changed file; empty: derived from the content
    int line = 0;
};
struct Section {
    std::string versionFile;  // relative to the release folder
    std::string site, subDir;  // UTF-8
    std::vector<std::string> mirrors;  // hosts that serve the same paths, in the order to try them
    std::vector<Entry> entries;
    int line = 0;
};

// NAME.gz and NAME.blocks beside a listed NAME are publish's own: a listed file of such a name would be
// written over or removed, and customers would fail it.
void BesideNameProblems(const std::string& path, const Section& s, std::vector<Problem>& problems) {
    std::map<std::u16string, const Entry*> listed;
    for (const Entry& e : s.entries) listed.emplace(WindowsFold(e.name), &e);
    for (const Entry& e : s.entries) {
        for (const char* beside : {".gz", ".blocks"}) {
            const auto other = listed.find(WindowsFold(e.name + beside));
            if (other == listed.end()) continue;
            problems.push_back({path + ":" + std::to_string(other->second->line),
                                "\"" + other->second->name + "\": the name publish gives its own " + beside + " file beside \"" +
                                    e.name + "\" (line " + std::to_string(e.line) + "); rename one of them"});
        }
    }
}

bool ParseDescription(const std::string& path, std::vector<Section>& sections, std::vector<Problem>& problems) {
    std::ifstream in(path);
    if (!in) {
        problems.push_back({path, "cannot be read"});
        return false;
    }
    const size_t before = problems.size();
    std::map<std::u16string, int> names;  // letter case aside (as Windows sees it), within a section
    int n = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++n;
        if (n == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);  // a byte order mark (Notepad)
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();  // a description written with CR LF
        const std::string line = core::TrimBlanks(raw);
        const std::string where = path + ":" + std::to_string(n);
        if (core::Utf16ToUtf8(core::Utf8ToUtf16(line)) != line) {
            problems.push_back({where, "not UTF-8 text (save the description as UTF-8)"});
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[') {
            if (line.back() != ']') {
                problems.push_back({where, "a [version-info file] line without its \"]\""});
                continue;
            }
            sections.push_back({core::TrimBlanks(line.substr(1, line.size() - 2)), "", "", {}, {}, n});
            const std::string& file = sections.back().versionFile;
            const auto& known = StandardVersionFiles();
            if (std::find(known.begin(), known.end(), file) == known.end()) {
                problems.push_back({where, "[" + file + "] is not a version-info file the updater asks for (" + known[0] +
                                               ", " + known[1] + ")"});
            }
            for (const Section& s : sections) {
                if (&s != &sections.back() && s.versionFile == file) {
                    problems.push_back({where, "the version-info file " + s.versionFile + " is described twice"});
                }
            }
            names.clear();
            continue;
        }
        if (sections.empty()) {
            problems.push_back({where, "a line before the first [version-info file]"});
            continue;
        }
        Section& s = sections.back();
        const size_t bar = line.find('|'), eq = line.find('=');
        if (eq != std::string::npos && (bar == std::string::npos || eq < bar)) {
            const std::string key = core::TrimBlanks(line.substr(0, eq)), value = core::TrimBlanks(line.substr(eq + 1));
            if (core::HasControlCharacter(value)) problems.push_back({where, "a control character in " + key});
            if (key == "site" && !IsSiteHost(value)) problems.push_back({where, "site= takes a host name alone (no http://, port or path)"});
            else if (key == "mirror" && !core::IsHostName(value)) problems.push_back({where, "mirror= takes a host name alone (no http://, port or path)"});
            else if (key == "subdir" && !IsReleaseSubDir(value)) problems.push_back({where, "subdir= must lie inside the release folder (\"/\"-separated, no \".\" or \"..\")"});
            if (key == "site") s.site = value;
            else if (key == "subdir") s.subDir = value;
            else if (key == "mirror") s.mirrors.push_back(value);
            else problems.push_back({where, "unknown setting \"" + key + "\" (site=, subdir=, mirror=)"});
            continue;
        }
        Entry e;
        e.line = n;
        e.name = core::TrimBlanks(line.substr(0, bar));
        std::istringstream options(bar == std::string::npos ? std::string() : line.substr(bar + 1));
        for (std::string word; options >> word;) {
            if (word == "register") e.registerFlag = true;
            else if (word == "open") e.openFlag = true;
            else if (word.compare(0, 8, "version=") == 0) {
                std::string rest;
                std::getline(options, rest);
                e.version = core::TrimBlanks(word.substr(8) + rest);
                if (e.version.empty() || e.version.find(',') != std::string::npos || core::HasControlCharacter(e.version)) {
                    problems.push_back({where, "a version text must be non-empty, without \",\" or control characters"});
                }
            } else {
                problems.push_back({where, "unknown flag \"" + word + "\" (register, open, version=TEXT)"});
            }
        }
        std::string cp949;
        if (!ToCp949(e.name, cp949)) {
            problems.push_back({where, "\"" + e.name + "\": not representable in code page 949"});
        } else if (const std::string why = NameProblem(e.name, cp949); !why.empty()) {
            problems.push_back({where, "\"" + e.name + "\": " + why});
        }
        const std::u16string folded = WindowsFold(e.name);
        if (names.count(folded)) {
            problems.push_back({where, "\"" + e.name + "\" is named twice (first on line " + std::to_string(names[folded]) + ")"});
        }
        names[folded] = n;
        s.entries.push_back(e);
    }
    for (const Section& s : sections) {
        BesideNameProblems(path, s, problems);
        std::string cp949;
        if (!ToCp949(s.subDir, cp949) || !ToCp949(s.site, cp949)) {
            problems.push_back({path + ":" + std::to_string(s.line), "SITE or SUBDIR not representable in code page 949"});
        }
        if (s.entries.size() > core::kMaxVersionInfoEntries) {
            problems.push_back({path + ":" + std::to_string(s.line), std::to_string(s.entries.size()) + " files: the updater reads at most " +
                                                                          std::to_string(core::kMaxVersionInfoEntries)});
        }
    }
    return problems.size() == before;
}

// --- what a version-info file says ------------------------------------------------------------------------

struct Listed {
    std::string version, digest;
};
// The entries of an existing version-info file by name (folded), and its serial. False, with why, when it
// cannot be read as the updater reads it (its serial is then unknown).
bool ReadExisting(const std::string& bytes, std::map<std::u16string, Listed>& entries, std::uint64_t& serial, std::string& why) {
    for (std::size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1)) {
        if (at == 0 || bytes[at - 1] != '\r') {
            why = "it has LF line ends where the updater reads CR LF (an editor or git's autocrlf changed it)";
            return false;
        }
    }
    core::SignatureLine sig;
    const bool isSigned = core::FindSignatureLine(bytes, sig) == core::SignatureStatus::Present;
    const std::string text = isSigned ? bytes.substr(0, sig.signedLength) : bytes;
    if (!core::FindSerial(text, serial)) {
        why = "it holds no single valid \"#serial N\" line";
        return false;
    }
    core::ForEachLine(text.data(), text.size(), [&](const std::string& line) {
        const core::ClassifiedLine c = core::ClassifyLine(line);
        std::string name;
        if (c.kind != core::LineKind::Entry || !FromCp949(c.key, name)) return;
        const core::EntryFields f = core::ParseEntryFields(c.value);
        entries[WindowsFold(name)] = {f.version, f.digest};
    });
    return true;
}

// The publication time as a serial: YYYYMMDDhhmmss (UTC).
std::uint64_t TimeSerial(std::int64_t now) {
    std::uint64_t serial = 0;
    for (const char c : core::FormatUtcTime(now)) {
        if (c >= '0' && c <= '9') serial = serial * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return serial;
}

bool WriteAtomically(const std::string& path, const std::string& bytes) {
    // Beside the file, then renamed over it: the server never serves half of one.
    const std::string temp = path + ".publishing";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0 &&
                    ::fsync(::fileno(f)) == 0;
    std::fclose(f);
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}


// bytes in gzip's format at zlib's best compression (no name, no time: the same bytes give the same file).
bool Gzip(const std::string& bytes, std::string& gz) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    gz.resize(deflateBound(&z, bytes.size()) + 32);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(&gz[0]);
    z.avail_out = static_cast<uInt>(gz.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    gz.resize(z.total_out);
    deflateEnd(&z);
    return done;
}

}  // namespace

std::string BlockMap(const std::string& bytes) {
    core::BlockMapWriter writer(bytes.size(), [](const char* data, std::size_t size) {
        const core::Sha256Digest d = Sha256(data, size);
        core::StrongHash h{};
        std::copy(d.begin(), d.begin() + h.size(), h.begin());
        return h;
    });
    writer.Feed(bytes.data(), bytes.size());
    return writer.Finish();
}

std::string Describe(const Problem& p) { return p.where + ": " + p.what; }

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
    std::string error;
    const PKey key = LoadKey(privatePath, true, error);
    core::P256Point point;
    if (!key || !PublicPoint(key.get(), point)) {
        problems.push_back({privatePath, error.empty() ? "no usable key" : error});
        return false;
    }
    publicPem = PublicPem(key.get());
    keyId = KeyId(point);
    return true;
}

bool Publish(const std::string& releaseDir, const std::string& descriptionPath, const PublishOptions& options,
             std::vector<std::string>& written, std::vector<Problem>& problems) {
    if (options.privatePath.empty() == !options.unsignedRelease) {
        problems.push_back({"publish", options.unsignedRelease ? "--key and --unsigned together: sign, or do not"
                                                               : "no key: --key PRIVATE.pem to sign the release, or --unsigned to publish it unsigned"});
        return false;
    }
    // The secrets stay out of what the server serves.
    const ReleaseRoot root(releaseDir);
    for (const std::string& secret : {descriptionPath, options.privatePath}) {
        if (!secret.empty() && root.Holds(secret)) {
            problems.push_back({secret, "lies inside the release folder, which the server serves: keep it outside"});
            return false;
        }
    }
    const std::int64_t now = options.now ? options.now : static_cast<std::int64_t>(std::time(nullptr));
    const std::string expires = core::FormatUtcTime(now + options.expiresDays * 86400LL);
    std::vector<Section> sections;
    if (!ParseDescription(descriptionPath, sections, problems)) return false;
    PKey key(nullptr, &EVP_PKEY_free);
    core::P256Point point{};
    if (!options.privatePath.empty()) {
        std::string error;
        key = LoadKey(options.privatePath, true, error);
        if (!key || !PublicPoint(key.get(), point)) {
            problems.push_back({options.privatePath, error.empty() ? "no usable key" : error});
            return false;
        }
    }
    // One publish at a time: two at once would read the same serials and write their files over each other.
    struct Lock {
        int fd;
        ~Lock() {
            if (fd >= 0) ::close(fd);
        }
    } lock{::open((releaseDir + "/.publish.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600)};
    if (lock.fd < 0 || ::flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
        problems.push_back({releaseDir, lock.fd < 0 ? "its lock (.publish.lock) cannot be made: " + std::string(std::strerror(errno))
                                                    : "another publish is running on this release folder"});
        return false;
    }
    // Every file is made before any is written: a refusal changes nothing on disk.
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::pair<std::string, std::string>> beside;  // NAME.gz and NAME.blocks, and their bytes; none: removed
    for (const Section& s : sections) {
        std::string site, subDir, old;
        ToCp949(s.site, site);
        ToCp949(s.subDir, subDir);
        const std::string target = releaseDir + "/" + s.versionFile;
        if (!root.Holds(Folder(target))) {
            problems.push_back({descriptionPath + ":" + std::to_string(s.line),
                                "the folder of " + s.versionFile + " is missing or a link that leads out of the release folder"});
            continue;
        }
        std::map<std::u16string, Listed> previous;
        std::uint64_t serial = 0;
        std::string why;
        if (ReadFile(target, old) && !ReadExisting(old, previous, serial, why) && !options.serial) {
            problems.push_back({target, "the release it replaces cannot be read: " + why +
                                            "; its serial is unknown, so give --serial N above the one customers have"});
            continue;
        }
        if (options.serial && options.serial <= serial) {
            problems.push_back({target, "--serial " + std::to_string(options.serial) + " is not above the serial " +
                                            std::to_string(serial) + " it replaces: every updater would refuse it as older"});
            continue;
        }
        const std::uint64_t next = options.serial ? options.serial : std::max(serial + 1, TimeSerial(now));
        std::string text;
        if (!s.site.empty()) text += "SITE=" + site + "\r\n";
        if (!s.subDir.empty()) text += "SUBDIR=" + subDir + "\r\n";
        const std::string folder = FilesFolder(releaseDir, s.versionFile, subDir);
        for (const Entry& e : s.entries) {
            const std::string where = descriptionPath + ":" + std::to_string(e.line);
            std::string name, bytes;
            ToCp949(e.name, name);
            if (!IsRegularFile(folder + "/" + name) || !ReadFile(folder + "/" + name, bytes)) {
                problems.push_back({where, "\"" + e.name + "\": no such file " + folder + "/" + e.name});
                continue;
            }
            if (!root.Holds(folder + "/" + name)) {
                problems.push_back({where, "\"" + e.name + "\": a link that leads out of the release folder"});
                continue;
            }
            // A copy gzip makes at least a tenth smaller goes beside it, for a server that serves it to
            // whoever accepts gzip; none otherwise, so no copy of older bytes can stay behind.
            std::string gz;
            const bool worth = Gzip(bytes, gz) && gz.size() * 10 <= bytes.size() * 9;
            beside.emplace_back(folder + "/" + name + ".gz", worth ? gz : std::string());
            // A large file's block map goes beside it too, for updaters that hold an older copy.
            beside.emplace_back(folder + "/" + name + ".blocks", bytes.size() >= core::kMinMappedFileSize ? BlockMap(bytes) : std::string());
            const core::Sha256Digest d = Sha256(bytes);
            const std::string digest = "sha256:" + core::HexLower(d.data(), d.size());
            // A version given is published as it stands; without one, unchanged bytes keep theirs and
            // changed bytes get one of their own. The file is due on a customer's machine exactly when its
            // version text changes, so a text the replaced file gives other bytes is never reused.
            const auto was = previous.find(WindowsFold(e.name));
            const bool same = was != previous.end() && was->second.digest == digest;
            std::string version;
            ToCp949(e.version.empty() ? (same ? std::string() : core::HexLower(d.data(), 4)) : e.version, version);
            if (e.version.empty() && same) version = was->second.version;
            if (was != previous.end() && !same && version == was->second.version) {
                problems.push_back({where, "\"" + e.name + "\": its bytes changed, but version=" + e.version +
                                               " is the version the published release gives its old bytes: customers would "
                                               "keep the old file; give it a new version="});
                continue;
            }
            text += name + "=" + version + ",0," + (e.registerFlag ? "1" : "0") + "," + (e.openFlag ? "1" : "0") + "," +
                    digest + ",size:" + std::to_string(bytes.size()) + "\r\n";
        }
        // Signed with the rest: which file this is, and until when it may be used.
        text += "#serial " + std::to_string(next) + "\r\n#file " + s.versionFile + "\r\n#expires " + expires + "\r\n";
        for (const std::string& mirror : s.mirrors) text += "#mirror " + mirror + "\r\n";
        if (key) {
            core::P256Signature sig;
            if (!Sign(key.get(), text, sig)) {
                problems.push_back({options.privatePath, "signing failed"});
                continue;
            }
            text += "#signature " + KeyId(point) + " " + core::EncodeBase64(std::string(sig.begin(), sig.end())) + "\r\n";
        }
        files.emplace_back(target, text);
    }
    if (!problems.empty()) return false;
    // The compressed copies and block maps first: the lists that name the new bytes come after them.
    for (const auto& c : beside) {
        if (c.second.empty() ? std::remove(c.first.c_str()) != 0 && errno != ENOENT : !WriteAtomically(c.first, c.second)) {
            problems.push_back({c.first, "could not be written"});
            return false;
        }
    }
    for (const auto& f : files) {
        if (!WriteAtomically(f.first, f.second)) {
            problems.push_back({f.first, "could not be written"});
            return false;
        }
        written.push_back(f.first);
    }
    return true;
}

bool Verify(const std::string& releaseDir, const std::vector<std::string>& versionFiles,
            const std::vector<std::string>& publicKeyPaths, const std::string& previousDir,
            std::vector<Problem>& problems, bool unsignedRelease) {
    const size_t before = problems.size();
    const ReleaseRoot root(releaseDir);
    if (publicKeyPaths.empty() == !unsignedRelease) {
        problems.push_back({"verify", unsignedRelease ? "--key and --unsigned together: check signatures, or do not"
                                                      : "no key: --key PUBLIC.pem to check signatures, or --unsigned for a release without them"});
        return false;
    }
    std::vector<PKey> keys;
    for (const std::string& path : publicKeyPaths) {
        std::string error;
        PKey k = LoadKey(path, false, error);
        if (!k) problems.push_back({path, error});
        else keys.push_back(std::move(k));
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
        std::string text = bytes;
        int lines = 0;
        core::ForEachLine(bytes.data(), bytes.size(), [&](const std::string&) { ++lines; });
        if (!keys.empty()) {
            core::SignatureLine sig;
            const core::SignatureStatus status = core::FindSignatureLine(bytes, sig);
            const std::string where = path + ":" + std::to_string(lines);
            if (status == core::SignatureStatus::Absent) {
                problems.push_back({where, "no signature line at the end"});
            } else if (status == core::SignatureStatus::Malformed) {
                problems.push_back({where, "a malformed signature line"});
            } else {
                text = bytes.substr(0, sig.signedLength);
                EVP_PKEY* signer = nullptr;
                for (const PKey& k : keys) {
                    core::P256Point point;
                    if (PublicPoint(k.get(), point) && KeyId(point) == sig.keyId) signer = k.get();
                }
                if (!signer) problems.push_back({where, "signed by the unknown key " + sig.keyId});
                else if (!Verify(signer, text, sig.signature)) problems.push_back({where, "the signature does not verify: the file was changed after it was signed"});
            }
        }
        std::string own;
        std::int64_t expires = 0;
        if (!core::FindFileLine(text, own)) {
            problems.push_back({path, "not exactly one valid \"#file PATH\" line: the updater refuses it"});
        } else if (own != file) {
            problems.push_back({path, "it names itself \"" + own + "\": the updater asking for " + file + " refuses it"});
        }
        if (!core::FindExpiry(text, expires)) {
            problems.push_back({path, "not exactly one valid \"#expires YYYY-MM-DDThh:mm:ssZ\" line: the updater refuses it"});
        } else if (expires <= static_cast<std::int64_t>(std::time(nullptr))) {
            problems.push_back({path, "expired at " + core::FormatUtcTime(expires) + ": the updater refuses it"});
        }
        std::uint64_t serial = 0;
        if (!core::FindSerial(text, serial)) {
            problems.push_back({path, "not exactly one valid \"#serial N\" line"});
        } else if (!previousDir.empty()) {
            std::string old;
            std::map<std::u16string, Listed> ignored;
            std::uint64_t oldSerial = 0;
            std::string why;
            if (!ReadFile(previousDir + "/" + file, old)) {
                problems.push_back({previousDir + "/" + file, "the previous release is missing: nothing to compare the serial with"});
            } else if (!ReadExisting(old, ignored, oldSerial, why)) {
                problems.push_back({previousDir + "/" + file, "the previous release cannot be read: " + why});
            } else if (serial < oldSerial) {
                problems.push_back({path, "serial " + std::to_string(serial) + " is lower than the previous release's " +
                                              std::to_string(oldSerial) + ": the updater refuses it as a rollback"});
            }
        }
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
        const std::string folder = FilesFolder(releaseDir, file, subDir);
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
            std::string bytes2;
            if (!IsRegularFile(folder + "/" + c.key) || !ReadFile(folder + "/" + c.key, bytes2)) {
                problems.push_back({where, "\"" + name + "\": the listed file is missing (" + folder + "/" + name + ")"});
            } else if (!root.Holds(folder + "/" + c.key)) {
                problems.push_back({where, "\"" + name + "\": a link that leads out of the release folder"});
            } else if (Sha256(bytes2) != want || bytes2.size() != size) {
                problems.push_back({where, "\"" + name + "\": the file's bytes differ from its digest or size"});
            }
        });
    }
    return problems.size() == before;
}

}  // namespace release_tool
