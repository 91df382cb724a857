#include "framework/cstring.h"

#include <cstdio>
#include <vector>

#include "core/text.h"

CString CString::Left(int n) const {
    if (n <= 0) return CString();
    return CString(m_str.substr(0, static_cast<std::size_t>(n)));
}

CString CString::Mid(int first) const {
    if (first < 0) first = 0;
    if (first >= GetLength()) return CString();
    return CString(m_str.substr(static_cast<std::size_t>(first)));
}

CString CString::Mid(int first, int count) const {
    if (first < 0) first = 0;
    if (count <= 0 || first >= GetLength()) return CString();
    return CString(m_str.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(count)));
}

int CString::Find(char ch, int start) const {
    const auto pos = m_str.find(ch, static_cast<std::size_t>(start < 0 ? 0 : start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const char* sub, int start) const {
    const auto pos = m_str.find(sub, static_cast<std::size_t>(start < 0 ? 0 : start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(char ch) const {
    const auto pos = m_str.rfind(ch);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::CompareNoCase(const char* other) const {
    return core::AsciiLower(m_str).compare(core::AsciiLower(other ? other : ""));
}

void CString::Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    FormatV(fmt, args);
    va_end(args);
}

void CString::FormatV(const char* fmt, va_list args) {
    char small[256];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) { m_str.clear(); return; }
    if (static_cast<std::size_t>(n) < sizeof small) { m_str.assign(small, static_cast<std::size_t>(n)); return; }
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, args);
    m_str.assign(big.data(), static_cast<std::size_t>(n));
}
