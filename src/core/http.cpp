#include "core/http.h"

#include <cstdio>

#include "core/block_map.h"
#include "core/release.h"
#include "core/text.h"

namespace core {

bool ParseContentLength(const std::string& text, std::uint64_t& length) {
    return ParseDecimal(TrimBlanks(text), length);
}

std::string RangeHeaders(std::uint64_t from, const std::string& validator) {
    return "Range: bytes=" + std::to_string(from) + "-\r\nIf-Range: " + validator + "\r\n";
}

std::string ResumeValidator(const std::string& etag, const std::string& lastModified) {
    // A weak ETag may not be used with If-Range (RFC 9110, 13.1.5); control characters never go in a header.
    const auto usable = [](const std::string& v) {
        return !v.empty() && !HasControlCharacter(v);
    };
    if (usable(etag) && etag.compare(0, 2, "W/") != 0 && etag.front() == '"') return etag;
    return usable(lastModified) ? lastModified : std::string();
}

bool IsRestOf(const std::string& contentRange, std::uint64_t from, std::uint64_t total) {
    ByteRange range;
    return ParseContentRange(contentRange, total, range) && range.first == from && range.end == total;
}

namespace {

// An HTTP date in any of its three forms, put as "YYYY-MM-DDThh:mm:ssZ" for the one UTC time parser:
// "Sun, 06 Nov 1994 08:49:37 GMT" (the preferred form), "Sunday, 06-Nov-94 08:49:37 GMT" (RFC 850's, its
// year read as the latest that is not more than 50 years ahead of now) and "Sun Nov  6 08:49:37 1994" (asctime's).
bool HttpDateAsIso(const std::string& v, std::int64_t nowUtc, std::string& iso) {
    std::string day, month, year, time;
    const std::size_t comma = v.find(", ");
    if (v.size() == 29 && comma == 3 && v[7] == ' ' && v[11] == ' ' && v[16] == ' ' && v.compare(25, 4, " GMT") == 0) {
        day = v.substr(5, 2), month = v.substr(8, 3), year = v.substr(12, 4), time = v.substr(17, 8);
    } else if (comma != std::string::npos && v.size() == comma + 2 + 22) {
        const std::string rest = v.substr(comma + 2);  // "06-Nov-94 08:49:37 GMT"
        if (rest[2] != '-' || rest[6] != '-' || rest[9] != ' ' || rest.compare(18, 4, " GMT") != 0) return false;
        std::uint64_t yy = 0;
        if (!ParseDecimal(rest.substr(7, 2), yy)) return false;
        const int thisYear = std::stoi(FormatUtcTime(nowUtc).substr(0, 4));
        int full = thisYear - thisYear % 100 + static_cast<int>(yy);
        if (full > thisYear + 50) full -= 100;
        else if (full + 100 <= thisYear + 50) full += 100;
        day = rest.substr(0, 2), month = rest.substr(3, 3), year = std::to_string(full), time = rest.substr(10, 8);
    } else if (v.size() == 24 && v[3] == ' ' && v[7] == ' ' && v[10] == ' ' && v[19] == ' ') {
        day = v.substr(8, 2), month = v.substr(4, 3), year = v.substr(20, 4), time = v.substr(11, 8);
        if (day[0] == ' ') day[0] = '0';
    } else {
        return false;
    }
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int m = 0;
    while (m < 12 && month != kMonths[m]) ++m;
    if (m == 12 || year.size() != 4) return false;
    char text[32];
    std::snprintf(text, sizeof text, "%s-%02d-%sT%sZ", year.c_str(), m + 1, day.c_str(), time.c_str());
    iso = text;
    return true;
}

}  // namespace

bool ParseRetryAfter(const std::string& value, std::int64_t nowUtc, std::int64_t& seconds) {
    const std::string v = TrimBlanks(value);
    std::uint64_t delta = 0;
    if (!v.empty() && v.size() <= 10 && ParseDecimal(v, delta)) {
        seconds = static_cast<std::int64_t>(delta);
        return true;
    }
    std::string iso;
    std::int64_t at = 0;
    if (!HttpDateAsIso(v, nowUtc, iso) || !ParseUtcTime(iso, at)) return false;
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
