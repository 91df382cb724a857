#include "framework/winapp.h"

#include <commctrl.h>
#include <shellapi.h>

#include <vector>

#include "core/command_args.h"
#include "framework/handles.h"
#include "framework/win_text.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

CWinApp::CWinApp(const char* appName) : m_strAppName(appName) { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    const ScopedLocalMemory own(argv);
    if (!argv) return;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Narrow(argv[i]));
    for (const core::CommandArg& a : core::ClassifyArgs(args)) {
        info.ParseParam(a.param.c_str(), a.isFlag, a.isLast);
    }
}

void CWinApp::Enable3dControls() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
}

int CWinApp::Run() {
    if (m_strAppName.IsEmpty()) m_strAppName = LoadResourceString(AFX_IDS_APP_TITLE);
    if (InitInstance()) {
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return ExitInstance();
}
