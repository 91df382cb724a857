#include "core/release.h"

#include <cstdio>
#include <string>

#include "core/text.h"
#include "core/version_info.h"

namespace core {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // upper case is not the format's
}

bool ParseHex(const std::string& text, std::uint8_t* out, std::size_t size) {
    if (text.size() != size * 2) return false;
    for (std::size_t i = 0; i < size; ++i) {
        const int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return true;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

const char kDigestPrefix[] = "sha256:";
const char kSizePrefix[] = "size:";
const char kSignaturePrefix[] = "#signature ";
const char kSerialPrefix[] = "#serial ";
const char kFilePrefix[] = "#file ";
const char kExpiresPrefix[] = "#expires ";
const char kRolloutPrefix[] = "#rollout ";
const char kLogIndexPrefix[] = "#log-index ";

// The rest of the text's one line that begins with prefix: false when there is none or more than one.
bool FindOneLine(const std::string& text, const char* prefix, std::string& rest) {
    const std::size_t n = std::char_traits<char>::length(prefix);
    int lines = 0;
    ForEachLine(text.data(), text.size(), [&](const std::string& line) {
        if (line.compare(0, n, prefix) != 0) return;
        ++lines;
        rest = line.substr(n);
    });
    return lines == 1;
}


// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

}  // namespace

bool ClaimsDigest(const std::string& field) { return field.compare(0, sizeof kDigestPrefix - 1, kDigestPrefix) == 0; }

bool ParseDigestField(const std::string& field, Sha256Digest& digest) {
    return ClaimsDigest(field) && ParseHex(field.substr(sizeof kDigestPrefix - 1), digest.data(), digest.size());
}

SignatureStatus FindSignatureLine(const std::string& file, SignatureLine& line) {
    std::size_t end = file.size();
    if (end >= 2 && file.compare(end - 2, 2, "\r\n") == 0) end -= 2;
    const std::size_t crlf = end >= 2 ? file.rfind("\r\n", end - 2) : std::string::npos;
    const std::size_t start = crlf == std::string::npos ? 0 : crlf + 2;
    const std::string last = file.substr(start, end - start);
    if (last.compare(0, sizeof kSignaturePrefix - 1, kSignaturePrefix) != 0) return SignatureStatus::Absent;
    // "#signature " KEYID " " SIG: 11 + 16 + 1 + 88 bytes, nothing else.
    const std::string keyId = last.substr(sizeof kSignaturePrefix - 1, 16);
    std::uint8_t id[8];
    std::string sig;
    if (last.size() != sizeof kSignaturePrefix - 1 + 16 + 1 + 88 || !ParseHex(keyId, id, sizeof id) ||
        last[sizeof kSignaturePrefix - 1 + 16] != ' ' || !DecodeBase64(last.substr(last.size() - 88), sig) ||
        sig.size() != line.signature.size()) {
        return SignatureStatus::Malformed;
    }
    line.signedLength = start;
    line.keyId = keyId;
    for (std::size_t i = 0; i < sig.size(); ++i) line.signature[i] = static_cast<std::uint8_t>(sig[i]);
    return SignatureStatus::Present;
}

bool ParseSerial(const std::string& text, std::uint64_t& serial) {
    std::uint64_t v = 0;
    if (text.empty() || text[0] == '0' || !ParseDecimal(text, v) || v > 9223372036854775807ull) return false;
    serial = v;
    return true;
}

bool FindSerial(const std::string& text, std::uint64_t& serial) {
    std::string rest;
    return FindOneLine(text, kSerialPrefix, rest) && ParseSerial(rest, serial);
}

bool ClaimsSize(const std::string& field) { return field.compare(0, sizeof kSizePrefix - 1, kSizePrefix) == 0; }

bool ParseSizeField(const std::string& field, std::uint64_t& size) {
    std::uint64_t v = 0;
    if (!ClaimsSize(field) ||
        !ParseCanonicalDecimal(field.substr(sizeof kSizePrefix - 1), v) || v > (std::uint64_t{1} << 53)) {
        return false;
    }
    size = v;
    return true;
}

bool EveryEntryHasDigestAndSize(const std::string& text) {
    bool all = true;
    ForEachLine(text.data(), text.size(), [&](const std::string& line) {
        const ClassifiedLine c = ClassifyLine(line);
        if (c.kind != LineKind::Entry) return;
        const EntryFields f = ParseEntryFields(c.value);
        Sha256Digest d;
        std::uint64_t size = 0;
        if (!ParseDigestField(f.digest, d) || !ParseSizeField(f.size, size)) all = false;
    });
    return all;
}

bool FindFileLine(const std::string& text, std::string& path) {
    std::string rest;
    if (!FindOneLine(text, kFilePrefix, rest) || rest.empty() || rest[0] == '/' || HasControlCharacter(rest) ||
        rest.find(' ') != std::string::npos) {
        return false;
    }
    path = rest;
    return true;
}

bool ParseCanonicalDecimal(const std::string& text, std::uint64_t& value) {
    return !text.empty() && (text[0] != '0' || text.size() == 1) && ParseDecimal(text, value);
}

bool FindLogIndex(const std::string& text, std::uint64_t& index) {
    std::string rest;
    return FindOneLine(text, kLogIndexPrefix, rest) && ParseCanonicalDecimal(rest, index);
}

bool FindExpiry(const std::string& text, std::int64_t& expires) {
    std::string rest;
    return FindOneLine(text, kExpiresPrefix, rest) && ParseUtcTime(rest, expires);
}

bool ParseRolloutPercent(const std::string& text, unsigned& hundredths) {
    const std::size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot), fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    std::uint64_t units = 0;
    if (whole.size() > 3 || !ParseCanonicalDecimal(whole, units) || (dot != std::string::npos && (fraction.empty() || fraction.size() > 2))) {
        return false;
    }
    unsigned cents = 0;
    for (std::size_t i = 0; i < 2; ++i) {
        const char c = i < fraction.size() ? fraction[i] : '0';
        if (c < '0' || c > '9') return false;
        cents = cents * 10 + static_cast<unsigned>(c - '0');
    }
    if (units * 100 + cents > 10000) return false;
    hundredths = static_cast<unsigned>(units * 100 + cents);
    return true;
}

