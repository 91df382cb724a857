#pragma once
// The one way the program reads and writes the registry. Every call returns the platform's error code;
// an object holds at most one key and closes it when it is destroyed. Move-only.
#include <windows.h>

#include "framework/cstring.h"

// "SOFTWARE\Yelvan\Marrowtide", the product key under HKEY_LOCAL_MACHINE.
CString ProductKeyPath();

class CRegistryKey {
public:
    CRegistryKey() = default;
    ~CRegistryKey() { Close(); }
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;
    CRegistryKey(CRegistryKey&& other) noexcept : m_hKey(other.m_hKey) { other.m_hKey = nullptr; }
    CRegistryKey& operator=(CRegistryKey&& other) noexcept;

    // On success the key held so far is closed and the new one held: the result is that of closing the
    // old key (0 when none was held). On failure the object keeps what it held and the error is returned.
    LONG Open(HKEY parent, const char* subKey, REGSAM access);
    LONG Create(HKEY parent, const char* subKey, const char* className, DWORD options, REGSAM access,
                SECURITY_ATTRIBUTES* security, DWORD* disposition);
    // 0 when nothing is held.
    LONG Close();

    // Raw bytes of the value into buffer; *count is the buffer size on entry and the data size on return.
    // The value's type is not examined. On failure the buffer's contents are unspecified.
    LONG QueryValue(void* buffer, const char* valueName, DWORD* count);
    // A REG_SZ value: the text and its terminating zero.
    LONG SetValue(const char* text, const char* valueName);
    // SetValue on the sub-key of the held key, created when missing; the first error, else SetValue's.
    LONG SetKeyValue(const char* subKey, const char* text, const char* valueName);
    // Whether the held key has the value, of whatever type and size.
    bool HasValue(const char* valueName) const;

    HKEY get() const { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

// A text value of an open key, taken only when it fits bufferChars characters with its terminator.
bool QueryTextValue(CRegistryKey& key, const char* valueName, DWORD bufferChars, CString& text);

// The read pattern: open the product key with full access and query the value; the text is taken only
// when it fits a buffer of bufferChars characters with its terminator (a longer value counts as absent).
bool ReadProductValue(const char* valueName, DWORD bufferChars, CString& text);
// The write pattern: open the product key with full access, else create it; then set the value.
LONG WriteProductValue(const char* valueName, const char* text);
// Removes the value of the product key (ERROR_FILE_NOT_FOUND when there is none).
LONG DeleteProductValue(const char* valueName);

enum : DWORD { kInstallPathChars = 260, kVersionChars = 1024 };
