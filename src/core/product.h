#pragma once
// The product's facts, in one place for the program and its tests: where it lives in the registry and on
// disk, what its files and programs are called, where its version-info files are served. UTF-8.

// Each fact as UTF-8 (kName) and as the wide text the Win32 calls of the tests take (kNameW).
#define PRODUCT_FACT(name, text)                 \
    inline constexpr char name[] = text;         \
    inline constexpr wchar_t name##W[] = L"" text;

namespace product {

// The product key is "SOFTWARE\<maker>\<product>" under HKEY_LOCAL_MACHINE; the install folder is named
// after the product, inside Program Files (and inside "<maker>" when the recorded one is gone).
PRODUCT_FACT(kMakerWord, "Yelvan")
PRODUCT_FACT(kProductWord, "Marrowtide")
PRODUCT_FACT(kProductKeyPath, "SOFTWARE\\Yelvan\\Marrowtide")

// Values the product key holds for itself; every other value is the recorded version of a file.
PRODUCT_FACT(kInstallPathValue, "InstallPath")
PRODUCT_FACT(kUpdateFlagValue, "Update_Flag")
PRODUCT_FACT(kUpdateFlagDone, "YES")
// The sub-key keeping the serial of the last accepted signed release, one value per version-info file.
PRODUCT_FACT(kReleasesSubKey, "Releases")

// The system's uninstall list and the product's entry in it.
PRODUCT_FACT(kUninstallListPath, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall")
PRODUCT_FACT(kUninstallEntry, "Marrowtide UnInstall")

// The product's programs. The updater ends the first four before a run and restarts the monitor after it.
PRODUCT_FACT(kMainProgram, "Marrowtide.exe")
PRODUCT_FACT(kScannerProgram, "Tessvane.exe")
PRODUCT_FACT(kScheduleProgram, "Quillmere.exe")
PRODUCT_FACT(kMonitorProgram, "MarRtime.exe")
PRODUCT_FACT(kUninstaller, "MarwDel.exe")
inline constexpr const char* kStoppedPrograms[] = {kMainProgram, kScannerProgram, kScheduleProgram, kMonitorProgram};

// Database files by extension go into these folders of the install folder.
PRODUCT_FACT(kGdbFolder, "gdb")
PRODUCT_FACT(kAdbFolder, "adb")

// The version-info files and where they are served: the DB file always from the built-in host, the
// program file from the server path of the built-in base URL.
PRODUCT_FACT(kDbVersionFile, "DBUpdate.ver")
PRODUCT_FACT(kDbFolderOnServer, "update/db/")
PRODUCT_FACT(kProgramVersionFile, "MarrowtideWeb.ver")
PRODUCT_FACT(kServerPath, "marrowtide")

// The install statistics report.
PRODUCT_FACT(kPartnerCode, "R000046")
PRODUCT_FACT(kStatsAgent, "Darodoro")
PRODUCT_FACT(kStatsObject, "/member/stats.asp")
// A release taken back on this machine (its health check failed), told to the statistics host.
PRODUCT_FACT(kHealthObject, "/member/health.asp")

// The updater's own names: its log in the install folder, and the prefix of each pass's download folder
// inside the Windows temp folder.
PRODUCT_FACT(kLogFileName, "BrinsoUpdator.log")
PRODUCT_FACT(kRunFolderPrefix, "BrinsoUpdator.{")
// A block map as the updater fetched it, in the pass's folder of its own files (beside the listed files'
// folder, so that no listed name can be a path of the updater's own).
PRODUCT_FACT(kFetchedMapName, "blocks.map")
// What failed downloads kept to resume from: a folder of the install folder, one folder in it per pass.
PRODUCT_FACT(kKeptPartsFolder, "BrinsoUpdator.parts")
PRODUCT_FACT(kDbPartsFolder, "db")
PRODUCT_FACT(kProgramPartsFolder, "program")
// The previous copies of what the last run replaced (one generation), and that run's journal while it places.
PRODUCT_FACT(kPreviousFolder, "BrinsoUpdator.previous")
PRODUCT_FACT(kJournalName, "journal")
// After a version-info file's name under "Releases": the serial of its release taken back here.
PRODUCT_FACT(kTakenBackSuffix, ".taken-back")

}  // namespace product

#undef PRODUCT_FACT
