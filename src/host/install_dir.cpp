#include "host/install_dir.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "core/platform.h"
#include "core/product.h"
#include "framework/win_text.h"
#include "host/registry_key.h"

CString WindowsFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetWindowsDirectoryW(path, MAX_PATH);
    return CString(Narrow(path));
}

CString SystemFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetSystemDirectoryW(path, MAX_PATH);
    return CString(Narrow(path));
}

CString ProgramFilesFolder() {
    wchar_t path[MAX_PATH] = {};
    if (::SHGetSpecialFolderPathW(nullptr, path, CSIDL_PROGRAM_FILES, FALSE) && path[0]) return CString(Narrow(path));
    return WindowsFolder().Left(2) + "\\Program Files";
}

CString PrepareInstallDir() {
    std::string folder;
    if (!core::JoinPath(ProgramFilesFolder().str(), product::kProductWord, folder)) return CString();
    const std::wstring wide = Wide(folder);
    if (!::PathFileExistsW(wide.c_str())) ::CreateDirectoryW(wide.c_str(), nullptr);
    ::SetCurrentDirectoryW(wide.c_str());
    WriteProductValue(product::kInstallPathValue, folder.c_str());
    return CString(folder);
}
