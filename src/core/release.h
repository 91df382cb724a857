#pragma once
// The signed form of a version-info file, apart from the cryptography: a SHA-256 digest and a size as the
// fifth and sixth fields of each file entry, one "#serial N", one "#file PATH" and one "#expires TIME" line,
// and a last line "#signature KEYID SIG" that signs every byte before it. A reader of the plain format takes
// them for fields it ignores and comments.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace core {

using Sha256Digest = std::array<std::uint8_t, 32>;
using P256Signature = std::array<std::uint8_t, 64>;  // r || s, each 32 bytes big-endian
using P256Point = std::array<std::uint8_t, 64>;      // X || Y, each 32 bytes big-endian

// "sha256:" and 64 lowercase hexadecimal digits.
bool ParseDigestField(const std::string& field, Sha256Digest& digest);
// Whether a fifth field claims to be a digest (begins "sha256:"); any other fifth field means nothing.
bool ClaimsDigest(const std::string& field);

struct SignatureLine {
    std::size_t signedLength = 0;  // the bytes before the line's "#"
    std::string keyId;             // 16 lowercase hexadecimal digits
    P256Signature signature{};
};
enum class SignatureStatus {
    Absent,     // the last line is no signature line
    Present,    // a well-formed signature line ends the file
    Malformed,  // the last line begins "#signature " but is not one
};
// Looks at the file's last line: the text after the last CR LF, or, when the file ends with CR LF, the
// line that CR LF ends (nothing may follow it).
SignatureStatus FindSignatureLine(const std::string& file, SignatureLine& line);

// The serial of signed text: true only when it holds exactly one serial line ("#serial " at the start of
// a line) and that line is "#serial N", N from 1 to 9223372036854775807 without sign or leading zeros.
bool FindSerial(const std::string& text, std::uint64_t& serial);
// N as the serial line and the stored serial write it.
bool ParseSerial(const std::string& text, std::uint64_t& serial);

// Whether a sixth field claims to be a size (begins "size:"); any other sixth field means nothing.
bool ClaimsSize(const std::string& field);
// "size:N" as the sixth field gives it: N the object's length in bytes, decimal, no sign, no leading zeros,
// at most 2^53.
bool ParseSizeField(const std::string& field, std::uint64_t& size);
// Whether every file entry of the text carries a well-formed digest (fifth field) and size (sixth).
bool EveryEntryHasDigestAndSize(const std::string& text);

// The signed file's own path on the server, from its one "#file PATH" line (no leading slash), and its
// expiry, from its one "#expires YYYY-MM-DDThh:mm:ssZ" line, as seconds since 1970-01-01 UTC. False when
// the line is missing, given twice or malformed.
bool FindFileLine(const std::string& text, std::string& path);
bool FindExpiry(const std::string& text, std::int64_t& expires);
// The file's place in the vendor's log, from its one "#log-index N" line (N decimal, no sign or leading
// zeros); false when missing, given twice or malformed.
bool FindLogIndex(const std::string& text, std::uint64_t& index);
// A decimal number without sign or leading zeros ("0" itself aside), as the log's sizes are written.
bool ParseCanonicalDecimal(const std::string& text, std::uint64_t& value);

// A staged release: "#rollout PERCENT ID", PERCENT 0 to 100 with at most two decimals, ID 1 to 32 of
// A-Z a-z 0-9 . _ -. The stage is kept in hundredths of a per cent (0 to 10000).
struct Rollout {
    unsigned stage = 0;
    std::string id;
};
enum class RolloutLine { None, Present, Malformed };  // Malformed: not one, or more than one
RolloutLine FindRollout(const std::string& text, Rollout& rollout);
bool ParseRolloutPercent(const std::string& text, unsigned& hundredths);
bool IsRolloutId(const std::string& id);
// hundredths as the line writes them: "0", "0.5", "12.25", "100".
std::string FormatRolloutPercent(unsigned hundredths);
// A machine's share of a rollout, from the HMAC-SHA256 of the ID keyed with the machine's secret: its first
// 4 bytes read big-endian, modulo 10000 (hundredths of a per cent). The machine takes the release when its
// share lies below the stage.
unsigned RolloutShare(const Sha256Digest& mac);
inline bool TakesRollout(unsigned share, unsigned stage) { return share < stage; }
// UTC time as the expiry line writes it, and back (the years 1970 to 9999).
bool ParseUtcTime(const std::string& text, std::int64_t& seconds);
std::string FormatUtcTime(std::int64_t seconds);

// Key generations: the release keys built into the program are ranked by their order, oldest first. A
// kept release is the serial accepted before for a version-info file and the rank of the key that signed
// it: a file with no kept KEYID ranks as the oldest key (0), one whose KEYID is not built in before every
// key (kNotBuiltIn).
constexpr int kNotBuiltIn = -1;
struct KeptRelease {
    std::uint64_t serial = 0;  // 0: none kept
    int rank = 0;
};
// Whether a file signed by the key of rank signerRank with serial may be used after kept: a later key
// whatever the serial, the same key with a serial no lower (an equal one is the same release again), an
// earlier key never. keep tells whether the file's serial and key replace the kept ones (a later key or
// a higher serial).
bool GenerationAccepts(int signerRank, std::uint64_t serial, const KeptRelease& kept, bool& keep);

// KEYID of a public key from the SHA-256 of its point: the first 8 bytes as lowercase hexadecimal.
std::string KeyIdFromPointDigest(const Sha256Digest& digestOfPoint);

// Standard base64 with "=" padding; false for anything else (other characters, bad padding or length).
bool DecodeBase64(const std::string& text, std::string& bytes);
std::string EncodeBase64(const std::string& bytes);
std::string HexLower(const std::uint8_t* data, std::size_t size);

}  // namespace core
