// The update run on the worker thread: its order of steps, its downloads, its shell entries.
#include "update/update_run.h"

#include <objbase.h>

#include "build_config.h"
#include "core/kept_parts.h"
#include "core/platform.h"
#include "core/product.h"
#include "framework/com_ptr.h"
#include "framework/win_text.h"
#include "host/os_type.h"
#include "host/process_shutdown.h"
#include "host/registry_key.h"
#include "host/shell_entries.h"
#include "net/download.h"

namespace {

constexpr DWORD kStopPauseMs = 500;

std::shared_ptr<IRunEvents> NobodyListens() {
    static const auto nobody = std::make_shared<IRunEvents>();
    return nobody;
}

CString RegisteredInstallPath() {
    CString path;
    ReadProductValue(product::kInstallPathValue, kInstallPathChars, path);  // empty when it cannot be read
    return path;
}

ShellFolders ProductShellFolders() { return ResolveShellFolders(core::IsNineXFamily(GetOSType()), &ShellFolderPath); }

}  // namespace

CString BuiltInServerHost() { return UPDATER_SERVER_HOST; }

CString BuiltInBaseUrl() {
    CString url;
    url.Format("http://%s/%s/", UPDATER_SERVER_HOST, product::kServerPath);
    return url;
}

CUpdateRun::CUpdateRun(std::shared_ptr<IRunEvents> events) : m_events(events ? std::move(events) : NobodyListens()) {}

void CUpdateRun::Stop() {
    if (!m_stop.Raised() && !m_ended) m_events->StopAsked();
    m_stop.Raise();
}

RunOutcome CUpdateRun::Run() {
    CString installPath;
    if (ReadProductValue(product::kInstallPathValue, kInstallPathChars, installPath) && !installPath.IsEmpty()) {
        m_strInstallPath = installPath;
    }
    m_events->RunStarted(m_strInstallPath);
    StopProductProcesses(m_strInstallPath);
    // A run cut while it placed files left the product on two releases: the one before it comes back first;
    // so do releases whose health windows were cut short once too often.
    if (!m_stop.Raised()) m_previous.Started(m_strInstallPath);
    RunOutcome outcome = RunOutcome::Stopped;
    // The shell's objects belong to this thread: they go as the run ends, however it ends.
    struct ShellObjectsGo {
        CUpdateRun& run;
        ~ShellObjectsGo() { run.m_shortcuts.reset(); }
    } const shellObjectsGo{*this};
    if (!m_stop.Raised()) {
        outcome = RunOutcome::Failed;
        const bool db = UpdateDBFiles();
        // A DB release whose every copy that arrived is signed by a key this build does not carry is a key roll
        // it missed: the program pass still runs, as it may bring the updater that carries the key (the run has
        // failed all the same).
        const bool missedKeyRoll = !db && m_refusals.onlyForKey();
        if (missedKeyRoll && !m_stop.Raised()) m_events->MissedKeyRoll();
        if ((db || missedKeyRoll) && !m_stop.Raised() && UpdateProgramFiles() && db && !m_stop.Raised()) {
            CreateShellEntries();
            outcome = RunOutcome::Updated;
        }
        if (m_stop.Raised()) outcome = RunOutcome::Stopped;
    }
    // A stop between a pass's first replacement and its last record leaves the journal for the next start.
    if (!m_placing) m_previous.PlacementsDone(m_strInstallPath, UPDATER_HEALTH_WINDOW_S > 0);
    m_ended = true;
    m_events->RunEnded(outcome);
    return outcome;
}

void CUpdateRun::StopProductProcesses(CString strInstallDir) {
    const bool nineX = core::IsNineXFamily(GetOSType());
    for (const char* program : product::kStoppedPrograms) {
        if (m_stop.Raised()) return;  // a close before an attempt ends nothing more
        std::string path;
        // A path too long to form is never cut short (it would name another program): the attempt is skipped.
        if (core::JoinPath(strInstallDir.str(), program, path) && TerminateProcessByPath(path.c_str(), nineX) != 1) {
            m_events->ProgramNotEnded(CString(path));
        }
        // The shell's slow start (its folders, COM, the link class) is made ready in the first pause, on
        // this thread, which writes the links at the run's end: the pause lasts no longer for it.
        const DWORD pausedAt = ::GetTickCount();
        if (program == product::kStoppedPrograms[0]) {
            ShellFoldersOnce();
            Shortcuts().Prepare();
        }
        const DWORD spent = ::GetTickCount() - pausedAt;
        if (!m_stop.Pause(spent < kStopPauseMs ? kStopPauseMs - spent : 0)) return;
    }
}

BOOL CUpdateRun::DownloadFile(BOOL bShowProgress, int nVerb, CString strServer, CString strObject, CString strOptional,
                              CString strLocalFile, const DownloadChecks& checks) {
    DownloadRequest request;
    request.showProgress = bShowProgress != FALSE;
    request.verb = nVerb;
    request.server = strServer.str();
    request.object = strObject.str();
    request.optional = strOptional.str();
    return m_downloads.Run(request, strLocalFile.str(), checks, core::Turn{}, OwnFilesFolder()).outcome.ok;
}

void CUpdateRun::CreateShellEntries() {
    CreateStartMenuShortcuts();
    CreateDesktopShortcut();
    if (m_stop.Raised()) return;
    m_events->UninstallEntryWritten(static_cast<RunError>(WriteUninstallEntry(RegisteredInstallPath())));
}

void CUpdateRun::CreateStartMenuShortcuts() {
    const CString group = ShellFoldersOnce().programs + "\\" + product::kProductWord;
    ::CreateDirectoryW(Wide(group).c_str(), nullptr);  // it may exist already; if it cannot be made, each link says so
    CreateShortcut(group + "\\Marrowtide 실행.lnk", product::kMainProgram);
    CreateShortcut(group + "\\Marrowtide 실시간.lnk", product::kMonitorProgram);
    CreateShortcut(group + "\\Marrowtide 삭제.lnk", product::kUninstaller);
}

void CUpdateRun::CreateDesktopShortcut() { CreateMainProgramLink(ShellFoldersOnce().desktop + "\\Marrowtide.Lnk"); }

const ShellFolders& CUpdateRun::ShellFoldersOnce() {
    if (!m_shellFolders) m_shellFolders = ProductShellFolders();
    return *m_shellFolders;
}

CShortcutWriter& CUpdateRun::Shortcuts() {
    if (!m_shortcuts) m_shortcuts = std::make_unique<CShortcutWriter>();
    return *m_shortcuts;
}

void CUpdateRun::CreateShortcut(CString strLinkPath, CString strTarget) {
    if (m_stop.Raised()) return;  // each link may take the shell a while: a stop is answered between them
    m_events->ShortcutWritten(strLinkPath, static_cast<RunError>(Shortcuts().Save(strLinkPath, m_strInstallPath + "\\" + strTarget)));
}

void CUpdateRun::CreateMainProgramLink(CString strLinkPath) {
    if (m_stop.Raised()) return;
    m_events->ShortcutWritten(strLinkPath,
                             static_cast<RunError>(Shortcuts().Save(strLinkPath, RegisteredInstallPath() + "\\" + product::kMainProgram)));
}
