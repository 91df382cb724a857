#pragma once
// The product's Start-menu group, desktop link and uninstall entry.
#include <functional>

#include "framework/cstring.h"

// A special folder's path by its CSIDL; empty when the shell gives none.
using FolderLookup = std::function<CString(int csidl)>;
CString ShellFolderPath(int csidl);

struct ShellFolders {
    CString programs;  // the Start menu's Programs folder
    CString desktop;
};
// All users' folders on the NT family (an empty lookup is used as it is); the current user's on the 9x
// family, with the Windows folder's Korean folder names when the lookup gives nothing.
ShellFolders ResolveShellFolders(bool nineXFamily, const FolderLookup& lookup);

// One shell link at linkPath to target (only the target is set). COM must be initialised. S_OK, or what
// failed.
long SaveShortcut(const CString& linkPath, const CString& target);

// "Marrowtide UnInstall" in the system's uninstall list, only when that list exists: ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND when it does not (nothing is written), or what failed.
long WriteUninstallEntry(const CString& installPath);
// The uninstaller's command: quoted when the path holds a blank, so the system cannot take a shorter
// path ("C:\Program.exe") for it.
CString UninstallCommand(const CString& installPath);
