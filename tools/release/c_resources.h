#pragma once
// Owners for what the C library hands out: a FILE*, memory to free, an iconv descriptor.
#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace release_tool {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using CFile = std::unique_ptr<std::FILE, FileCloser>;

struct MemoryFreer {
    void operator()(void* p) const { std::free(p); }
};
using CMemory = std::unique_ptr<char, MemoryFreer>;

class CIconv {
public:
    CIconv(const char* to, const char* from) : m_cd(::iconv_open(to, from)) {}
    ~CIconv() {
        if (*this) ::iconv_close(m_cd);
    }
    CIconv(const CIconv&) = delete;
    CIconv& operator=(const CIconv&) = delete;
    explicit operator bool() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

}  // namespace release_tool
