#pragma once
// The product's facts, in one place for the program and its tests: where it lives in the registry and on
// disk, what its files and programs are called, where its version-info files are served. UTF-8.

namespace product {

// The product key is "SOFTWARE\<maker>\<product>" under HKEY_LOCAL_MACHINE; the install folder is named
// after the product, inside Program Files (and inside "<maker>" when the recorded one is gone).
inline constexpr char kMakerWord[] = "Yelvan";
inline constexpr char kProductWord[] = "Marrowtide";
inline constexpr char kProductKeyPath[] = "SOFTWARE\\Yelvan\\Marrowtide";

// Values the product key holds for itself; every other value is the recorded version of a file.
inline constexpr char kInstallPathValue[] = "InstallPath";
inline constexpr char kUpdateFlagValue[] = "Update_Flag";
inline constexpr char kUpdateFlagDone[] = "YES";
// The sub-key keeping the serial of the last accepted signed release, one value per version-info file.
inline constexpr char kReleasesSubKey[] = "Releases";

// The system's uninstall list and the product's entry in it.
inline constexpr char kUninstallListPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr char kUninstallEntry[] = "Marrowtide UnInstall";

// The product's programs. The updater ends the first four before a run and restarts the monitor after it.
inline constexpr char kMainProgram[] = "Marrowtide.exe";
inline constexpr char kScannerProgram[] = "Tessvane.exe";
inline constexpr char kScheduleProgram[] = "Quillmere.exe";
inline constexpr char kMonitorProgram[] = "MarRtime.exe";
inline constexpr char kUninstaller[] = "MarwDel.exe";
inline constexpr const char* kStoppedPrograms[] = {kMainProgram, kScannerProgram, kScheduleProgram, kMonitorProgram};

// Database files by extension go into these folders of the install folder.
inline constexpr char kGdbFolder[] = "gdb";
inline constexpr char kAdbFolder[] = "adb";

// The version-info files and where they are served: the DB file always from the built-in host, the
// program file from the server path of the built-in base URL.
inline constexpr char kDbVersionFile[] = "DBUpdate.ver";
inline constexpr char kDbFolderOnServer[] = "update/db/";
inline constexpr char kProgramVersionFile[] = "MarrowtideWeb.ver";
inline constexpr char kServerPath[] = "marrowtide";

// The install statistics report.
inline constexpr char kPartnerCode[] = "R000046";
inline constexpr char kStatsAgent[] = "Darodoro";
inline constexpr char kStatsObject[] = "/member/stats.asp";

// The updater's own names: its log in the install folder, and the prefix of each pass's download folder
// inside the Windows temp folder.
inline constexpr char kLogFileName[] = "BrinsoUpdator.log";
inline constexpr char kRunFolderPrefix[] = "BrinsoUpdator.{";

}  // namespace product
