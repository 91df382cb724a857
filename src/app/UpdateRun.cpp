// The update run on the worker thread, and how the dialog starts and stops it.
#include <shlwapi.h>

#include "app/UpdaterDlg.h"
#include "core/platform.h"
#include "framework/detached_call.h"
#include "net/download.h"
#include "host/install_dir.h"
#include "host/os_type.h"
#include "host/process_shutdown.h"
#include "host/registry_key.h"

namespace {

constexpr DWORD kStopPauseMs = 500;
constexpr DWORD kWorkerGraceMs = 100;
constexpr DWORD kPassFailed = 0xFFFFFFFF;
const char* const kProductPrograms[] = {"Marrowtide.exe", "Tessvane.exe", "Quillmere.exe", "MarRtime.exe"};

}  // namespace

LRESULT CUpdaterDlg::OnUpdateStart() {
    m_hThread.reset(::CreateThread(nullptr, 0, &UpdateThreadProc, this, 0, nullptr));
    if (!m_hThread) {
        ::PostMessageW(m_hWnd, WM_UPDATE_DONE, 0, 0);
        return -1;
    }
    return 0;
}

DWORD WINAPI CUpdaterDlg::UpdateThreadProc(LPVOID param) {
    auto* dlg = static_cast<CUpdaterDlg*>(param);
    try {
        return dlg->RunUpdate();
    } catch (...) {
        // Nothing thrown here may keep the dialog from closing: its close restarts the monitor and
        // writes "Update_Flag".
        ::PostMessageW(dlg->m_hWnd, WM_UPDATE_DONE, 0, 0);
        return kPassFailed;
    }
}

DWORD CUpdaterDlg::RunUpdate() {
    CString installPath;
    if (ReadProductValue("InstallPath", kInstallPathChars, installPath) && !installPath.IsEmpty()) {
        m_strInstallPath = installPath;
    }

    StopProductProcesses(m_strInstallPath);
    if (m_stop.Raised()) return kPassFailed;

    if (!UpdateDBFiles()) {
        ::PostMessageW(m_hWnd, WM_UPDATE_DONE, 0, 0);
        return kPassFailed;
    }
    if (m_stop.Raised()) return kPassFailed;
    if (!UpdateProgramFiles()) {
        ::PostMessageW(m_hWnd, WM_UPDATE_DONE, 0, 0);
        return kPassFailed;
    }
    if (m_stop.Raised()) return kPassFailed;
    CreateShellEntries();
    if (m_stop.Raised()) return kPassFailed;

    ::SendMessageW(m_hWnd, WM_UPDATE_DONE, 0, 0);
    return 0;
}

void CUpdaterDlg::StopWorker() {
    if (!m_hThread) return;
    m_stop.Raise();
    // The worker may be sending a message to this thread right now: let such messages through while
    // waiting, so it is never left blocked in a send.
    const HANDLE thread = m_hThread.get();
    const DWORD start = ::GetTickCount();
    for (;;) {
        const DWORD waited = ::GetTickCount() - start;
        if (waited >= kWorkerGraceMs) break;
        const DWORD r = ::MsgWaitForMultipleObjects(1, &thread, FALSE, kWorkerGraceMs - waited, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) break;
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    DWORD code = 0;
    ::GetExitCodeThread(thread, &code);
    if (code == STILL_ACTIVE) {
        ::TerminateThread(thread, STILL_ACTIVE);  // last resort: the worker missed its grace time
        m_nWorkerEnd = WorkerEnd::Terminated;
    } else {
        m_nWorkerEnd = WorkerEnd::Returned;
    }
    m_hThread.reset();
}

void CUpdaterDlg::PrepareInstallDir() { m_strInstallDir = PrepareInstallFolder(m_hWnd); }

void CUpdaterDlg::StopProductProcesses(CString strInstallDir) {
    for (const char* program : kProductPrograms) {
        if (m_stop.Raised()) return;  // a close before an attempt ends nothing more
        std::string path;
        // A path too long to form is never cut short (it would name another program): the attempt is skipped.
        if (core::JoinPath(strInstallDir.str(), program, path)) TerminateProcessByPath(path.c_str());
        if (!m_stop.Pause(kStopPauseMs)) return;
    }
}

int CUpdaterDlg::TerminateProcessByPath(const char* pszPath) {
    return ::TerminateProcessByPath(pszPath, core::IsNineXFamily(GetOSType()));
}

BOOL CUpdaterDlg::DownloadFile(BOOL bShowProgress, int nVerb, CString strServer, CString strObject,
                               CString strOptional, CString strLocalFile, ULONGLONG nMaxBytes,
                               const core::Sha256Digest* pDigest) {
    DownloadRequest request;
    request.showProgress = bShowProgress != FALSE;
    request.verb = nVerb;
    request.server = strServer.str();
    request.object = strObject.str();
    request.optional = strOptional.str();
    request.localFile = strLocalFile.str();
    request.maxBytes = nMaxBytes;
    request.checkDigest = pDigest != nullptr;
    if (pDigest) request.digest = *pDigest;
    // The network gives no way to interrupt a stalled call: the download runs on a thread of its own, so
    // a closing dialog never has to wait for it or take it down.
    const HWND bar = m_progFile.m_hWnd;
    const CStopSignal stop = m_stop;
    return RunDetached<int>([request, bar, stop] { return Download(request, bar, stop); }, m_stop, 0, &m_hStoppedDownload);
}
