#pragma once
// Files by path, opened the few ways the program opens them, read or written at an offset, and a file that
// goes unless it is kept.
#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/handles.h"

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// An existing file for reading, shared as share says; empty (GetLastError tells why) when it cannot be opened.
ScopedFile OpenToRead(const std::wstring& path, DWORD share = FILE_SHARE_READ, DWORD flags = FILE_ATTRIBUTE_NORMAL);
// An existing file for writing (and reading).
ScopedFile OpenToWrite(const std::wstring& path, DWORD share);
// A file made anew (an earlier one of the name emptied), for access.
ScopedFile CreateAnew(const std::wstring& path, DWORD access, DWORD share);
// A file to append to, made when there is none.
ScopedFile OpenToAppend(const std::wstring& path, DWORD share);

bool ReadAt(HANDLE file, std::uint64_t at, char* data, DWORD size);
bool WriteAt(HANDLE file, std::uint64_t at, const char* data, DWORD size);
// The whole file at path, when it is at most maxBytes long.
bool ReadWhole(const std::wstring& path, std::uint64_t maxBytes, std::string& bytes);
std::uint64_t SizeOf(HANDLE file);  // 0 when it cannot be told

// The file at path is deleted as the scope ends, unless kept.
class CRemovedUnlessKept {
public:
    explicit CRemovedUnlessKept(std::wstring path) : m_path(std::move(path)) {}
    ~CRemovedUnlessKept() {
        if (!m_kept) ::DeleteFileW(m_path.c_str());
    }
    CRemovedUnlessKept(const CRemovedUnlessKept&) = delete;
    CRemovedUnlessKept& operator=(const CRemovedUnlessKept&) = delete;
    void Keep() { m_kept = true; }

private:
    std::wstring m_path;
    bool m_kept = false;
};
