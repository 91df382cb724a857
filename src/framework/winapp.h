#pragma once
// The application object: one global instance, run from the program's entry point.
#include <windows.h>

#include "framework/cmdline.h"
#include "framework/wnd.h"

class CWinApp {
public:
    // With no name given the title comes from string resource 57344 (AFX_IDS_APP_TITLE).
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }

    // Splits the process's command line and hands each argument to info.ParseParam.
    void ParseCommandLine(CCommandLineInfo& info);
    // Registers the common controls the dialogs use (the progress bar class among them).
    void Enable3dControls();

    // Entry point body: InitInstance, the message loop when it returned TRUE, ExitInstance.
    int Run();

    CWnd* m_pMainWnd = nullptr;
    CString m_strAppName;
};

CWinApp* AfxGetApp();

enum : UINT { AFX_IDS_APP_TITLE = 0xE000 };
