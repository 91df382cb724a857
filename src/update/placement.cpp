#include "update/placement.h"

#include <shellapi.h>
#include <shlwapi.h>
#include <objbase.h>

#include <vector>

#include "core/platform.h"
#include "core/product.h"
#include "framework/file.h"
#include "framework/com_ptr.h"
#include "framework/detached_call.h"
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

void SettleInstallFolder(CString& installPath) {
    if (!installPath.IsEmpty() && ::PathIsDirectoryW(Wide(installPath).c_str())) return;
    installPath.Empty();
    std::string level;
    if (!core::JoinPath(ProgramFilesFolder().str(), product::kMakerWord, level)) return;
    CreateFolderWhenMissing(level);
    if (!core::JoinPath(level, product::kProductWord, level)) return;
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

namespace {

constexpr DWORD kCopyChunk = 256 * 1024;

DWORD LastErrorOr(DWORD fallback) {
    const DWORD e = ::GetLastError();
    return e != ERROR_SUCCESS ? e : fallback;
}

// from into a new file at to, in chunks, stopping when stop is raised; the data is on disk when it returns
// ERROR_SUCCESS.
DWORD CopyInChunks(const std::wstring& from, const std::wstring& to, const CStopSignal& stop) {
    const ScopedFile in = OpenToRead(from, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!in) return LastErrorOr(ERROR_OPEN_FAILED);
    const ScopedFile out = CreateAnew(to, GENERIC_WRITE, 0);
    if (!out) return LastErrorOr(ERROR_OPEN_FAILED);
    std::vector<char> buffer(kCopyChunk);  // one buffer per file
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(in.get(), buffer.data(), kCopyChunk, &read, nullptr)) return LastErrorOr(ERROR_READ_FAULT);
        if (read == 0) break;
        DWORD written = 0;
        if (!::WriteFile(out.get(), buffer.data(), read, &written, nullptr)) return LastErrorOr(ERROR_WRITE_FAULT);
        if (written != read) return ERROR_DISK_FULL;
        if (stop.Raised()) return ERROR_CANCELLED;
    }
    return ::FlushFileBuffers(out.get()) ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT);
}

}  // namespace

