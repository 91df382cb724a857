#pragma once
// Text crosses the Win32 boundary here: inside the program everything is UTF-8, every call that
// takes text is made by its wide name with the text converted at the call.
#include <windows.h>

#include <string>

#include "framework/cstring.h"

std::wstring Wide(const std::string& utf8);
inline std::wstring Wide(const char* utf8) { return Wide(std::string(utf8 ? utf8 : "")); }
inline std::wstring Wide(const CString& utf8) { return Wide(utf8.str()); }
std::string Narrow(const wchar_t* utf16, int length = -1);
inline std::string Narrow(const std::wstring& utf16) { return Narrow(utf16.c_str(), static_cast<int>(utf16.size())); }

// Text in a Windows code page (e.g. 949) as UTF-8. ASCII text is taken as it stands on any system;
// false when other bytes are no character of the code page (or the code page is missing).
bool DecodeCodePage(unsigned codePage, const std::string& bytes, std::string& utf8);

// UTF-8 text as bytes of a Windows code page; false when a character has no form there (or the code
// page is missing from the system).
bool EncodeCodePage(unsigned codePage, const std::string& utf8, std::string& bytes);

// Resource string of this module as UTF-8 (empty when missing).
CString LoadResourceString(UINT id);

// Window and dialog-item texts as UTF-8.
CString GetWindowTextUtf8(HWND hwnd);
BOOL SetDlgItemTextUtf8(HWND dialog, int id, const char* text);

// The platform's text for an error code, in English where the system has it, else in the system's language
// ("error 5: Access is denied."); the code alone when the system has no text for it. WinINet's codes are
// looked up in wininet.dll.
std::string ErrorText(unsigned long error);
