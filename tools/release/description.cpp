#include "description.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <locale.h>
#include <map>
#include <sstream>

#include "c_resources.h"
#include "core/text.h"
#include "core/version_info.h"
#include "crypto.h"

namespace release_tool {

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

bool WriteAtomically(const std::string& path, const std::string& bytes) {
    // Beside the file, then renamed over it: the server never serves half of one.
    const std::string temp = path + ".publishing";
    bool ok = false;
    if (const CFile f{std::fopen(temp.c_str(), "wb")}) {
        ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size() && std::fflush(f.get()) == 0 &&
             ::fsync(::fileno(f.get())) == 0;
    } else {
        return false;
    }
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string FilesFolder(const std::string& releaseDir, const std::string& versionFile, const std::string& subDirCp949) {
    std::string sub = core::NormaliseSubDir(subDirCp949);
    if (sub.empty()) return Folder(releaseDir + "/" + versionFile);
    return releaseDir + sub;
}

ReleaseRoot::ReleaseRoot(const std::string& folder) {
    if (const CMemory resolved{::realpath(folder.c_str(), nullptr)}) m_root = std::string(resolved.get()) + "/";
}

bool ReleaseRoot::Holds(const std::string& path) const {
    const CMemory resolved{::realpath(path.c_str(), nullptr)};
    return resolved && !m_root.empty() && std::string(resolved.get()).compare(0, m_root.size(), m_root) == 0;
}

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

std::u16string WindowsFold(const std::string& utf8) {
    static const locale_t utf8Locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::u16string units = core::Utf8ToUtf16(utf8);
    for (char16_t& u : units) {
        if (utf8Locale && (u < 0xD800 || u > 0xDFFF)) u = static_cast<char16_t>(::towupper_l(u, utf8Locale));
    }
    return units;
}

bool IsReleaseSubDir(const std::string& value) {
    if (value.find('\\') != std::string::npos || value.find(':') != std::string::npos) return false;
    std::istringstream parts(value);
    for (std::string part; std::getline(parts, part, '/');) {
        if (part == "." || part == "..") return false;
    }
    return true;
}

bool IsSiteHost(const std::string& value) { return value.empty() || core::IsHostName(value); }  // none: the built-in host

int RankOf(const std::string& keyId, const std::vector<std::string>& keyIds) {
    for (std::size_t i = 0; i < keyIds.size(); ++i) {
        if (keyIds[i] == keyId) return static_cast<int>(i);
    }
    return core::kNotBuiltIn;
}

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


namespace {

// NAME.gz and NAME.blocks beside a listed NAME are publish's own: a listed file of such a name would be
// written over or removed, and customers would fail it.
void BesideNameProblems(const std::string& path, const Section& s, std::vector<Problem>& problems) {
    std::map<std::u16string, const Entry*> listed;
    for (const Entry& e : s.entries) listed.emplace(WindowsFold(e.name), &e);
    for (const Entry& e : s.entries) {
        if (WindowsFold(e.name) == WindowsFold(core::kByHashFolder)) {
            problems.push_back({path + ":" + std::to_string(e.line),
                                "\"" + e.name + "\": the name of the folder publish puts the by-hash names in; rename it"});
        }
        for (const char* beside : {".gz", ".blocks"}) {
            const auto other = listed.find(WindowsFold(e.name + beside));
            if (other == listed.end()) continue;
            problems.push_back({path + ":" + std::to_string(other->second->line),
                                "\"" + other->second->name + "\": the name publish gives its own " + beside + " file beside \"" +
                                    e.name + "\" (line " + std::to_string(e.line) + "); rename one of them"});
        }
    }
}

using SeenNames = std::map<std::u16string, int>;  // letter case aside (as Windows sees it), within a section: line

// "[version-info file]": a new section (false: none, the line is wrong).
bool SectionLine(const std::string& line, const std::string& where, int n, std::vector<Section>& sections,
                 std::vector<Problem>& problems) {
    if (line.back() != ']') {
        problems.push_back({where, "a [version-info file] line without its \"]\""});
        return false;
    }
    Section section;
    section.versionFile = core::TrimBlanks(line.substr(1, line.size() - 2));
    section.line = n;
    sections.push_back(section);
    const std::string& file = sections.back().versionFile;
    const auto& known = StandardVersionFiles();
    if (std::find(known.begin(), known.end(), file) == known.end()) {
        problems.push_back({where, "[" + file + "] is not a version-info file the updater asks for (" + known[0] + ", " + known[1] + ")"});
    }
    for (const Section& s : sections) {
        if (&s != &sections.back() && s.versionFile == file) {
            problems.push_back({where, "the version-info file " + s.versionFile + " is described twice"});
        }
    }
    return true;
}

// "site = HOST", "subdir = FOLDER", "mirror = HOST", "rollout = PERCENT", "rollout-id = ID".
void SettingLine(const std::string& line, std::size_t eq, const std::string& where, Section& s, std::vector<Problem>& problems) {
    const std::string key = core::TrimBlanks(line.substr(0, eq)), value = core::TrimBlanks(line.substr(eq + 1));
    if (core::HasControlCharacter(value)) problems.push_back({where, "a control character in " + key});
    if (key == "site") {
        if (!IsSiteHost(value)) problems.push_back({where, "site= takes a host name alone (no http://, port or path)"});
        s.site = value;
    } else if (key == "mirror") {
        if (!core::IsHostName(value)) problems.push_back({where, "mirror= takes a host name alone (no http://, port or path)"});
        s.mirrors.push_back(value);
    } else if (key == "subdir") {
        if (!IsReleaseSubDir(value)) {
            problems.push_back({where, "subdir= must lie inside the release folder (\"/\"-separated, no \".\" or \"..\")"});
        }
        s.subDir = value;
    } else if (key == "rollout") {
        if (!core::ParseRolloutPercent(value, s.stage)) problems.push_back({where, "rollout= takes a percentage from 0 to 100, at most two decimals"});
        s.staged = true;
    } else if (key == "rollout-id") {
        if (!core::IsRolloutId(value)) problems.push_back({where, "rollout-id= takes 1 to 32 of A-Z a-z 0-9 . _ -"});
        s.rolloutId = value;
    } else {
        problems.push_back({where, "unknown setting \"" + key + "\" (site=, subdir=, mirror=, rollout=, rollout-id=)"});
    }
}

// "NAME | register open empty version=TEXT": a listed file.
void EntryLine(const std::string& line, std::size_t bar, int n, const std::string& where, Section& s, SeenNames& names,
               std::vector<Problem>& problems) {
    Entry e;
    e.line = n;
    e.name = core::TrimBlanks(line.substr(0, bar));
    std::istringstream options(bar == std::string::npos ? std::string() : line.substr(bar + 1));
    for (std::string word; options >> word;) {
        if (word == "register") {
            e.registerFlag = true;
        } else if (word == "open") {
            e.openFlag = true;
        } else if (word == "empty") {
            e.mayBeEmpty = true;
        } else if (word.compare(0, 8, "version=") == 0) {
            std::string rest;
            std::getline(options, rest);
            e.version = core::TrimBlanks(word.substr(8) + rest);
            if (e.version.empty() || e.version.find(',') != std::string::npos || core::HasControlCharacter(e.version)) {
                problems.push_back({where, "a version text must be non-empty, without \",\" or control characters"});
            }
        } else {
            problems.push_back({where, "unknown flag \"" + word + "\" (register, open, empty, version=TEXT)"});
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

// What is wrong with a section as a whole.
void SectionProblems(const std::string& path, const Section& s, std::vector<Problem>& problems) {
    BesideNameProblems(path, s, problems);
    std::string cp949;
    if (!ToCp949(s.subDir, cp949) || !ToCp949(s.site, cp949)) {
        problems.push_back({path + ":" + std::to_string(s.line), "SITE or SUBDIR not representable in code page 949"});
    }
    if (s.entries.size() > core::kMaxVersionInfoEntries) {
        problems.push_back({path + ":" + std::to_string(s.line),
                            std::to_string(s.entries.size()) + " files: the updater reads at most " + std::to_string(core::kMaxVersionInfoEntries)});
    }
}

}  // namespace

bool ParseDescription(const std::string& path, std::vector<Section>& sections, std::vector<Problem>& problems) {
    std::ifstream in(path);
    if (!in) {
        problems.push_back({path, "cannot be read"});
        return false;
    }
    const size_t before = problems.size();
    SeenNames names;
    int n = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++n;
        if (n == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);  // a byte order mark (Notepad)
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();                 // a description written with CR LF
        const std::string line = core::TrimBlanks(raw);
        const std::string where = path + ":" + std::to_string(n);
        if (core::Utf16ToUtf8(core::Utf8ToUtf16(line)) != line) {
            problems.push_back({where, "not UTF-8 text (save the description as UTF-8)"});
        } else if (line.empty() || line[0] == '#') {
            continue;
        } else if (line.front() == '[') {
            if (SectionLine(line, where, n, sections, problems)) names.clear();
        } else if (sections.empty()) {
            problems.push_back({where, "a line before the first [version-info file]"});
        } else if (const size_t bar = line.find('|'), eq = line.find('='); eq != std::string::npos && (bar == std::string::npos || eq < bar)) {
            SettingLine(line, eq, where, sections.back(), problems);
        } else {
            EntryLine(line, bar, n, where, sections.back(), names, problems);
        }
    }
    for (const Section& s : sections) SectionProblems(path, s, problems);
    return problems.size() == before;
}

}  // namespace release_tool
