#pragma once
// The signed form of a version-info file, apart from the cryptography: a SHA-256 digest as the fifth
// field of each file entry, one "#serial N" line, and a last line "#signature KEYID SIG" that signs every
// byte before it. A reader of the plain format takes all three for a field it ignores and comments.
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

// Whether every file entry of the text carries a well-formed digest as its fifth field.
bool EveryEntryHasDigest(const std::string& text);

// KEYID of a public key from the SHA-256 of its point: the first 8 bytes as lowercase hexadecimal.
std::string KeyIdFromPointDigest(const Sha256Digest& digestOfPoint);

// Standard base64 with "=" padding; false for anything else (other characters, bad padding or length).
bool DecodeBase64(const std::string& text, std::string& bytes);
std::string EncodeBase64(const std::string& bytes);
std::string HexLower(const std::uint8_t* data, std::size_t size);

}  // namespace core
