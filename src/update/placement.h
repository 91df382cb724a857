#pragma once
// File-system and process steps of placing downloaded files.
#include <windows.h>

#include <string>
#include <vector>

#include "framework/cstring.h"

// The pause after each file placed, looked at for registration, or recorded (and after each download).
constexpr DWORD kFileStepPauseMs = 10;

// Where a pass puts its files.
enum class PlacementRule {
    ByExtension,    // DB pass: ".gdb" into "gdb", ".adb" into "adb", others into the install folder
    InstallFolder,  // program pass: every file into the install folder
};

// The Windows folder's "Temp" folder, created when missing.
CString UpdateTempFolder();

// An install folder that names no existing folder becomes Program Files\Yelvan\Marrowtide, created
// level by level (the registry is not changed).
void SettleInstallFolderPath(CString& installPath);

// The destination of name under rule; the "gdb" or "adb" folder is created when missing. FALSE when
// the path would be too long to form.
bool PlacementDestination(PlacementRule rule, const CString& installPath, const CString& name, CString& destination);

// Moves source over destination so that the destination is always either the old file or the whole
// new one: a replacing rename on one volume; across volumes a copy next to the destination first,
// then the replacing rename. FALSE (old file untouched) when that cannot be done.
bool ReplaceWithDownloaded(const CString& source, const CString& destination);

// Temp copies a pass made, deleted when it ends, by success, failure or stop. A copy a stopped download
// still holds open goes as soon as that download lets go of it.
class CTempCopies {
public:
    CTempCopies() = default;
    ~CTempCopies();
    CTempCopies(const CTempCopies&) = delete;
    CTempCopies& operator=(const CTempCopies&) = delete;
    void Add(const std::string& path);

private:
    std::vector<std::string> m_paths;
};

// regsvr32 -s "path" from the system folder, hidden, not waited for.
void StartRegistration(const CString& systemFolder, const CString& path);
// The shell's "open" on path, shown normally, not waited for.
void OpenWithShell(const CString& path);
