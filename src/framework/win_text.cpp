#include "framework/win_text.h"

#include <wininet.h>

#include "core/text.h"
#include "framework/handles.h"

std::wstring Wide(const std::string& utf8) {
    const std::u16string u = core::Utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string Narrow(const wchar_t* utf16, int length) {
    if (!utf16) return std::string();
    const std::size_t n = length < 0 ? wcslen(utf16) : static_cast<std::size_t>(length);
    return core::Utf16ToUtf8(std::u16string(utf16, utf16 + n));
}

bool DecodeCodePage(unsigned codePage, const std::string& bytes, std::string& utf8) {
    bool ascii = true;
    for (const char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        utf8 = bytes;
        return true;
    }
    const int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                        nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), &wide[0], n);
    utf8 = Narrow(wide);
    return true;
}

bool EncodeCodePage(unsigned codePage, const std::string& utf8, std::string& bytes) {
    const std::wstring wide = Wide(utf8);
    if (wide.empty()) {
        bytes.clear();
        return true;
    }
    BOOL lossy = FALSE;
    const int n = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), &out[0], n,
                          nullptr, &lossy);
    if (lossy) return false;
    bytes = out;
    return true;
}

CString LoadResourceString(UINT id) {
    const wchar_t* text = nullptr;
    // With a zero buffer size LoadStringW hands out a pointer into the resource itself.
    const int n = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (n <= 0 || !text) return CString();
    return CString(Narrow(text, n));
}

CString GetWindowTextUtf8(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    if (n <= 0) return CString();
    std::wstring buf(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, &buf[0], n + 1);
    return CString(Narrow(buf.c_str(), got));
}

BOOL SetDlgItemTextUtf8(HWND dialog, int id, const char* text) {
    return SetDlgItemTextW(dialog, id, Wide(text).c_str());
}

std::string ErrorText(unsigned long error) {
    wchar_t* text = nullptr;  // the system's allocation, freed as the function returns
    const bool internet = error >= INTERNET_ERROR_BASE && error <= INTERNET_ERROR_LAST;
    const HMODULE wininet = internet ? ::GetModuleHandleW(L"wininet.dll") : nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                        (wininet ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    // In English where the system has it (the vendor's support reads the log), else in the system's language.
    DWORD n = ::FormatMessageW(flags, wininet, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                               reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (!n) n = ::FormatMessageW(flags, wininet, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const ScopedLocalMemory own(text);
    std::string result = "error " + std::to_string(error);
    if (n && text) {
        std::string message = Narrow(text, static_cast<int>(n));
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) message.pop_back();
        if (!message.empty()) result += ": " + message;
    }
    return result;
}
