#pragma once
#include "framework/handles.h"
#include "framework/winapp.h"

#include <string>

// The program's version from its version resource ("1.0.0.1"); "unknown" when it cannot be read.
std::string ProgramVersionText();

class CUpdaterApp : public CWinApp {
public:
    CUpdaterApp() : CWinApp(nullptr) {}

    BOOL InitInstance() override;
    int ExitInstance() override;

    void SetServerUrl(CString url);
    CString GetServerHost() const { return m_strServerHost; }
    CString GetServerPath() const { return m_strServerPath; }
    CString GetVersionFile() const { return m_strVersionFile; }

    ScopedHandle m_hMutex;  // the single-instance mutex; empty when none is held
    CString m_strServerHost;
    CString m_strServerPath;
    CString m_strVersionFile;
};
