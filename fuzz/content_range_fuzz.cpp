// Fuzz target: a Content-Range header's value, read as a range of an object and as the rest of a kept part.
#include <cstdint>
#include <string>

#include "check.h"
#include "core/block_map.h"
#include "core/http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    for (const std::uint64_t total : {std::uint64_t{1}, std::uint64_t{3145728}, UINT64_MAX}) {
        core::ByteRange range;
        if (!core::ParseContentRange(value, total, range)) {
            Check(!core::IsRestOf(value, 0, total));
            continue;
        }
        Check(range.first < range.end && range.end <= total);
        Check(core::IsRestOf(value, range.first, total) == (range.end == total));
        core::ByteRange again;
        const std::string text = "bytes " + std::to_string(range.first) + "-" + std::to_string(range.end - 1) + "/" + std::to_string(total);
        Check(core::ParseContentRange(text, total, again) && again == range);
    }
    return 0;
}
