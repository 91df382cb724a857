// Fuzz target: a Retry-After header's value, in seconds or as an HTTP date in any of its forms.
#include <cstdint>
#include <string>

#include "check.h"
#include "core/http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    const std::int64_t now = 1796083200;  // 2026-12-01T00:00:00Z
    std::int64_t seconds = -1;
    if (!core::ParseRetryAfter(value, now, seconds)) return 0;
    Check(seconds >= 0);
    // A date lies within the years a four-digit year names; seconds within ten digits.
    Check(seconds <= 9999999999 || seconds <= 253402300799 - now);
    std::int64_t again = -1;
    Check(core::ParseRetryAfter(value, now + 1, again) && (again == seconds || again == seconds - 1 || seconds == 0 || again == seconds));
    return 0;
}
