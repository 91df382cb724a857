#pragma once
// The update dialog: the program's only window. It owns the update run, shows it through its view, keeps
// its log, and starts and ends the worker that runs it.
#include <memory>

#include "app/HealthCheck.h"
#include "app/RunView.h"
#include "update/run_log.h"
#include "update/update_run.h"
#include "controls/Accessible.h"
#include "controls/Banner.h"
#include "controls/LabeledProgressCtrl.h"
#include "controls/XPButton.h"
#include "framework/dialog.h"
#include "framework/handles.h"

enum : UINT { WM_UPDATE_START = 9924, WM_UPDATE_DONE = 9926 };

class CUpdaterDlg : public CDialog {
public:
    explicit CUpdaterDlg(CWnd* parent = nullptr);

    BOOL PreTranslateMessage(MSG* msg) override;

    // The statistics report touches nothing of the dialog: it goes out on a thread of its own and may
    // outlive it.
    void StartInstallStats();
    // As the dialog goes: the statistics report and a stopped download get a moment to end, never more
    // (the process then ends without them); then the run's download folder goes.
    void FinishLeftWork();
    void WaitForLeftWork();
    static constexpr DWORD kLeftWorkGraceMs = 500;

    // After the dialog is gone, with no window shown: the releases the run placed are watched on the monitor
    // it started, for the build's health window, and kept or taken back; the reports of releases taken back
    // go out, waited for a moment at most.
    void CheckHealth();
    static constexpr DWORD kHealthReportGraceMs = 3000;

    // The worker thread's entry: the run, and the dialog's end when it did not stop.
    static DWORD WINAPI UpdateThreadProc(LPVOID param);

    // How the worker ended when the dialog closed: on its own, or terminated after its grace time.
    enum class WorkerEnd { NotStarted, Returned, Terminated };
    WorkerEnd m_nWorkerEnd = WorkerEnd::NotStarted;

    CString m_strInstallDir;    // fixed at dialog start: the folder Marrowtide inside Program Files
    ScopedHandle m_hThread;     // the worker; empty when none
    CAccessibleStatic m_stStatus, m_stFile, m_stCount;
    CXPButton m_btnStop;
    CLabeledProgressCtrl m_progTotal;
    CLabeledProgressCtrl m_progFile;
    CString m_strStatus;
    HICON m_hIcon = nullptr;
    unsigned m_dpi = 96;     // what the dialog is drawn for: its monitor's DPI
    ScopedBitmap m_banner;   // the banner the banner control shows (it outlives the window)

    // Who hears of the run: the dialog's own view and the log in the install folder.
    const std::shared_ptr<CDialogRunView> m_view = std::make_shared<CDialogRunView>();
    const std::shared_ptr<CRunLog> m_log = std::make_shared<CRunLog>();
    CUpdateRun m_run{std::make_shared<CRunEventsTee>(std::vector<std::shared_ptr<IRunEvents>>{m_view, m_log})};

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // The self-drawn parts and the banner for dpi.
    void ApplyDpi(unsigned dpi);
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT nCtlColor) override;
    void OnDestroy() override;

    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void OnSysCommand(UINT id);
    bool OnPaint();
    void OnLButtonDown();
    LRESULT OnUpdateStart();
    // Stops the worker: true when it ended (or never started) within its grace time.
    bool StopWorker();
    // The dialog's last duty, however the run went: the product's flag and its monitor.
    void RestoreProduct();
    // After the worker was terminated: the process ends here and now, as whatever the worker held stays held.
    void EndAfterTerminate();

    ScopedHandle m_hStats;  // the thread sending the install statistics report
    MonitorStart m_monitor;  // as the close started it
};