bool IsRolloutId(const std::string& id) {
    if (id.empty() || id.size() > 32) return false;
    for (const char c : id) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-')) return false;
    }
    return true;
}

RolloutLine FindRollout(const std::string& text, Rollout& rollout) {
    std::string rest;
    int lines = 0;
    ForEachLine(text.data(), text.size(), [&](const std::string& line) {
        const std::size_t n = sizeof kRolloutPrefix - 1;
        // "#rollout" alone is a rollout line too, a malformed one.
        if (line.compare(0, n, kRolloutPrefix) != 0 && line != std::string(kRolloutPrefix, n - 1)) return;
        ++lines;
        rest = line.size() > n ? line.substr(n) : std::string();
    });
    if (lines == 0) return RolloutLine::None;
    const std::size_t space = rest.find(' ');
    if (lines > 1 || space == std::string::npos || !ParseRolloutPercent(rest.substr(0, space), rollout.stage) ||
        !IsRolloutId(rest.substr(space + 1))) {
        return RolloutLine::Malformed;
    }
    rollout.id = rest.substr(space + 1);
    return RolloutLine::Present;
}

std::string FormatRolloutPercent(unsigned hundredths) {
    std::string text = std::to_string(hundredths / 100);
    const unsigned cents = hundredths % 100;
    if (cents != 0) text += "." + std::string(1, static_cast<char>('0' + cents / 10)) + (cents % 10 ? std::string(1, static_cast<char>('0' + cents % 10)) : "");
    return text;
}

unsigned RolloutShare(const Sha256Digest& mac) {
    const std::uint32_t first = (std::uint32_t{mac[0]} << 24) | (std::uint32_t{mac[1]} << 16) | (std::uint32_t{mac[2]} << 8) | mac[3];
    return first % 10000;
}

bool ParseUtcTime(const std::string& text, std::int64_t& seconds) {
    // YYYY-MM-DDThh:mm:ssZ, every digit where the form has one.
    static const char kForm[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof kForm - 1) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kForm[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != kForm[i]) return false;
    }
    const auto number = [&](std::size_t at, std::size_t digits) {
        unsigned v = 0;
        for (std::size_t i = at; i < at + digits; ++i) v = v * 10 + static_cast<unsigned>(text[i] - '0');
        return v;
    };
    const unsigned year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const unsigned hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    static const unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59 ||
        second > 59) {
        return false;
    }
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return false;
    seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

std::string FormatUtcTime(std::int64_t seconds) {
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    char out[64];  // room for any 64-bit year
    std::snprintf(out, sizeof out, "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(y), m, d,
                  static_cast<unsigned>(rest / 3600), static_cast<unsigned>(rest / 60 % 60), static_cast<unsigned>(rest % 60));
    return out;
}

std::string KeyIdFromPointDigest(const Sha256Digest& digestOfPoint) { return HexLower(digestOfPoint.data(), 8); }

bool DecodeBase64(const std::string& text, std::string& bytes) {
    if (text.size() % 4 != 0) return false;
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && last && k >= 2 && (k == 3 || text[i + 3] == '=')) {
                v[k] = 0;
                ++padding;
                continue;
            }
            v[k] = Base64Value(c);
            if (v[k] < 0 || padding > 0) return false;
        }
        const std::uint32_t n = (static_cast<std::uint32_t>(v[0]) << 18) | (static_cast<std::uint32_t>(v[1]) << 12) |
                                (static_cast<std::uint32_t>(v[2]) << 6) | static_cast<std::uint32_t>(v[3]);
        out.push_back(static_cast<char>(n >> 16));
        if (padding < 2) out.push_back(static_cast<char>((n >> 8) & 0xFF));
        if (padding < 1) out.push_back(static_cast<char>(n & 0xFF));
        // The bits padding stands for must be zero: one text for one byte string.
        if ((padding == 1 && (n & 0xFF) != 0) || (padding == 2 && (n & 0xFFFF) != 0)) return false;
    }
    bytes = out;
    return true;
}

std::string EncodeBase64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            v = (v << 8) | (k < n ? static_cast<std::uint8_t>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) out.push_back(k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 0x3F] : '=');
    }
    return out;
}

std::string HexLower(const std::uint8_t* data, std::size_t size) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(kHex[data[i] >> 4]);
        out.push_back(kHex[data[i] & 0xF]);
    }
    return out;
}

bool GenerationAccepts(int signerRank, std::uint64_t serial, const KeptRelease& kept, bool& keep) {
    keep = signerRank > kept.rank || (signerRank == kept.rank && serial > kept.serial);
    return signerRank > kept.rank || (signerRank == kept.rank && serial >= kept.serial);
}

}  // namespace core
