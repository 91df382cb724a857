#pragma once
#include <windows.h>

#include "framework/cstring.h"
#include "framework/handles.h"

// The Windows folder and the system folder, as the system gives them.
CString WindowsFolder();
CString SystemFolder();

// The Program Files folder from the shell; when it gives nothing, the Windows folder's drive and
// "\Program Files".
CString ProgramFilesFolder();

// The folder Marrowtide inside Program Files: created when missing (one level), made the process's
// current folder and written to the product key as "InstallPath". Returns the folder.
CString PrepareInstallDir();

// The security of a folder only the Administrators group and SYSTEM may use, passed on to everything made in
// it and inheriting nothing. false when it cannot be made; true with none on a system without security (the
// 9x family, Wine reporting it too), where there is no protection to give.
bool AdministratorsOnlySecurity(ScopedLocalMemory& descriptor);

// A folder with that security: created so, or, when a folder is there already, given it anew. false when it
// can be neither (nothing may then be kept in it).
bool EnsureAdministratorsOnlyFolder(const CString& path);
