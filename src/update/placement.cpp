#include "update/placement.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "core/platform.h"
#include "framework/handles.h"
#include "framework/win_text.h"
#include "host/install_dir.h"
#include "host/registry_key.h"
#include "update/version_info_file.h"

namespace {

void CreateFolderWhenMissing(const CString& path) {
    const std::wstring wide = Wide(path);
    if (!::PathFileExistsW(wide.c_str())) ::CreateDirectoryW(wide.c_str(), nullptr);
}

}  // namespace

CString UpdateTempFolder() {
    const CString temp = WindowsFolder() + "\\Temp";
    CreateFolderWhenMissing(temp);
    return temp;
}

void SettleInstallFolderPath(CString& installPath) {
    if (!installPath.IsEmpty() && ::PathIsDirectoryW(Wide(installPath).c_str())) return;
    installPath.Empty();
    std::string level;
    if (!core::JoinPath(ProgramFilesFolder(nullptr).str(), kMakerWord, level)) return;
    CreateFolderWhenMissing(level);
    if (!core::JoinPath(level, kProductWord, level)) return;
    CreateFolderWhenMissing(level);
    installPath = CString(level);
}

bool PlacementDestination(PlacementRule rule, const CString& installPath, const CString& name, CString& destination) {
    const CString folder = rule == PlacementRule::ByExtension ? EntryFolder(installPath, name) : installPath;
    if (folder != installPath && !::PathIsDirectoryW(Wide(folder).c_str())) ::CreateDirectoryW(Wide(folder).c_str(), nullptr);
    std::string joined;
    if (!core::JoinPath(folder.str(), name.str(), joined)) return false;
    destination = CString(joined);
    return true;
}

bool ReplaceWithDownloaded(const CString& source, const CString& destination) {
    const std::wstring from = Wide(source), to = Wide(destination);
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    if (::GetLastError() != ERROR_NOT_SAME_DEVICE) return false;
    // Another volume: bring the whole file next to the destination first, then swap it in by renaming.
    const std::wstring staged = to + L".~new";
    if (!::CopyFileW(from.c_str(), staged.c_str(), FALSE)) {
        ::DeleteFileW(staged.c_str());
        return false;
    }
    if (!::MoveFileExW(staged.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(staged.c_str());
        return false;
    }
    ::DeleteFileW(from.c_str());
    return true;
}

CTempCopies::~CTempCopies() {
    for (const std::string& path : m_paths) ::DeleteFileW(Wide(path).c_str());
}

void CTempCopies::Add(const std::string& path) { m_paths.push_back(path); }

void StartRegistration(const CString& systemFolder, const CString& path) {
    // The path is quoted: paths under Program Files hold blanks.
    CString command;
    command.Format("\"%s\\regsvr32.exe\" -s \"%s\"", systemFolder.GetString(), path.GetString());
    std::wstring line = Wide(command);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
}

void OpenWithShell(const CString& path) {
    ::ShellExecuteW(nullptr, L"open", Wide(path).c_str(), nullptr, nullptr, SW_SHOW);
}
