#include "release_tool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

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
    std::vector<Entry> entries;
    int line = 0;
};

bool ParseDescription(const std::string& path, std::vector<Section>& sections, std::vector<Problem>& problems) {
    std::ifstream in(path);
    if (!in) {
        problems.push_back({path, "cannot be read"});
        return false;
    }
    const size_t before = problems.size();
    std::map<std::string, int> names;  // letter case aside, within a section
    int n = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++n;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();  // a description written with CR LF
        const std::string line = core::TrimBlanks(raw);
        const std::string where = path + ":" + std::to_string(n);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            sections.push_back({core::TrimBlanks(line.substr(1, line.size() - 2)), "", "", {}, n});
            for (const Section& s : sections) {
                if (&s != &sections.back() && s.versionFile == sections.back().versionFile) {
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
            if (key == "site") s.site = value;
            else if (key == "subdir") s.subDir = value;
            else problems.push_back({where, "unknown setting \"" + key + "\" (site=, subdir=)"});
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
        if (!core::IsAcceptableEntryName(e.name)) {
            problems.push_back({where, "\"" + e.name + "\": a name the updater refuses"});
        } else if (!ToCp949(e.name, cp949)) {
            problems.push_back({where, "\"" + e.name + "\": not representable in code page 949"});
        }
        const std::string folded = core::AsciiLower(e.name);
        if (names.count(folded)) {
            problems.push_back({where, "\"" + e.name + "\" is named twice (first on line " + std::to_string(names[folded]) + ")"});
        }
        names[folded] = n;
        s.entries.push_back(e);
    }
    for (const Section& s : sections) {
        std::string cp949;
        if (!ToCp949(s.subDir, cp949) || !ToCp949(s.site, cp949)) {
            problems.push_back({path + ":" + std::to_string(s.line), "SITE or SUBDIR not representable in code page 949"});
        }
    }
    return problems.size() == before;
}

// --- what a version-info file says ------------------------------------------------------------------------

struct Listed {
    std::string version, digest;
};
// The entries of an existing version-info file by name (folded), and its serial (0 when none).
void ReadExisting(const std::string& bytes, std::map<std::string, Listed>& entries, std::uint64_t& serial) {
    core::SignatureLine sig;
    const bool isSigned = core::FindSignatureLine(bytes, sig) == core::SignatureStatus::Present;
    const std::string text = isSigned ? bytes.substr(0, sig.signedLength) : bytes;
    if (!core::FindSerial(text, serial)) serial = 0;
    core::ForEachLine(text.data(), text.size(), [&](const std::string& line) {
        const core::ClassifiedLine c = core::ClassifyLine(line);
        std::string name;
        if (c.kind != core::LineKind::Entry || !FromCp949(c.key, name)) return;
        const core::EntryFields f = core::ParseEntryFields(c.value);
        entries[core::AsciiLower(name)] = {f.version, f.digest};
    });
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

}  // namespace

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

bool Publish(const std::string& releaseDir, const std::string& descriptionPath, const std::string& privatePath,
             std::vector<std::string>& written, std::vector<Problem>& problems, int expiresDays) {
    const std::string expires = core::FormatUtcTime(static_cast<std::int64_t>(std::time(nullptr)) + expiresDays * 86400LL);
    std::vector<Section> sections;
    if (!ParseDescription(descriptionPath, sections, problems)) return false;
    PKey key(nullptr, &EVP_PKEY_free);
    core::P256Point point{};
    if (!privatePath.empty()) {
        std::string error;
        key = LoadKey(privatePath, true, error);
        if (!key || !PublicPoint(key.get(), point)) {
            problems.push_back({privatePath, error.empty() ? "no usable key" : error});
            return false;
        }
    }
    // Every file is made before any is written: a refusal changes nothing on disk.
    std::vector<std::pair<std::string, std::string>> files;
    for (const Section& s : sections) {
        std::string site, subDir, old;
        ToCp949(s.site, site);
        ToCp949(s.subDir, subDir);
        const std::string target = releaseDir + "/" + s.versionFile;
        std::map<std::string, Listed> previous;
        std::uint64_t serial = 0;
        if (ReadFile(target, old)) ReadExisting(old, previous, serial);
        std::string text;
        if (!s.site.empty()) text += "SITE=" + site + "\r\n";
        if (!s.subDir.empty()) text += "SUBDIR=" + subDir + "\r\n";
        const std::string folder = FilesFolder(releaseDir, s.versionFile, subDir);
        for (const Entry& e : s.entries) {
            std::string name, bytes;
            ToCp949(e.name, name);
            if (!IsRegularFile(folder + "/" + name) || !ReadFile(folder + "/" + name, bytes)) {
                problems.push_back({descriptionPath + ":" + std::to_string(e.line), "\"" + e.name + "\": no such file " + folder + "/" + e.name});
                continue;
            }
            const core::Sha256Digest d = Sha256(bytes);
            const std::string digest = "sha256:" + core::HexLower(d.data(), d.size());
            // Unchanged bytes keep their version: a file is due exactly when its bytes changed.
            const auto was = previous.find(core::AsciiLower(e.name));
            std::string version = e.version.empty() ? core::HexLower(d.data(), 4) : e.version;
            if (was != previous.end() && was->second.digest == digest) version = was->second.version;
            std::string versionCp949;
            ToCp949(version, versionCp949);
            text += name + "=" + versionCp949 + ",0," + (e.registerFlag ? "1" : "0") + "," + (e.openFlag ? "1" : "0") + "," +
                    digest + ",size:" + std::to_string(bytes.size()) + "\r\n";
        }
        // Signed with the rest: which file this is, and until when it may be used.
        text += "#serial " + std::to_string(serial + 1) + "\r\n#file " + s.versionFile + "\r\n#expires " + expires + "\r\n";
        if (key) {
            core::P256Signature sig;
            if (!Sign(key.get(), text, sig)) {
                problems.push_back({privatePath, "signing failed"});
                continue;
            }
            text += "#signature " + KeyId(point) + " " + core::EncodeBase64(std::string(sig.begin(), sig.end())) + "\r\n";
        }
        files.emplace_back(target, text);
    }
    if (!problems.empty()) return false;
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
            std::vector<Problem>& problems) {
    const size_t before = problems.size();
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
            std::map<std::string, Listed> ignored;
            std::uint64_t oldSerial = 0;
            if (ReadFile(previousDir + "/" + file, old)) ReadExisting(old, ignored, oldSerial);
            if (serial < oldSerial) {
                problems.push_back({path, "serial " + std::to_string(serial) + " is lower than the previous release's " +
                                              std::to_string(oldSerial) + ": the updater refuses it as a rollback"});
            }
        }
        std::string subDir;
        core::ForEachLine(text.data(), text.size(), [&](const std::string& line) {
            const core::ClassifiedLine c = core::ClassifyLine(line);
            if (c.kind == core::LineKind::SubDir) subDir = c.value;
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
            if (!core::IsAcceptableEntryName(name)) problems.push_back({where, "\"" + name + "\": a name the updater refuses"});
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
            } else if (Sha256(bytes2) != want || bytes2.size() != size) {
                problems.push_back({where, "\"" + name + "\": the file's bytes differ from its digest or size"});
            }
        });
    }
    return problems.size() == before;
}

}  // namespace release_tool
