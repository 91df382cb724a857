// The two update passes: one procedure, the points in which the DB pass and the program pass differ
// given as settings.
#include "app/UpdaterDlg.h"

#include <commctrl.h>

#include "app/UpdaterApp.h"
#include "core/platform.h"
#include "core/version_info.h"
#include "framework/win_text.h"
#include "host/registry_key.h"
#include "res/resource.h"

BOOL CUpdaterDlg::UpdateDBFiles() {
    const CString host = BuiltInServerHost();
    PassSettings s;
    s.versionInfoHost = host;
    s.versionInfoObject.Format("%s%s", "update/db/", "DBUpdate.ver");
    s.localName = "DBUpdate.ver";
    s.productKeyRequired = true;
    s.statusDownloadingInfo = "DB 정보 파일을 다운로드받고 있습니다..";
    s.statusCurrent = "시스템이 이미 최신 DB로 갱신되어 있습니다..";
    s.statusDownloadingFiles = "최종 패치된 DB 파일을 다운로드 중입니다..";
    s.fileLineFormat = "다운로드 DB파일 : %s";
    s.defaultSite = host;
    s.defaultSubDir.Format("http://%s/%s", host.GetString(), "update/db/");
    s.rule = PlacementRule::ByExtension;
    return RunUpdatePass(s);
}

BOOL CUpdaterDlg::UpdateProgramFiles() {
    PassSettings s;
    s.versionInfoHost = m_strServerHost;
    s.versionInfoObject.Format("%s/%s", m_strServerPath.GetString(), m_strVersionFile.GetString());
    s.localName = m_strVersionFile;
    s.productKeyRequired = false;
    s.statusDownloadingInfo = "버전 정보 파일을 다운로드받고 있습니다..";
    s.statusCurrent = "시스템이 최신 사항으로 갱신되어 있습니다..";
    s.statusDownloadingFiles = "최종 패치된 파일을 다운로드 중입니다..";
    s.fileLineFormat = "다운로드 파일 : %s";
    s.defaultSite = m_strServerHost;
    s.defaultSubDir = m_strServerPath;
    s.rule = PlacementRule::InstallFolder;
    return RunUpdatePass(s);
}

BOOL CUpdaterDlg::RunUpdatePass(const PassSettings& s) {
    // Each pass starts from its own file: a program version-info file without "SITE" and "SUBDIR"
    // downloads from the configured server, never from where the DB pass pointed.
    m_strSite.Empty();
    m_strSubDir.Empty();

    const CString temp = GetUpdateTempFolder();
    if (temp.IsEmpty()) return FALSE;  // nowhere to download to
    // The folder is fresh, and goes with everything the pass put in it when the pass ends, however it ends.
    const CRunFolder::RemovedAtScopeEnd removeFolder{m_runFolder};
    std::string local;
    if (!core::JoinPath(temp.str(), s.localName.str(), local)) return FALSE;

    {
        CRegistryKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, ProductKeyPath(), KEY_ALL_ACCESS) != ERROR_SUCCESS) {
            if (s.productKeyRequired) return FALSE;
        } else if (m_strInstallPath.IsEmpty()) {
            // Settled once per run: a value written while the run goes on never moves it.
            CString installPath;
            if (QueryTextValue(key, "InstallPath", kInstallPathChars, installPath)) m_strInstallPath = installPath;
        }
    }
    SettleInstallFolder();
    if (m_strInstallPath.IsEmpty()) return FALSE;  // no folder to put anything in

    ShowText(IDC_STATIC_STATUS, s.statusDownloadingInfo);
    if (!DownloadFile(FALSE, 1, s.versionInfoHost, s.versionInfoObject, "", local, core::kMaxVersionInfoBytes)) {
        return FALSE;
    }
    CUpdateFileArray list;
    if (!ReadVersionInfo(local, &list)) return FALSE;
    ::DeleteFileW(Wide(local).c_str());

    if (list.empty()) {
        ShowText(IDC_STATIC_STATUS, s.statusCurrent);
        return TRUE;
    }
    if (m_strSite.IsEmpty()) m_strSite = s.defaultSite;
    if (m_strSubDir.IsEmpty()) m_strSubDir = s.defaultSubDir;
    ShowText(IDC_STATIC_STATUS, s.statusDownloadingFiles);

    const long count = static_cast<long>(list.size());
    SendProgress(m_progTotal, PBM_SETRANGE32, 0, count);
    SendProgress(m_progTotal, PBM_SETPOS, 0, 0);
    SendProgress(m_progFile, PBM_SETPOS, 0, 0);
    for (long i = 1; i <= count; ++i) {
        UPDATE_FILE_INFO& record = list[static_cast<std::size_t>(i - 1)];
        CString object;
        object.Format("%s/%s", m_strSubDir.GetString(), record.szFileName.GetString());
        std::string tempFile;
        if (!core::JoinPath(temp.str(), record.szFileName.str(), tempFile)) break;
        CString line;
        line.Format(s.fileLineFormat, record.szFileName.GetString());
        ShowText(IDC_STATIC_FILE, line);
        CString counter;
        counter.Format("%ld/%ld", i, count);
        ShowText(IDC_STATIC_COUNT, counter);
        if (!DownloadFile(TRUE, 1, m_strSite, object, "", tempFile, 0, record.bHasDigest ? &record.digest : nullptr)) {
            break;  // the rest is not attempted
        }
        record.bFetched = true;
        SendProgress(m_progTotal, PBM_SETPOS, static_cast<WPARAM>(i), 0);
        if (!m_stop.Pause(kFileStepPauseMs)) break;
    }
    if (m_stop.Raised()) return FALSE;  // closing: nothing is placed any more

    PlaceDownloadedFiles(&list, temp, s.rule);
    RegisterPlacedFiles(&list);
    RecordFileVersions(&list);
    return TRUE;
}

void CUpdaterDlg::SendProgress(CLabeledProgressCtrl& bar, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!m_stop.Raised() && bar.m_hWnd) bar.SendMessage(msg, wParam, lParam);
}
