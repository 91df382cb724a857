#pragma once
// What the program decides about an HTTP answer, apart from the network: which statuses deliver the
// object, how a Content-Length and a Content-Encoding are read, where a redirect leads, and how a
// request target is put into bytes that mean the same on every system.
#include <cstdint>
#include <string>

namespace core {

// Only "200 OK" delivers the object: the program never asks for a range, and a 204 or any other
// 2xx answer carries no file.
inline bool IsObjectStatus(unsigned long status) { return status == 200; }
// The answers that name another place for the object.
inline bool IsRedirectStatus(unsigned long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}
// Redirects followed for one download before it counts as failed.
constexpr int kMaxRedirects = 10;

// A Content-Length value: decimal digits only (surrounding blanks allowed), the full 64-bit value.
// false for anything else, including a value too large for 64 bits.
bool ParseContentLength(const std::string& text, std::uint64_t& length);

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

// Every byte of 0x80 and above as "%XX"; everything else as it stands. Servers decode it back to
// the same bytes, whatever the code page of the system that sent it.
std::string PercentEncodeHighBytes(const std::string& bytes);

}  // namespace core
