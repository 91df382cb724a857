#pragma once
// The release description publish reads, and the rules publish and verify share about a release folder:
// where its listed files lie, which names and settings the updater takes, and what lies inside the folder.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "release_tool.h"

namespace release_tool {

struct Entry {
    std::string name;  // UTF-8
    bool registerFlag = false, openFlag = false;
    bool mayBeEmpty = false;  // "empty": a file of no bytes is meant (else a truncated file is refused)
    std::string version;  // given for a changed file; empty: derived from the content
    int line = 0;
};
struct Section {
    std::string versionFile;           // relative to the release folder
    std::string site, subDir;          // UTF-8
    std::vector<std::string> mirrors;  // hosts that serve the same paths, in the order to try them
    bool staged = false;               // "rollout=": only a share of machines takes it
    unsigned stage = 0;                // hundredths of a per cent
    std::string rolloutId;             // "rollout-id="; empty: the replaced file's, else a new one
    std::vector<Entry> entries;
    int line = 0;
};

// The description at path: its sections in order; false, with every problem found, unless all is well.
bool ParseDescription(const std::string& path, std::vector<Section>& sections, std::vector<Problem>& problems);

bool ReadFile(const std::string& path, std::string& bytes);
bool IsRegularFile(const std::string& path);
// bytes written beside path, then renamed over it: the server never serves half of a file.
bool WriteAtomically(const std::string& path, const std::string& bytes);
std::string Folder(const std::string& path);
// Where the listed files of a version-info file lie in the release folder: its SUBDIR, as the server maps it,
// or, without one, the folder of the version-info file itself (both passes' defaults).
std::string FilesFolder(const std::string& releaseDir, const std::string& versionFile, const std::string& subDirCp949);
// Why the updater would refuse a listed name (UTF-8, and cp949 its code page 949 bytes) or read its line
// as something else; empty when it takes it as the file it is. The updater's own rules decide.
std::string NameProblem(const std::string& name, const std::string& cp949);
// A name as Windows compares file names: every character in upper case (Unicode's simple mapping, as
// the system's table has it), so "α.dat" and "Α.dat" are one file.
std::u16string WindowsFold(const std::string& utf8);
// A SUBDIR the server maps inside the release folder: relative, "/"-separated, no "." or ".." part.
bool IsReleaseSubDir(const std::string& value);
// A SITE the updater can connect to: a host name or address, nothing more (no scheme, port or path).
bool IsSiteHost(const std::string& value);

// The rank of keyId among keyIds (the updater's keys in their build order, oldest first), or
// core::kNotBuiltIn.
int RankOf(const std::string& keyId, const std::vector<std::string>& keyIds);

// What an existing version-info file says of a listed file.
struct Listed {
    std::string version, digest;
};
// The entries of an existing version-info file by name (folded), and its serial. False, with why, when it
// cannot be read as the updater reads it (its serial is then unknown).
bool ReadExisting(const std::string& bytes, std::map<std::u16string, Listed>& entries, std::uint64_t& serial, std::string& why);

// The release folder with its links resolved, once; whether a path (its links resolved) lies inside it.
class ReleaseRoot {
public:
    explicit ReleaseRoot(const std::string& folder);
    bool Holds(const std::string& path) const;  // false when it is missing

private:
    std::string m_root;  // empty when the folder cannot be resolved: nothing lies inside it
};

}  // namespace release_tool
