#include "app/UpdaterApp.h"

#include "app/UpdaterCommandLineInfo.h"
#include "app/UpdaterDlg.h"
#include <cstring>

#include "core/product.h"
#include "core/server_url.h"
#include "framework/win_text.h"

std::string ProgramVersionText() {
    // Read from the program's own version resource: its fixed part is found by its signature (it follows
    // the "VS_VERSION_INFO" key at a 4-byte boundary), so no version DLL is needed.
    const HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));  // RT_VERSION
    const HGLOBAL loaded = found ? ::LoadResource(nullptr, found) : nullptr;
    const auto* bytes = static_cast<const unsigned char*>(loaded ? ::LockResource(loaded) : nullptr);
    const DWORD size = found ? ::SizeofResource(nullptr, found) : 0;
    for (DWORD at = 0; bytes && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        std::memcpy(&info, bytes + at, sizeof info);
        if (info.dwSignature != VS_FFI_SIGNATURE) continue;
        return std::to_string(HIWORD(info.dwFileVersionMS)) + "." + std::to_string(LOWORD(info.dwFileVersionMS)) + "." +
               std::to_string(HIWORD(info.dwFileVersionLS)) + "." + std::to_string(LOWORD(info.dwFileVersionLS));
    }
    return "unknown";
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
    // Still holding the mutex: a copy started meanwhile finds no window and ends.
    dlg.CheckHealth();
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
