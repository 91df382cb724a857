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

// Hands a download's progress on to the run's listeners (a stopped download tells nothing more), and keeps
// how far it has come for the run's thread, which watches it. Owns its listeners: a download left to end
// by itself may outlive the run.
class CDownloadProgressRelay : public IDownloadProgress {
public:
    // Made as its download starts: the floor counts from now.
    explicit CDownloadProgressRelay(std::shared_ptr<IRunEvents> events)
        : m_events(std::move(events)), m_dueMs(::GetTickCount() + core::kFloorWindowMs) {}
    void BodyStarted() override { m_events->DownloadBodyStarted(); }
    void Received(int percent) override { m_events->DownloadProgress(percent); }
    void Moved(std::uint64_t bytes, DWORD dueMs) override {
        m_bytes = bytes;
        m_dueMs = dueMs;
    }
    std::uint64_t Bytes() const { return m_bytes; }
    DWORD DueMs() const { return m_dueMs; }

private:
    std::shared_ptr<IRunEvents> m_events;
    std::atomic<std::uint64_t> m_bytes{0};
    std::atomic<DWORD> m_dueMs;
};

// The update server's host built into the program, and its base URL "http://HOST/marrowtide/".
CString BuiltInServerHost();
CString BuiltInBaseUrl();
// The hosts asked in turn for a version-info file the built-in server fails to deliver, ";"-separated;
// defined by the source the build makes from UPDATER_SERVER_MIRRORS.
const char* BuiltInServerMirrors();

// What a download must be beyond a whole "200 OK" body.
struct DownloadChecks {
    ULONGLONG nMaxBytes = 0;                      // more bytes (after decoding) fail it; 0: no bound
    const core::Sha256Digest* pDigest = nullptr;  // the SHA-256 it must have
    const std::uint64_t* pSize = nullptr;         // its exact length
    DWORD nWholeWithinMs = 0;                     // it must be whole this soon; 0: no bound
    bool bFresh = false;                          // from the server itself, never from a cache
    bool bOtherHostLeft = false;                  // failed, another host may be asked next
    bool bMayAskAgain = false;                    // failed with a wait to keep, this host may be asked again
    CString keptParts;                            // with a digest and a size: the folder where what arrived of a
                                                  // failed attempt is kept to resume from; empty: nothing is kept
    std::vector<core::ByteRange> ranges;          // only these ranges of the object (its size in pSize), written
                                                  // into the local file where they belong
    std::int64_t nWaitLeftS = core::kMaxRetryAfterSeconds;  // of the file's waits for Retry-After, over its hosts
    bool bWholeFileLeft = false;                  // a part of fetching a file by blocks: a failure means the
                                                  // whole file instead
};

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

    void StopProductProcesses(CString strInstallDir);
    BOOL UpdateDBFiles();
    BOOL UpdateProgramFiles();
    // What the download must be beyond a whole "200 OK" body: checks. The outcome is told (DownloadEnded).
    BOOL DownloadFile(BOOL bShowProgress, int nVerb, CString strServer, CString strObject, CString strOptional,
                      CString strLocalFile, const DownloadChecks& checks = {});
    // One download of the object from server into localFile (GET): its outcome, told, and what follows it.
    struct Fetched {
        core::DownloadOutcome outcome;
        core::NextAttempt next = core::NextAttempt::None;
    };
    Fetched Fetch(BOOL bShowProgress, const CString& server, const CString& object, const CString& localFile,
                  const DownloadChecks& checks);
    // From the first of hosts that delivers it whole (served: that host), asking each in turn, same path.
    BOOL DownloadFromHosts(BOOL bShowProgress, const std::vector<CString>& hosts, const CString& object,
                           const CString& localFile, DownloadChecks checks, CString& served);
    // A large file with an older copy installed, by blocks: only what that copy lacks is asked for (see
    // core/block_map.h), the run's copy checked whole. FALSE, with the reason told: fetch it whole.
    BOOL FetchByBlocks(PlacementRule rule, const UPDATE_FILE_INFO& record, const CString& object, const CString& localFile);
    // Its block map from the site, read (bytes: its length); false, with the reason told: the whole file.
    bool FetchBlockMap(const UPDATE_FILE_INFO& record, const CString& object, core::BlockMap& map, std::uint64_t& bytes);
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
    CString m_strVersionInfoObject;  // where the current pass asked for its version-info file
    CRunFolder m_runFolder;     // the current pass's download folder of listed files inside the temp folder
    CRunFolder m_ownFolder;     // and of its own files (the version-info file, a block map), beside it
    CString m_versionInfoHost;  // the host whose version-info file is being read
    bool m_versionInfoHostLeft = false;  // and another host may be asked when it is not used
    ScopedHandle m_hStoppedDownload;  // a download a stop or its watch left to end by itself (it then drops its file)
    unsigned m_attempts = 0;          // downloads of whole objects, each into a file of its own

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
    // DownloadFile and Fetch: request says the verb and the body.
    Fetched Transfer(BOOL bShowProgress, const CString& server, const CString& object, const CString& localFile,
                     const DownloadChecks& checks, DownloadRequest& request);
    PassEnd PassSteps(const PassSettings& settings, unsigned long& error);
    // The pass's version-info file, from the first of its hosts whose file can be used, read into list (Done);
    // served: that host.
    PassEnd FetchVersionInfo(const PassSettings& settings, const CString& local, CUpdateFileArray& list, CString& served);

    std::shared_ptr<IRunEvents> m_events;
    CStopSignal m_stop;
    UpdatePass m_pass = UpdatePass::Db;  // the pass being run, for what is told
    std::atomic<bool> m_ended{false};    // Run has told its end: a later stop is no news
    // The shell's folders and link writer, made once per run (ahead, in a pause) on the run's thread.
    const ShellFolders& ShellFoldersOnce();
    CShortcutWriter& Shortcuts();
    std::optional<ShellFolders> m_shellFolders;
    std::unique_ptr<CShortcutWriter> m_shortcuts;
};
