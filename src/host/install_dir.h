#pragma once
#include <windows.h>

#include "framework/cstring.h"

// The Windows folder and the system folder, as the system gives them.
CString WindowsFolder();
CString SystemFolder();

// The Program Files folder from the shell; when it gives nothing, the Windows folder's drive and
// "\Program Files".
CString ProgramFilesFolder();

// The folder Marrowtide inside Program Files: created when missing (one level), made the process's
// current folder and written to the product key as "InstallPath". Returns the folder.
CString PrepareInstallDir();
