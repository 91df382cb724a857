#pragma once
#include <string>

namespace core {

// Platform family codes.
enum OsType : int {
    OS_WINNT = 3002,
    OS_WIN98 = 3003,
    OS_WIN95 = 3004,
    OS_WIN32S = 3005,
    OS_UNKNOWN = 3100,
};

// From the platform version record: id 0 Win32s, 1 the 9x family (98 above version 4.0), 2 NT.
OsType ClassifyPlatform(unsigned long platformId, unsigned long major, unsigned long minor);
// OS_WIN98, OS_WIN95 and OS_WIN32S; everything else takes the NT branch.
bool IsNineXFamily(int osType);

// What a process's image name is compared with: the whole path on the 9x family (its snapshot gives
// full paths), the part after the last backslash elsewhere (file names only); ASCII letters folded.
std::string ProcessMatchTarget(const std::string& path, bool nineXFamily);
bool ProcessNameMatches(const std::string& target, const std::string& imageName);

// Paths are limited to this many characters (UTF-16 units, as the system counts them) without the
// terminator.
constexpr std::size_t kMaxPathChars = 259;
std::size_t Utf16Length(const std::string& utf8);
// folder + "\" + name; false (and out untouched) when the result would not fit: a path cut short
// names another file, so it is never formed.
bool JoinPath(const std::string& folder, const std::string& name, std::string& out);

}  // namespace core
