// Fuzz target: a multipart/byteranges answer as a hostile server may send it: its Content-Type (the first
// line of the input) and its body (the rest), fed in pieces whose sizes the input chooses too.
#include <cstdint>
#include <string>

#include "check.h"
#include "core/block_map.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t eol = input.find('\n');
    if (eol == std::string::npos || eol + 2 > input.size()) return 0;
    std::string boundary;
    if (!core::ByteRangesBoundary(input.substr(0, eol), boundary)) return 0;
    Check(!boundary.empty() && boundary.size() <= 70);
    const std::uint64_t total = 4096;
    const std::size_t maxParts = 1 + static_cast<std::uint8_t>(input[eol + 1]) % 8;
    const std::string body = input.substr(eol + 2);
    std::uint64_t written = 0;
    std::size_t starts = 0;
    std::uint64_t expectAt = UINT64_MAX;
    core::ByteRangesReader reader(boundary, total, maxParts, [&](std::uint64_t at, const char* part, std::size_t n) {
        Check(part != nullptr && n > 0 && at <= total && n <= total - at);
        if (at != expectAt) ++starts;  // a new part (a part's pieces follow one another)
        expectAt = at + n;
        written += n;
        return true;
    });
    // Pieces of 1 to 64 bytes, their sizes taken from the body's own bytes.
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t piece = 1 + static_cast<std::uint8_t>(body[at]) % 64;
        const std::size_t n = piece < body.size() - at ? piece : body.size() - at;
        if (!reader.Feed(body.data() + at, n)) break;
        at += n;
    }
    Check(starts <= maxParts);
    Check(written <= maxParts * total);
    Check(written <= body.size());
    return 0;
}
