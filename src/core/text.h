#pragma once
#include <cstdint>
#include <string>

namespace core {

// UTF-8 <-> UTF-16 without any platform call. Ill-formed input is never dropped silently:
// each bad UTF-8 sequence becomes U+FFFD, and so does each unpaired surrogate.
std::u16string Utf8ToUtf16(const std::string& s);
std::string Utf16ToUtf8(const std::u16string& s);

// Bytes of the longest prefix of s that decodes to at most maxUnits UTF-16 units, counted exactly as
// Utf8ToUtf16 counts them (each byte of an ill-formed sequence is one replacement character).
std::size_t Utf8PrefixBytes(const std::string& s, std::size_t maxUnits);

// ASCII-only lower case: on UTF-8 this is exactly a multibyte-aware case fold of the Latin letters,
// and never touches a byte of a multibyte character.
std::string AsciiLower(std::string s);
bool EqualsNoCase(const std::string& a, const std::string& b);

// s without the blanks and tabs at either end.
std::string TrimBlanks(const std::string& s);

// Whether c is a control character (a byte below 0x20, or DEL), and whether s holds one.
inline bool IsControlCharacter(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }
bool HasControlCharacter(const std::string& s);

// A decimal number of 1 to 20 digits and nothing else that fits 64 bits.
bool ParseDecimal(const std::string& text, std::uint64_t& value);

}  // namespace core
