#include "app/UpdaterApp.h"

#include "app/UpdaterCommandLineInfo.h"
#include "app/UpdaterDlg.h"
#include <vector>

#include "core/product.h"
#include "core/server_url.h"
#include "framework/win_text.h"

std::string ProgramVersionText() {
    wchar_t path[MAX_PATH] = {};
    if (!::GetModuleFileNameW(nullptr, path, MAX_PATH)) return "unknown";
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!size || !::GetFileVersionInfoW(path, 0, size, data.data()) ||
        !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || length < sizeof *info) {
        return "unknown";
    }
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

BOOL CUpdaterApp::InitInstance() {
    const CString title = m_strAppName;  // the title from string 57344, loaded as the application started
    m_hMutex.reset(::CreateMutexW(nullptr, TRUE, Wide(title).c_str()));
    if (m_hMutex && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another copy runs: bring its window forward (it carries the application title) and end at once.
        // Nothing here waits on the other copy's window thread, which may be busy for long.
        const HWND other = ::FindWindowW(nullptr, Wide(title).c_str());
        if (other) {
            ::ShowWindowAsync(other, SW_SHOW);
            ::SetForegroundWindow(other);
        }
        return FALSE;
    }

    CUpdaterCommandLineInfo cmdInfo;
    ParseCommandLine(cmdInfo);

    m_strVersionFile = product::kProgramVersionFile;
    SetServerUrl(BuiltInBaseUrl());

    Enable3dControls();

    CUpdaterDlg dlg(nullptr);
    m_pMainWnd = &dlg;
    dlg.DoModal();  // a completed, failed or stopped run all end the same way
    m_pMainWnd = nullptr;
    return FALSE;
}

int CUpdaterApp::ExitInstance() {
    if (m_hMutex) ::ReleaseMutex(m_hMutex.get());
    m_hMutex.reset();
    return CWinApp::ExitInstance();
}

void CUpdaterApp::SetServerUrl(CString url) {
    const core::ServerUrl parts = core::SplitServerUrl(url.str());
    m_strServerHost = parts.host;
    m_strServerPath = parts.path;
}
