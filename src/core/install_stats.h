#pragma once
#include <cstdint>
#include <string>

namespace core {

// Twelve lower-case hex digits and a semicolon: one adapter address in its stored byte order.
std::string FormatAdapterText(const std::uint8_t (&address)[6]);
// "InstallInfo=" partner "," partner "," adapter text.
std::string InstallInfoBody(const std::string& partnerCode, const std::string& adapterText);

}  // namespace core
