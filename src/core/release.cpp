#include "core/release.h"

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
const char kSignaturePrefix[] = "#signature ";
const char kSerialPrefix[] = "#serial ";

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
    int lines = 0;
    bool valid = false;
    ForEachLine(text.data(), text.size(), [&](const std::string& line) {
        if (line.compare(0, sizeof kSerialPrefix - 1, kSerialPrefix) != 0) return;
        ++lines;
        valid = ParseSerial(line.substr(sizeof kSerialPrefix - 1), serial);
    });
    return lines == 1 && valid;
}

bool EveryEntryHasDigest(const std::string& text) {
    bool all = true;
    ForEachLine(text.data(), text.size(), [&](const std::string& line) {
        const ClassifiedLine c = ClassifyLine(line);
        Sha256Digest d;
        if (c.kind == LineKind::Entry && !ParseDigestField(ParseEntryFields(c.value).digest, d)) all = false;
    });
    return all;
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

}  // namespace core
