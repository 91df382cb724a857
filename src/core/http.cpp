#include "core/http.h"

#include <cstdio>

#include "core/release.h"
#include "core/text.h"

namespace core {

bool ParseContentLength(const std::string& text, std::uint64_t& length) {
    return ParseDecimal(TrimBlanks(text), length);
}

bool ParseRetryAfter(const std::string& value, std::int64_t nowUtc, std::int64_t& seconds) {
    const std::string v = TrimBlanks(value);
    std::uint64_t delta = 0;
    if (!v.empty() && v.size() <= 10 && ParseDecimal(v, delta)) {
        seconds = static_cast<std::int64_t>(delta);
        return true;
    }
    // "Sun, 06 Nov 1994 08:49:37 GMT": put as "1994-11-06T08:49:37Z" for the one UTC time parser.
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (v.size() != 29 || v[3] != ',' || v[4] != ' ' || v[7] != ' ' || v[11] != ' ' || v[16] != ' ' || v.compare(25, 4, " GMT") != 0) {
        return false;
    }
    int month = 0;
    while (month < 12 && v.compare(8, 3, kMonths[month]) != 0) ++month;
    if (month == 12) return false;
    char iso[24];
    std::snprintf(iso, sizeof iso, "%s-%02d-%sT%sZ", v.substr(12, 4).c_str(), month + 1, v.substr(5, 2).c_str(),
                  v.substr(17, 8).c_str());
    std::int64_t at = 0;
    if (!ParseUtcTime(iso, at)) return false;
    seconds = at > nowUtc ? at - nowUtc : 0;
    return true;
}

ContentCoding ClassifyContentEncoding(const std::string& value) {
    const std::string v = AsciiLower(TrimBlanks(value));
    if (v.empty() || v == "identity") return ContentCoding::Identity;
    if (v == "gzip" || v == "x-gzip") return ContentCoding::Gzip;
    if (v == "deflate") return ContentCoding::Deflate;
    return ContentCoding::Unsupported;
}

bool HasHeaderLines(const std::string& rawHeaders) {
    const std::size_t eol = rawHeaders.find("\r\n");
    if (eol == std::string::npos) return false;
    const std::string rest = rawHeaders.substr(eol + 2);
    const std::size_t next = rest.find("\r\n");
    return !rest.substr(0, next).empty();
}

bool ResolveRedirect(const std::string& host, unsigned short port, const std::string& object,
                     const std::string& location, RedirectTarget& target) {
    const std::string loc = TrimBlanks(location);
    if (loc.empty() || HasControlCharacter(loc)) return false;
    RedirectTarget t;
    static const char kScheme[] = "http://";
    if (EqualsNoCase(loc.substr(0, sizeof kScheme - 1), kScheme)) {
        const std::string rest = loc.substr(sizeof kScheme - 1);
        const std::size_t slash = rest.find_first_of("/?#");
        std::string authority = rest.substr(0, slash);
        if (authority.find('@') != std::string::npos) return false;  // no credentials in a redirect
        t.object = slash == std::string::npos ? "/" : rest.substr(slash);
        if (t.object[0] != '/') t.object.insert(t.object.begin(), '/');
        const std::size_t colon = authority.find(':');
        if (colon != std::string::npos) {
            std::uint64_t p = 0;
            if (!ParseContentLength(authority.substr(colon + 1), p) || p == 0 || p > 65535) return false;
            t.port = static_cast<unsigned short>(p);
            authority.resize(colon);
        }
        if (authority.empty()) return false;
        t.host = authority;
    } else if (loc.find("://") != std::string::npos || loc.compare(0, 2, "//") == 0) {
        return false;  // another scheme, or a host without one
    } else {
        t.host = host;
        t.port = port;
        if (loc[0] == '/') {
            t.object = loc;
        } else {
            // Relative to the folder of the object asked for (its query left behind).
            const std::string path = object.substr(0, object.find('?'));
            const std::size_t lastSlash = path.rfind('/');
            t.object = (lastSlash == std::string::npos ? std::string("/") : path.substr(0, lastSlash + 1)) + loc;
        }
    }
    target = t;
    return true;
}

std::string PercentEncodeHighBytes(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

DownloadFailure Overdue(std::uint32_t nowMs, std::uint32_t moveDueMs, const std::uint32_t* wholeDueMs, std::uint32_t& waitMs) {
    // Signed distances: a moment up to 24 days ahead is still to come, whatever the clock's wrap. The bound
    // of the whole first: where both run out together, it is the more telling cause.
    const std::int32_t toWhole = wholeDueMs ? static_cast<std::int32_t>(*wholeDueMs - nowMs) : INT32_MAX;
    if (toWhole <= 0) return DownloadFailure::NotWholeInTime;
    const std::int32_t toMove = static_cast<std::int32_t>(moveDueMs - nowMs);
    if (toMove <= 0) return DownloadFailure::TooSlow;
    waitMs = static_cast<std::uint32_t>(toMove < toWhole ? toMove : toWhole);
    return DownloadFailure::None;
}

}  // namespace core
