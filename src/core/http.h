#pragma once
// What the program decides about an HTTP answer, apart from the network: which statuses deliver the
// object, how a Content-Length and a Content-Encoding are read, where a redirect leads, and how a
// request target is put into bytes that mean the same on every system.
#include <cstdint>
#include <string>

#include "core/run_report.h"

namespace core {

// "200 OK" delivers the object; "206 Partial Content" its rest, and only to a request that asked for it
// (a download resumed from what an earlier attempt kept). A 204 or any other 2xx answer carries no file.
inline bool IsObjectStatus(unsigned long status, bool rangeAsked = false) {
    return status == 200 || (rangeAsked && status == 206);
}
// The answers that name another place for the object.
inline bool IsRedirectStatus(unsigned long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}
// Redirects followed for one download before it counts as failed.
constexpr int kMaxRedirects = 10;

// A Content-Length value: decimal digits only (surrounding blanks allowed), the full 64-bit value.
// false for anything else, including a value too large for 64 bits.
bool ParseContentLength(const std::string& text, std::uint64_t& length);

// A Retry-After value as seconds from now (nowUtc, seconds since 1970): delta-seconds, or an HTTP date in any
// of its three forms ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6
// 08:49:37 1994"; a date already past is 0). false for anything else.
bool ParseRetryAfter(const std::string& value, std::int64_t nowUtc, std::int64_t& seconds);

// A resumed download: the headers that ask for the rest of the object from byte from on, provided it is
// still the representation validator named ("If-Range": otherwise the server sends it whole, with 200).
std::string RangeHeaders(std::uint64_t from, const std::string& validator);
// What a later request's If-Range may name of an answer: its ETag when it is a strong one, else its
// Last-Modified date; "" when it has neither (what arrived of it cannot be resumed).
std::string ResumeValidator(const std::string& etag, const std::string& lastModified);
// Whether a 206 answer's Content-Range ("bytes FIRST-LAST/TOTAL") is exactly the rest asked for: from
// byte from to the end of an object of total bytes.
bool IsRestOf(const std::string& contentRange, std::uint64_t from, std::uint64_t total);

enum class ContentCoding { Identity, Gzip, Deflate, Unsupported };
// A Content-Encoding header's value ("" when there is none). A list of codings, or any coding the
// program cannot undo, is Unsupported.
ContentCoding ClassifyContentEncoding(const std::string& value);

// Whether raw response headers (status line, then header lines, CR LF separated) hold at least one
// header line: an answer without any is not an HTTP answer (the platform makes up a status line for
// bytes that have none).
bool HasHeaderLines(const std::string& rawHeaders);

struct RedirectTarget {
    std::string host;
    unsigned short port = 80;
    std::string object;  // request target, starting with "/"
};
// Where a Location header leads from a request to host:port for object. Absolute "http://" URLs
// (with an optional port) and paths relative to the host or to the object's folder are followed;
// anything else (another scheme, no host, a bad port, a control character) gives false.
bool ResolveRedirect(const std::string& host, unsigned short port, const std::string& object,
                     const std::string& location, RedirectTarget& target);

// A download must keep moving: it fails once windowMs pass in which fewer than minBytes arrived, counted
// from its start or from the last moment it had received minBytes more (so a trickle cannot hold it).
// Times are a millisecond clock that may wrap (GetTickCount).
class ProgressFloor {
public:
    ProgressFloor(std::uint64_t minBytes, std::uint32_t windowMs, std::uint32_t startMs)
        : m_minBytes(minBytes), m_windowMs(windowMs), m_sinceMs(startMs) {}
    // bytes: received so far; false when the download has fallen below the floor.
    bool Holds(std::uint64_t bytes, std::uint32_t nowMs) {
        if (bytes - m_sinceBytes >= m_minBytes) {
            m_sinceBytes = bytes;
            m_sinceMs = nowMs;
            return true;
        }
        return static_cast<std::uint32_t>(nowMs - m_sinceMs) < m_windowMs;
    }
    // The moment by which minBytes more must have arrived.
    std::uint32_t DueMs() const { return m_sinceMs + m_windowMs; }

private:
    std::uint64_t m_minBytes;
    std::uint32_t m_windowMs;
    std::uint32_t m_sinceMs;
    std::uint64_t m_sinceBytes = 0;
};
// What a download of unknown size may write to a volume with freeBytes of totalBytes free: it must leave
// 1 GiB or a tenth of the volume free, whichever is less (the temp folder is on the system volume).
inline std::uint64_t FreeSpaceBound(std::uint64_t freeBytes, std::uint64_t totalBytes) {
    const std::uint64_t keep = totalBytes / 10 < (std::uint64_t{1} << 30) ? totalBytes / 10 : (std::uint64_t{1} << 30);
    return freeBytes > keep ? freeBytes - keep : 0;
}

// The floor every download keeps: 4096 bytes in any 60 s.
constexpr std::uint64_t kFloorBytes = 4096;
constexpr std::uint32_t kFloorWindowMs = 60000;

// A download watched from another thread, as the platform may wait inside it (on headers that come a byte
// at a time) where the download itself cannot look at the clock: NotWholeInTime once wholeDueMs has come
// (when given), else TooSlow once moveDueMs (its floor's next moment) has; otherwise None, and waitMs is the
// time until the nearer of the two. Times are a millisecond clock that may wrap.
DownloadFailure Overdue(std::uint32_t nowMs, std::uint32_t moveDueMs, const std::uint32_t* wholeDueMs, std::uint32_t& waitMs);

// Every byte of 0x80 and above as "%XX"; everything else as it stands. Servers decode it back to
// the same bytes, whatever the code page of the system that sent it.
std::string PercentEncodeHighBytes(const std::string& bytes);

}  // namespace core
