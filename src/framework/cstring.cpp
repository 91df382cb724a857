#include "framework/cstring.h"

#include <cstdio>
#include <vector>


CString CString::Left(int n) const {
    if (n <= 0) return CString();
    return CString(m_str.substr(0, static_cast<std::size_t>(n)));
}

int CString::Find(char ch, int start) const {
    const auto pos = m_str.find(ch, static_cast<std::size_t>(start < 0 ? 0 : start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const char* sub, int start) const {
    const auto pos = m_str.find(sub, static_cast<std::size_t>(start < 0 ? 0 : start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
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
