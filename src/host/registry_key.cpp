#include "host/registry_key.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/platform.h"
#include "core/product.h"
#include "framework/win_text.h"

CString ProductKeyPath() { return product::kProductKeyPath; }

CRegistryKey& CRegistryKey::operator=(CRegistryKey&& other) noexcept {
    if (this != &other) {
        Close();
        m_hKey = other.m_hKey;
        other.m_hKey = nullptr;
    }
    return *this;
}

LONG CRegistryKey::Open(HKEY parent, const char* subKey, REGSAM access) {
    HKEY key = nullptr;
    const LONG rc = ::RegOpenKeyExW(parent, Wide(subKey).c_str(), 0, access, &key);
    if (rc != ERROR_SUCCESS) return rc;
    const LONG closed = Close();
    m_hKey = key;
    return closed;
}

LONG CRegistryKey::Create(HKEY parent, const char* subKey, const char* className, DWORD options, REGSAM access,
                          SECURITY_ATTRIBUTES* security, DWORD* disposition) {
    HKEY key = nullptr;
    std::wstring cls = className ? Wide(className) : std::wstring();
    const LONG rc = ::RegCreateKeyExW(parent, Wide(subKey).c_str(), 0, className ? &cls[0] : nullptr, options,
                                      access, security, &key, disposition);
    if (rc != ERROR_SUCCESS) return rc;
    const LONG closed = Close();
    m_hKey = key;
    return closed;
}

LONG CRegistryKey::Close() {
    if (!m_hKey) return ERROR_SUCCESS;
    const LONG rc = ::RegCloseKey(m_hKey);
    m_hKey = nullptr;
    return rc;
}

LONG CRegistryKey::QueryValue(void* buffer, const char* valueName, DWORD* count) {
    // Text is stored as UTF-16 in the registry; the caller's buffer holds it as UTF-8 with its zero.
    // A value fits when its UTF-8 form with the terminator fits into the caller's byte count.
    DWORD type = 0;
    DWORD bytes = 0;
    const std::wstring name = Wide(valueName);
    LONG rc = ::RegQueryValueExW(m_hKey, name.c_str(), nullptr, &type, nullptr, &bytes);
    if (rc != ERROR_SUCCESS) return rc;
    std::vector<BYTE> raw(bytes + sizeof(wchar_t));
    rc = ::RegQueryValueExW(m_hKey, name.c_str(), nullptr, &type, raw.data(), &bytes);
    if (rc != ERROR_SUCCESS) return rc;
    std::string data;
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        data = Narrow(reinterpret_cast<const wchar_t*>(raw.data()), static_cast<int>(bytes / sizeof(wchar_t)));
        if (data.empty() || data.back() != '\0') data.push_back('\0');
    } else {
        data.assign(reinterpret_cast<const char*>(raw.data()), bytes);
    }
    const DWORD size = static_cast<DWORD>(data.size());
    if (size > *count) {
        *count = size;
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, data.data(), size);
    *count = size;
    return ERROR_SUCCESS;
}

LONG CRegistryKey::SetValue(const char* text, const char* valueName) {
    const std::wstring data = Wide(text);
    return ::RegSetValueExW(m_hKey, Wide(valueName).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

LONG CRegistryKey::SetKeyValue(const char* subKey, const char* text, const char* valueName) {
    CRegistryKey sub;
    const LONG rc = sub.Create(m_hKey, subKey, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    return sub.SetValue(text, valueName);
}

bool CRegistryKey::HasValue(const char* valueName) const {
    return m_hKey && ::RegQueryValueExW(m_hKey, Wide(valueName).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool QueryTextValue(CRegistryKey& key, const char* valueName, DWORD bufferChars, CString& text) {
    std::vector<char> buffer(bufferChars * 3 + 1, '\0');  // UTF-8 takes up to three bytes a character
    DWORD count = static_cast<DWORD>(buffer.size());
    if (key.QueryValue(buffer.data(), valueName, &count) != ERROR_SUCCESS) return false;
    buffer.back() = '\0';
    const std::string value(buffer.data());
    if (core::Utf16Length(value) + 1 > bufferChars) return false;
    text = CString(value);
    return true;
}

bool ReadProductValue(const char* valueName, DWORD bufferChars, CString& text) {
    CRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, ProductKeyPath(), KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
    return QueryTextValue(key, valueName, bufferChars, text);
}

LONG DeleteProductValue(const char* valueName) {
    CRegistryKey key;
    const LONG rc = key.Open(HKEY_LOCAL_MACHINE, ProductKeyPath(), KEY_ALL_ACCESS);
    return rc != ERROR_SUCCESS ? rc : ::RegDeleteValueW(key.get(), Wide(valueName).c_str());
}

LONG WriteProductValue(const char* valueName, const char* text) {
    CRegistryKey key;
    LONG rc = key.Open(HKEY_LOCAL_MACHINE, ProductKeyPath(), KEY_ALL_ACCESS);
    if (rc != ERROR_SUCCESS) {
        rc = key.Create(HKEY_LOCAL_MACHINE, ProductKeyPath(), nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, nullptr);
    }
    if (rc != ERROR_SUCCESS) return rc;
    return key.SetValue(text, valueName);
}
