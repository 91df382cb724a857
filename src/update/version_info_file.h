#pragma once
#include <functional>
#include <string>

#include "framework/cstring.h"
#include "update/run_events.h"

// Version-info files are written in code page 949.
constexpr unsigned kVersionInfoCodePage = 949;

// The whole file as it was served; otherwise why not: it is missing, cannot be opened or read, is empty,
// or exceeds the bounds of a version-info file (size, number of file entries).
VersionInfoProblem ReadVersionInfoBytes(const CString& path, std::string& bytes);

// Hands each line of the text (without its CR LF, as UTF-8) to onLine; a line whose bytes are no code
// page 949 text is skipped.
void ForEachVersionInfoLine(const std::string& bytes, const std::function<void(const CString&)>& onLine);

// Whether an entry must be fetched, and why: never for a name that is not acceptable (a bare file name
// that is no product value) or whose installed path cannot be formed; otherwise when the installed copy
// is missing, or its recorded version (under the product key) is absent or differs in length or in
// anything but letter case. An empty installPath is first filled from "InstallPath".
EntryVerdict CheckEntry(CString& installPath, const CString& name, const CString& version);

// The install folder, or its "gdb" or "adb" folder for a name with that extension.
CString EntryFolder(const CString& installPath, const CString& name);

// Where an entry lives once installed: the install folder, or its "gdb" or "adb" folder by extension.
// FALSE when the path would be too long to form.
bool InstalledPath(const CString& installPath, const CString& name, CString& path);
