#include "core/platform.h"

#include "core/text.h"

namespace core {

OsType ClassifyPlatform(unsigned long platformId, unsigned long major, unsigned long minor) {
    switch (platformId) {
    case 0: return OS_WIN32S;
    case 1: return (major > 4 || (major == 4 && minor > 0)) ? OS_WIN98 : OS_WIN95;
    case 2: return OS_WINNT;
    default: return OS_UNKNOWN;
    }
}

bool IsNineXFamily(int osType) { return osType == OS_WIN98 || osType == OS_WIN95 || osType == OS_WIN32S; }

std::string ProcessMatchTarget(const std::string& path, bool nineXFamily) {
    std::string target = AsciiLower(path);
    if (!nineXFamily) {
        const std::string::size_type slash = target.rfind('\\');
        if (slash != std::string::npos) target.erase(0, slash + 1);
    }
    return target;
}

bool ProcessNameMatches(const std::string& target, const std::string& imageName) {
    return AsciiLower(imageName) == target;
}

std::size_t Utf16Length(const std::string& utf8) { return Utf8ToUtf16(utf8).size(); }

bool JoinPath(const std::string& folder, const std::string& name, std::string& out) {
    std::string joined = folder;
    joined += '\\';
    joined += name;
    if (Utf16Length(joined) > kMaxPathChars) return false;
    out = std::move(joined);
    return true;
}

}  // namespace core
