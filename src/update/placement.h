#pragma once
// File-system and process steps of placing downloaded files.
#include <windows.h>

#include <memory>

#include "framework/cstring.h"
#include "framework/handles.h"
#include "framework/stop_signal.h"
#include "update/run_events.h"

// The pause after each file placed, looked at for registration, or recorded (and after each download).
constexpr DWORD kFileStepPauseMs = 10;

// Where a pass puts its files.
enum class PlacementRule {
    ByExtension,    // DB pass: ".gdb" into "gdb", ".adb" into "adb", others into the install folder
    InstallFolder,  // program pass: every file into the install folder
};

// The Windows folder's "Temp" folder, created when missing.
CString UpdateTempFolder();

// A download folder of the pass's own inside the temp folder, under a name nobody can guess ahead, made
// fresh (never one that was already there, so nothing another user put in the temp folder is read,
// replaced or followed); removed, with whatever was left in it, when the pass ends and when the object
// goes. Empty when none could be made.
// The run holds its folder open while it lasts; the next start removes, with what they hold, the folders
// of runs that ended before they could (the process was ended, the power failed) before it makes its own.
class CRunFolder {
public:
    CRunFolder() = default;
    ~CRunFolder() { Remove(); }
    CRunFolder(const CRunFolder&) = delete;
    CRunFolder& operator=(const CRunFolder&) = delete;
    // The folder, made inside parent on first use; first, with removeEnded, the folders of ended runs go.
    const CString& Get(const CString& parent, bool removeEnded = true);
    // Deletes what is in the folder and the folder; the folder stays known while something in it is
    // still held open, so that a later call can try again.
    void Remove();

    // Remove() as a scope ends.
    struct RemovedAtScopeEnd {
        CRunFolder& folder;
        ~RemovedAtScopeEnd() { folder.Remove(); }
    };

private:
    CString m_path;
    ScopedFile m_held;  // the folder, held without delete sharing while the run uses it
};

// Deletes the files directly in folder (not its folders).
void DeleteFilesIn(const std::wstring& folder);

// An install folder that names no existing folder becomes Program Files\Yelvan\Marrowtide, created
// level by level (the registry is not changed).
void SettleInstallFolder(CString& installPath);

// The destination of name under rule; the "gdb" or "adb" folder is created when missing. FALSE when
// the path would be too long to form.
bool PlacementDestination(PlacementRule rule, const CString& installPath, const CString& name, CString& destination);

// Puts source in place of destination so that the destination is always either the old file or the
// whole new one: a copy is made next to the destination ("name.~new"), then renamed over it, and the
// source is deleted. The copy is a new file of the install folder, so it takes that folder's inherited
// permissions (a file moved from the temp folder would keep the temp folder's). The copy stops when
// stop is raised. ERROR_SUCCESS when placed; otherwise the error of the step that failed (old file
// untouched, no copy left), ERROR_CANCELLED for a stop.
// runningProgram: the destination is the running program's own file, which Windows lets be renamed but not
// replaced or deleted: it is moved aside within its folder ("name.~old") and the copy takes its name; should
// that fail, the old file gets its name back. The set-aside copy is deleted by the next start.
DWORD ReplaceWithDownloaded(const CString& source, const CString& destination, const CStopSignal& stop,
                            bool runningProgram = false);

// Whether path names the file this program runs from (the same file, however the path spells it).
bool IsRunningProgram(const CString& path);
// Where the running program's file goes when a newer one takes its place.
CString SetAsidePath(const CString& programPath);
// At start: deletes the copy of this program an update set aside, or, where the system will not let it go yet,
// has it deleted at the next reboot (atReboot). ERROR_FILE_NOT_FOUND when there is none; path receives its path.
DWORD RemoveSetAsideProgram(CString& path, bool& atReboot);

// regsvr32 -s "path" from the system folder, hidden, not waited for. ERROR_SUCCESS when it started.
DWORD StartRegistration(const CString& systemFolder, const CString& path);
// The shell's "open" on path, shown normally, not waited for. The shell itself can take long (it waits
// for the started program to become idle): the call runs on a thread of its own, and a stop ends the
// wait for it at once (ERROR_CANCELLED). Whatever the call throws is told to events. ERROR_SUCCESS when
// the shell opened it, otherwise its error (ERROR_NO_ASSOCIATION for a type nothing opens); no dialog
// of the shell's is shown.
DWORD OpenWithShell(const CString& path, const CStopSignal& stop, std::shared_ptr<IRunEvents> events);
