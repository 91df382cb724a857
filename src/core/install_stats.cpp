#include "core/install_stats.h"

#include <cstdio>

namespace core {

std::string FormatAdapterText(const std::uint8_t (&a)[6]) {
    char text[16];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x;", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

std::string InstallInfoBody(const std::string& partnerCode, const std::string& adapterText) {
    return "InstallInfo=" + partnerCode + "," + partnerCode + "," + adapterText;
}

}  // namespace core
