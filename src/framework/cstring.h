#pragma once
// The framework's string: UTF-8 text over std::string, with the few operations the program uses.
#include <cstdarg>
#include <string>

class CString {
public:
    CString() = default;
    CString(const char* psz) : m_str(psz ? psz : "") {}  // NOLINT: implicit, as the framework's string
    CString(std::string s) : m_str(std::move(s)) {}      // NOLINT
    CString(const char* p, int nLength) : m_str(p, static_cast<std::size_t>(nLength)) {}

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    const char* GetString() const { return m_str.c_str(); }
    operator const char*() const { return m_str.c_str(); }  // NOLINT
    const std::string& str() const { return m_str; }

    char operator[](int i) const { return m_str[static_cast<std::size_t>(i)]; }
    CString Left(int n) const;
    int Find(char ch, int start = 0) const;
    int Find(const char* sub, int start = 0) const;

    void Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(const char* fmt, va_list args);

    CString& operator=(const char* psz) { m_str = psz ? psz : ""; return *this; }
    CString& operator+=(const CString& s) { m_str += s.m_str; return *this; }
    CString& operator+=(const char* psz) { m_str += psz; return *this; }
    CString& operator+=(char ch) { m_str += ch; return *this; }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_str + b.m_str); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_str + b); }
    friend CString operator+(const char* a, const CString& b) { return CString(a + b.m_str); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == b; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_str < b.m_str; }

private:
    std::string m_str;
};
