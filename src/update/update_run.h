#pragma once
// One update run: stop the product's programs, the DB pass, the program pass, the shell entries. It runs
// on the dialog's worker thread and tells what happens through IRunEvents; it knows no window.
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "core/http.h"
#include "core/release.h"
#include "framework/handles.h"
#include "framework/stop_signal.h"
#include "net/download.h"
#include "host/shell_entries.h"
#include "update/placement.h"
#include "update/run_events.h"
#include "update/update_file.h"
#include "update/file_fetch.h"
#include "update/previous_copies.h"

// The update server's host built into the program, and its base URL "http://HOST/marrowtide/".
CString BuiltInServerHost();
CString BuiltInBaseUrl();
// The hosts asked in turn for a version-info file the built-in server fails to deliver, ";"-separated;
// defined by the source the build makes from UPDATER_SERVER_MIRRORS.
const char* BuiltInServerMirrors();

class CUpdateRun {
public:
    // events: who hears of the run; none given, nobody.
    explicit CUpdateRun(std::shared_ptr<IRunEvents> events = nullptr);
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

    // The whole run: Updated when both passes ran and the shell entries were written.
    RunOutcome Run();
    // Asks the run to stop: every pause and wait of it ends at once. From any thread.
    void Stop();
    const CStopSignal& StopSignal() const { return m_stop; }
    IRunEvents& Events() const { return *m_events; }
    // The way back from what the run placed: for the health check as the dialog closes.
    CPreviousCopies& Previous() { return m_previous; }

    void StopProductProcesses(CString strInstallDir);
    BOOL UpdateDBFiles();
    BOOL UpdateProgramFiles();
    // What the download must be beyond a whole "200 OK" body: checks. The outcome is told (DownloadEnded).
    BOOL DownloadFile(BOOL bShowProgress, int nVerb, CString strServer, CString strObject, CString strOptional,
                      CString strLocalFile, const DownloadChecks& checks = {});
    // The run's downloads, and those of them given up that still run.
    CWatchedDownloads& Downloads() { return m_downloads; }
    BOOL ReadVersionInfo(CString strPath, CUpdateFileArray* pList);
    void ParseVersionInfoLine(CString strLine, CUpdateFileArray* pList);
    // Whether the entry must be fetched; the verdict and its reason are told.
    BOOL IsUpdateNeeded(CString strFileName, CString strVersion);
    CString GetUpdateTempFolder();
    CString OwnFilesFolder();  // of the current pass, beside its download folder; empty when it cannot be made
    void PlaceDownloadedFiles(CUpdateFileArray* pList, CString strTempFolder, PlacementRule rule);
    void RegisterPlacedFiles(CUpdateFileArray* pList);
    void RecordFileVersions(CUpdateFileArray* pList);
    void CreateShellEntries();
    void CreateStartMenuShortcuts();
    void CreateDesktopShortcut();
    void CreateShortcut(CString strLinkPath, CString strTarget);
    void CreateMainProgramLink(CString strLinkPath);

    CString m_strServerHost;    // of the program version-info file
    CString m_strServerPath;
    CString m_strVersionFile;
    CString m_strInstallPath;   // the product's install folder as the run knows it ("InstallPath")
    CString m_strSite;          // download host of the current pass
    CString m_strSubDir;        // download folder of the current pass
    std::vector<CString> m_mirrors;  // the current pass's mirrors ("#mirror" lines), in their order
    bool m_byHash = false;           // its listed files lie also at their by-hash names ("#by-hash")
    CString m_strVersionInfoObject;  // where the current pass asked for its version-info file
    CRunFolder m_runFolder;     // the current pass's download folder of listed files inside the temp folder
    CRunFolder m_ownFolder;     // and of its own files (the version-info file, a block map), beside it
    core::JournalRelease m_release;  // the current pass's release: its version-info file and serial
    CString m_versionInfoHost;  // the host whose version-info file is being read
    bool m_versionInfoHostLeft = false;  // and another host may be asked when it is not used

private:
    // The points in which the DB pass and the program pass differ.
    struct PassSettings {
        UpdatePass pass = UpdatePass::Db;
        CString versionInfoHost;
        CString versionInfoObject;
        CString localName;               // of the version-info file in the temp folder
        bool productKeyRequired = true;  // a product key that cannot be opened ends the pass
        CString defaultSubDir;           // without "SUBDIR"
        bool subDirIsAbsolute = false;   // the default is an absolute URL on the host that served the list
        PlacementRule rule = PlacementRule::InstallFolder;
        const char* partsFolder = "";    // of the kept parts folder: the pass's own
    };
    // The pass's folder of kept parts, its files no listed entry wants any more gone; empty when it cannot be
    // had as only administrators may write it.
    CString KeptPartsFolder(const PassSettings& settings, const CUpdateFileArray& list);
    BOOL RunUpdatePass(const PassSettings& settings);
    PassEnd PassSteps(const PassSettings& settings, RunError& error);
    // Up to the version-info file: the folders, the product key, the install folder (Done: go on).
    PassEnd PassStart(const PassSettings& settings, RunError& error);
    // Each listed file of list from its hosts into temp, in order, until one fails; false when stopped.
    bool FetchListedFiles(const PassSettings& settings, const CString& temp, const CString& keptParts, CUpdateFileArray& list);
    // The pass's version-info file, from the first of its hosts whose file can be used, read into list (Done);
    // served: that host.
    PassEnd FetchVersionInfo(const PassSettings& settings, const CString& local, CUpdateFileArray& list, CString& served);
    // A file of the vendor's log ("checkpoint", "tile/...") from the host that served the version-info file.
    bool FetchLogFile(const std::string& inLog, bool fresh, std::string& bytes);
    DWORD m_logDeadline = 0;  // GetTickCount by which the current log check's fetches must have ended
    CFileFetch FileFetch() { return CFileFetch(m_downloads, *m_events, m_stop, OwnFilesFolder()); }

    std::shared_ptr<IRunEvents> m_events;
    CStopSignal m_stop;
    CWatchedDownloads m_downloads{m_events, m_stop};
    CPreviousCopies m_previous{*m_events, m_stop};
    bool m_placing = false;  // a pass is between its first replacement and its last version record
    // The version-info files the current pass refused: for a key the build does not carry, for anything else.
    struct Refusals {
        int forKey = 0, otherwise = 0;
        bool onlyForKey() const { return forKey > 0 && otherwise == 0; }
    } m_refusals;
    UpdatePass m_pass = UpdatePass::Db;  // the pass being run, for what is told
    std::atomic<bool> m_ended{false};    // Run has told its end: a later stop is no news
    // The shell's folders and link writer, made once per run (ahead, in a pause) on the run's thread.
    const ShellFolders& ShellFoldersOnce();
    CShortcutWriter& Shortcuts();
    std::optional<ShellFolders> m_shellFolders;
    std::unique_ptr<CShortcutWriter> m_shortcuts;
};
