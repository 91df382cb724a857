#pragma once
// Command-line parsing as the application framework does it: the arguments are split by the system,
// a leading "-" or "/" marks a switch, and ParseParam sees each argument in turn.
#include <windows.h>

#include <map>

#include "framework/cstring.h"

class CMapStringToString {
public:
    explicit CMapStringToString(int /*blockSize*/ = 10) {}
    void SetAt(const char* key, const char* value) { m_map[CString(key)] = CString(value); }
    bool Lookup(const char* key, CString& value) const;
    int GetCount() const { return static_cast<int>(m_map.size()); }
    const std::map<CString, CString>& Entries() const { return m_map; }

private:
    std::map<CString, CString> m_map;  // keys keep their case and compare exactly
};

class CCommandLineInfo {
public:
    enum ShellCommand { FileNew, FileOpen, FilePrint, FilePrintTo, FileDDE, AppUnregister, FileNothing };

    virtual ~CCommandLineInfo() = default;
    // The framework's own recording: the first plain argument is a file name; a few switches are its own.
    virtual void ParseParam(const char* param, BOOL isFlag, BOOL isLast);

    CString m_strFileName;
    ShellCommand m_nShellCommand = FileNew;
};
