// The update dialog's placement steps: temp and install folders, moving downloaded files into place,
// registering or opening flagged files, recording versions. Every file is placed before the first is
// registered, and registered before the first version is recorded.
#include <shlwapi.h>

#include "app/UpdaterDlg.h"
#include "framework/win_text.h"
#include "host/install_dir.h"
#include "host/registry_key.h"
#include "res/resource.h"

CString CUpdaterDlg::GetUpdateTempFolder() { return m_runFolder.Get(UpdateTempFolder()); }

void CUpdaterDlg::SettleInstallFolder() { SettleInstallFolderPath(m_strInstallPath); }

void CUpdaterDlg::PlaceDownloadedFiles(CUpdateFileArray* pList, CString strTempFolder, PlacementRule rule) {
    for (UPDATE_FILE_INFO& record : *pList) {
        if (m_stop.Raised()) return;
        // Only a file fetched whole in this run may replace an installed one.
        if (!record.bFetched) continue;
        CString destination;
        if (!PlacementDestination(rule, m_strInstallPath, record.szFileName, destination)) continue;
        CString status;
        status.Format("%s를 업데이트 중입니다", record.szFileName.GetString());
        ShowText(IDC_STATIC_STATUS, status);
        record.bPlaced = ReplaceWithDownloaded(strTempFolder + "\\" + record.szFileName, destination, m_stop);
        if (!m_stop.Pause(kFileStepPauseMs)) return;
    }
}

void CUpdaterDlg::RegisterPlacedFiles(CUpdateFileArray* pList) {
    const CString systemFolder = SystemFolder();
    for (const UPDATE_FILE_INFO& record : *pList) {
        if (m_stop.Raised()) return;
        // Looked for directly in the install folder, in both passes.
        const CString path = m_strInstallPath + "\\" + record.szFileName;
        if (record.bPlaced && ::PathFileExistsW(Wide(path).c_str())) {
            if (record.bRegister) StartRegistration(systemFolder, path);
            if (record.bOpen) OpenWithShell(path, m_stop);
        }
        if (!m_stop.Pause(kFileStepPauseMs)) return;
    }
}

void CUpdaterDlg::RecordFileVersions(CUpdateFileArray* pList) {
    for (const UPDATE_FILE_INFO& record : *pList) {
        if (m_stop.Raised()) break;
        // A version is recorded only for the copy that was put in place.
        if (record.bPlaced) WriteProductValue(record.szFileName, record.szVersion);
        if (!m_stop.Pause(kFileStepPauseMs)) break;
    }
    pList->clear();
}

void CUpdaterDlg::ShowText(int id, const CString& text) {
    if (!m_stop.Raised() && m_hWnd) SetDlgItemTextUtf8(m_hWnd, id, text);
}
