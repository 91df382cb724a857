#pragma once
#include <cstdint>
#include <string>

namespace core {

// Twelve lower-case hex digits and a semicolon: one adapter address in its stored byte order.
std::string FormatAdapterText(const std::uint8_t (&address)[6]);
// "InstallInfo=" partner "," partner "," adapter text.
std::string InstallInfoBody(const std::string& partnerCode, const std::string& adapterText);
// The health report's request target: object "?file=" file "&serial=" serial "&exit=" exit code, each in
// decimal, the file's name with every byte but A-Z a-z 0-9 - . _ ~ as "%XX"; no serial (0) as none.
std::string HealthReportTarget(const std::string& object, const std::string& file, std::uint64_t serial, std::uint32_t exitCode);

}  // namespace core
