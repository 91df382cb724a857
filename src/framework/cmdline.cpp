#include "framework/cmdline.h"

#include "core/text.h"

bool CMapStringToString::Lookup(const char* key, CString& value) const {
    const auto it = m_map.find(CString(key));
    if (it == m_map.end()) return false;
    value = it->second;
    return true;
}

void CCommandLineInfo::ParseParam(const char* param, BOOL isFlag, BOOL) {
    if (isFlag) {
        const std::string s = core::AsciiLower(param);
        if (s == "p") m_nShellCommand = FilePrint;
        else if (s == "pt") m_nShellCommand = FilePrintTo;
        else if (s == "dde") m_nShellCommand = FileDDE;
        else if (s == "unregister" || s == "unregserver") m_nShellCommand = AppUnregister;
    } else if (m_strFileName.IsEmpty()) {
        m_strFileName = param;
        if (m_nShellCommand == FileNew) m_nShellCommand = FileOpen;
    }
}
