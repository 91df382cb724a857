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

std::string HealthReportTarget(const std::string& object, const std::string& file, std::uint64_t serial, std::uint32_t exitCode) {
    std::string target = object + "?file=";
    for (const char c : file) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' || b == '.' || b == '_' || b == '~') {
            target += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            target += hex;
        }
    }
    return target + "&serial=" + (serial ? std::to_string(serial) : std::string()) + "&exit=" + std::to_string(exitCode);
}

}  // namespace core
