#include "core/version_info.h"

#include <climits>
#include <cstring>

#include "core/release.h"
#include "core/text.h"

namespace core {

void ForEachLine(const char* data, std::size_t size, const std::function<void(const std::string&)>& onLine) {
    const void* nul = std::memchr(data, '\0', size);
    const std::size_t end = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : size;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < end; ++i) {
        if (data[i] == '\r' && data[i + 1] == '\n') {
            onLine(std::string(data + start, i - start));
            start = i + 2;
            ++i;
        }
    }
    if (start < end) onLine(std::string(data + start, end - start));
}

bool WithinVersionInfoBounds(const char* data, std::size_t size) {
    if (size > kMaxVersionInfoBytes) return false;
    std::size_t entries = 0;
    ForEachLine(data, size, [&](const std::string& line) { entries += ClassifyLine(line).kind == LineKind::Entry; });
    return entries <= kMaxVersionInfoEntries;
}

bool IsHostName(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text) {
        const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && c != '.' && c != '-') return false;
    }
    return true;
}

std::vector<std::string> SplitHostList(const std::string& list) {
    std::vector<std::string> hosts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t end = list.find(';', from);
        const std::string host = list.substr(from, end == std::string::npos ? std::string::npos : end - from);
        if (IsHostName(host)) hosts.push_back(host);
        if (end == std::string::npos) return hosts;
        from = end + 1;
    }
}

ClassifiedLine ClassifyLine(const std::string& line) {
    ClassifiedLine out;
    static const char kMirror[] = "#mirror ";
    if (line.compare(0, sizeof kMirror - 1, kMirror) == 0 && IsHostName(line.substr(sizeof kMirror - 1))) {
        out.kind = LineKind::Mirror;
        out.value = line.substr(sizeof kMirror - 1);
        return out;
    }
    if (line == "#by-hash") {
        out.kind = LineKind::ByHash;
        return out;
    }
    if (line.empty() || line[0] == ';' || line[0] == '#') return out;
    const std::string::size_type eq = line.find('=');
    if (eq == std::string::npos || eq == 0) return out;
    out.key = line.substr(0, eq);
    out.value = line.substr(eq + 1);
    if (EqualsNoCase(out.key, "SITE")) out.kind = LineKind::Site;
    else if (EqualsNoCase(out.key, "SUBDIR")) out.kind = LineKind::SubDir;
    else out.kind = LineKind::Entry;
    if (out.kind != LineKind::Entry && HasControlCharacter(out.value)) return ClassifiedLine();
    return out;
}

std::string NormaliseSubDir(std::string value) {
    if (!value.empty() && value[0] != '/') value.insert(value.begin(), '/');
    if (!value.empty() && value.back() == '/') value.pop_back();
    return value;
}

int AtoiLike(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) break;  // the runtime gives the limit on overflow
    }
    if (negative) v = -v;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

std::string KeepChars(const std::string& text, std::size_t maxChars) {
    return text.substr(0, Utf8PrefixBytes(text, maxChars));
}

EntryFields ParseEntryFields(const std::string& value) {
    EntryFields f;
    int position = 0;
    std::size_t i = 0;
    while (position < 6) {
        while (i < value.size() && value[i] == ',') ++i;  // empty fields do not keep their place
        if (i >= value.size()) break;
        const std::size_t end = value.find(',', i);
        const std::string field = value.substr(i, end == std::string::npos ? std::string::npos : end - i);
        switch (position++) {
        case 0: f.version = KeepChars(field, kMaxVersionChars); break;
        case 1: f.reserved = AtoiLike(field); break;
        case 2: f.registerFlag = AtoiLike(field); break;
        case 3: f.openFlag = AtoiLike(field); break;
        case 4: f.digest = field; break;
        default: f.size = field; break;
        }
        if (end == std::string::npos) break;
        i = end + 1;
    }
    return f;
}

bool IsBareFileName(const std::string& name) {
    if (name.empty() || HasControlCharacter(name)) return false;
    if (name.find_first_of("\\/:*?<>|\"") != std::string::npos) return false;
    if (name.back() == '.' || name.back() == ' ') return false;  // covers ".", ".." and ".. " too
    // Device names are devices whatever extension follows, and with blanks before it.
    std::string base = AsciiLower(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* d : kDevices) {
        if (base == d) return false;
    }
    if (base.size() > 3 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0)) {
        const std::string digit = base.substr(3);
        // 0-9, and the superscript one, two and three (U+00B9, U+00B2, U+00B3) that the system takes too.
        if ((digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
            digit == "\xC2\xB3") {
            return false;
        }
    }
    return true;
}

bool IsProductValueName(const std::string& name) {
    return EqualsNoCase(name, "InstallPath") || EqualsNoCase(name, "Update_Flag");
}

bool IsAcceptableEntryName(const std::string& name) { return IsBareFileName(name) && !IsProductValueName(name); }

Destination DestinationByExtension(const std::string& name) {
    const std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos) return Destination::InstallFolder;
    const std::string ext = name.substr(dot);
    if (EqualsNoCase(ext, ".gdb")) return Destination::GdbFolder;
    if (EqualsNoCase(ext, ".adb")) return Destination::AdbFolder;
    return Destination::InstallFolder;
}

std::string ByHashName(const std::array<std::uint8_t, 32>& sha256) {
    return std::string(kByHashFolder) + "/SHA256/" + HexLower(sha256.data(), sha256.size());
}

}  // namespace core
