#pragma once
// The update dialog: the program's only window and the owner of all state of one update run.
#include "framework/stop_signal.h"
#include "update/placement.h"
#include "update/update_file.h"
#include "controls/LabeledProgressCtrl.h"
#include "controls/XPButton.h"
#include "framework/dialog.h"
#include "framework/handles.h"

enum : UINT { WM_UPDATE_START = 9924, WM_UPDATE_DONE = 9926 };

class CUpdaterDlg : public CDialog {
public:
    explicit CUpdaterDlg(CWnd* parent = nullptr);

    BOOL PreTranslateMessage(MSG* msg) override;

    // Dialog start: install folder and statistics report.
    void PrepareInstallDir();
    // The statistics report touches nothing of the dialog: it may outlive it on its own thread.
    static CString GetMacAddress();
    static int SendInstallStats(CString strAdapter);
    static int SendHttpRequest(CString strHost, CString strObject, CString strBody);
    // SendInstallStats(GetMacAddress()) on a thread of its own.
    void StartInstallStats();
    // As the dialog goes: the statistics report and a stopped download get a moment to end, never more
    // (the process then ends without them); then the run's download folder goes.
    void FinishLeftWork();
    static constexpr DWORD kLeftWorkGraceMs = 500;

    // The update run, on the worker thread.
    static DWORD WINAPI UpdateThreadProc(LPVOID param);
    void StopProductProcesses(CString strInstallDir);
    int TerminateProcessByPath(const char* pszPath);
    // nMaxBytes: a body larger than this (after decoding) fails the download; 0, no bound. pDigest: the
    // SHA-256 the file must have, or nullptr.
    BOOL DownloadFile(BOOL bShowProgress, int nVerb, CString strServer, CString strObject, CString strOptional,
                      CString strLocalFile, ULONGLONG nMaxBytes = 0, const core::Sha256Digest* pDigest = nullptr);
    BOOL ReadVersionInfo(CString strPath, CUpdateFileArray* pList);
    void ParseVersionInfoLine(CString strLine, CUpdateFileArray* pList);
    BOOL IsUpdateNeeded(CString strFileName, CString strVersion);
    CString GetUpdateTempFolder();
    void SettleInstallFolder();
    void PlaceDownloadedFiles(CUpdateFileArray* pList, CString strTempFolder, PlacementRule rule);
    void RegisterPlacedFiles(CUpdateFileArray* pList);
    void RecordFileVersions(CUpdateFileArray* pList);
    BOOL UpdateDBFiles();
    BOOL UpdateProgramFiles();
    void CreateShellEntries();
    void CreateStartMenuShortcuts();
    void CreateDesktopShortcut();
    void WriteUninstallEntry();
    void CreateShortcut(CString strLinkPath, CString strTarget);
    void CreateMainProgramLink(CString strLinkPath);

    // How the worker ended when the dialog closed: on its own, or terminated after its grace time.
    enum class WorkerEnd { NotStarted, Returned, Terminated };
    WorkerEnd m_nWorkerEnd = WorkerEnd::NotStarted;

    CString m_strInstallDir;    // fixed at dialog start: the folder Marrowtide inside Program Files
    ScopedHandle m_hThread;     // the worker; empty when none
    CString m_strSite;          // download host of the current pass
    CString m_strSubDir;        // download folder of the current pass
    CString m_strInstallPath;   // the product's install folder as the run knows it ("InstallPath")
    CString m_strServerHost;
    CString m_strServerPath;
    CString m_strVersionFile;
    CStatic m_stStatus;
    CXPButton m_btnStop;
    CLabeledProgressCtrl m_progTotal;
    CLabeledProgressCtrl m_progFile;
    CString m_strStatus;
    HICON m_hIcon = nullptr;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT nCtlColor) override;
    void OnDestroy() override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void OnSysCommand(UINT id);
    bool OnPaint();
    void OnLButtonDown();
    // The points in which the DB pass and the program pass differ.
    struct PassSettings {
        CString versionInfoHost;
        CString versionInfoObject;
        CString localName;             // of the version-info file in the temp folder
        bool productKeyRequired = true;  // a product key that cannot be opened ends the pass
        const char* statusDownloadingInfo = "";
        const char* statusCurrent = "";
        const char* statusDownloadingFiles = "";
        const char* fileLineFormat = "%s";
        CString defaultSite;
        CString defaultSubDir;
        PlacementRule rule = PlacementRule::InstallFolder;
    };
    BOOL RunUpdatePass(const PassSettings& settings);
    void SendProgress(CLabeledProgressCtrl& bar, UINT msg, WPARAM wParam, LPARAM lParam);

    // The worker's way to set a control's text: a sent message, skipped once the dialog is closing.
    void ShowText(int id, const CString& text);
    LRESULT OnUpdateStart();
    DWORD RunUpdate();
    void StopWorker();

    CStopSignal m_stop;      // raised when the dialog closes
    CRunFolder m_runFolder;  // the current pass's own download folder inside the temp folder
    ScopedHandle m_hStats;   // the thread sending the install statistics report
    ScopedHandle m_hStoppedDownload;  // a download a stop left to end by itself (it then drops its file)
};