namespace {

// The staged copy into the destination's name. The running program's file is renamed aside first (the one
// move Windows allows on a running image) and given its name back should the copy not take it.
DWORD PutInPlace(const std::wstring& staged, const std::wstring& to, bool runningProgram) {
    if (!runningProgram) {
        return ::MoveFileExW(staged.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                   ? ERROR_SUCCESS
                   : LastErrorOr(ERROR_ACCESS_DENIED);
    }
    const std::wstring aside = Wide(SetAsidePath(CString(Narrow(to))));
    ::DeleteFileW(aside.c_str());  // one an earlier update set aside and nothing could remove yet
    if (!::MoveFileExW(to.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) return LastErrorOr(ERROR_ACCESS_DENIED);
    if (::MoveFileExW(staged.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return ERROR_SUCCESS;
    const DWORD error = LastErrorOr(ERROR_ACCESS_DENIED);
    ::MoveFileExW(aside.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
    return error;
}

// The volume and file index of the file at path: the same file whatever the path's letter case, short
// names or links. False when it cannot be opened.
bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
    const ScopedFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && ::GetFileInformationByHandle(file.get(), &info);
}

std::wstring RunningProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) return path.substr(0, n);
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
}

}  // namespace

DWORD ReplaceWithDownloaded(const CString& source, const CString& destination, const CStopSignal& stop, bool runningProgram) {
    const std::wstring from = Wide(source), to = Wide(destination);
    const std::wstring staged = to + L".~new";
    DWORD error = CopyInChunks(from, staged, stop);
    if (error == ERROR_SUCCESS) error = PutInPlace(staged, to, runningProgram);
    if (error != ERROR_SUCCESS) {
        ::DeleteFileW(staged.c_str());
        return error;
    }
    ::DeleteFileW(from.c_str());
    return ERROR_SUCCESS;
}

bool IsRunningProgram(const CString& path) {
    BY_HANDLE_FILE_INFORMATION running{}, other{};
    return FileIdentity(RunningProgramPath(), running) && FileIdentity(Wide(path), other) &&
           running.dwVolumeSerialNumber == other.dwVolumeSerialNumber && running.nFileIndexHigh == other.nFileIndexHigh &&
           running.nFileIndexLow == other.nFileIndexLow;
}

CString SetAsidePath(const CString& programPath) { return programPath + ".~old"; }

DWORD RemoveSetAsideProgram(CString& path, bool& atReboot) {
    atReboot = false;
    const std::wstring program = RunningProgramPath();
    if (program.empty()) return ERROR_FILE_NOT_FOUND;
    path = SetAsidePath(CString(Narrow(program)));
    const std::wstring aside = Wide(path);
    if (::GetFileAttributesW(aside.c_str()) == INVALID_FILE_ATTRIBUTES) return ERROR_FILE_NOT_FOUND;
    if (::DeleteFileW(aside.c_str())) return ERROR_SUCCESS;
    const DWORD error = LastErrorOr(ERROR_ACCESS_DENIED);
    // Still held (the program it was is ending): gone at the next reboot instead.
    atReboot = ::MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    return atReboot ? ERROR_SUCCESS : error;
}

namespace {

// A run folder opened as its run holds it while it lasts: without delete sharing, so that no other start
// takes it for the folder of an ended run.
HANDLE HoldFolder(const std::wstring& folder) {
    return ::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Folders of earlier runs, with what they hold: a run that was ended (or whose machine lost power) before
// it could remove its folder leaves its downloads there. A folder a run still holds stays; a link under
// such a name is never followed.
void RemoveEndedRunFolders(const std::wstring& parent) {
    WIN32_FIND_DATAW found;
    const ScopedFind h(::FindFirstFileW((parent + L"\\" + Wide(product::kRunFolderPrefix) + L"*").c_str(), &found));
    if (!h) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::wstring folder = parent + L"\\" + found.cFileName;
        {
            const ScopedFile probe(::CreateFileW(folder.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (!probe) continue;  // held by a run that goes on
        }
        DeleteFilesIn(folder);
        ::RemoveDirectoryW(folder.c_str());
    } while (::FindNextFileW(h.get(), &found));
}

}  // namespace

void DeleteFilesIn(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    if (const ScopedFind h{::FindFirstFileW((folder + L"\\*").c_str(), &found)}) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ::DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        } while (::FindNextFileW(h.get(), &found));
    }
}

const CString& CRunFolder::Get(const CString& parent, bool removeEnded) {
    if (!m_path.IsEmpty()) return m_path;  // made once: every later call of the pass costs nothing
    if (removeEnded) RemoveEndedRunFolders(Wide(parent));
    // Administrators and the system alone, for the folder and everything made in it: between a download's
    // digest check and its placement, no other account can create, change or replace a file there (the
    // Windows temp folder lets every user create files). There is no folder without that protection where
    // the system has security.
    ScopedLocalMemory descriptor;
    if (!AdministratorsOnlySecurity(descriptor)) return m_path;
    SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
    // 128 random bits from the system's generator, as a GUID is made.
    for (int attempt = 0; m_path.IsEmpty() && attempt < 4; ++attempt) {
        GUID id{};
        if (FAILED(::CoCreateGuid(&id))) break;
        wchar_t text[40] = {};
        ::StringFromGUID2(id, text, 40);
        const CString path = parent + "\\" + CString(product::kRunFolderPrefix) + CString(Narrow(text + 1));
        // Fails when anything (file, folder, link) is there already: then another name is drawn.
        if (!::CreateDirectoryW(Wide(path).c_str(), descriptor ? &security : nullptr)) continue;
        m_held.reset(HoldFolder(Wide(path)));
        if (m_held) m_path = path;
    }
    return m_path;
}

void CRunFolder::Remove() {
    if (m_path.IsEmpty()) return;
    const std::wstring folder = Wide(m_path);
    DeleteFilesIn(folder);
    m_held.reset();
    if (::RemoveDirectoryW(folder.c_str())) {
        m_path.Empty();
    } else {
        m_held.reset(HoldFolder(folder));  // something in it still open: held again for a later try
    }
}

DWORD StartRegistration(const CString& systemFolder, const CString& path) {
    // The path is quoted: paths under Program Files hold blanks.
    CString command;
    command.Format("\"%s\\regsvr32.exe\" -s \"%s\"", systemFolder.GetString(), path.GetString());
    std::wstring line = Wide(command);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return LastErrorOr(ERROR_FILE_NOT_FOUND);
    }
    const ScopedHandle process(pi.hProcess), thread(pi.hThread);  // not waited for
    return ERROR_SUCCESS;
}

DWORD OpenWithShell(const CString& path, const CStopSignal& stop, std::shared_ptr<IRunEvents> events) {
    const std::wstring file = Wide(path);
    return RunDetached<DWORD>(
        [file, events] {
            return TellingFaults(*events, "open", DWORD{ERROR_CANCELLED}, [&] {
                // The shell wants COM on the calling thread for some handlers.
                const CComInitialization com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
                SHELLEXECUTEINFOW info{};
                info.cbSize = sizeof info;
                info.fMask = SEE_MASK_FLAG_NO_UI;
                info.lpVerb = L"open";
                info.lpFile = file.c_str();
                info.nShow = SW_SHOW;
                return ::ShellExecuteExW(&info) ? DWORD{ERROR_SUCCESS} : LastErrorOr(ERROR_NO_ASSOCIATION);
            });
        },
        stop, DWORD{ERROR_CANCELLED});
}
