#include "host/install_dir.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <aclapi.h>
#include <sddl.h>

#include "core/platform.h"
#include "core/product.h"
#include "framework/handles.h"
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

bool AdministratorsOnlySecurity(ScopedLocalMemory& descriptor) {
    PSECURITY_DESCRIPTOR made = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &made,
                                                               nullptr)) {
        descriptor.reset(made);
        return true;
    }
    return ::GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;
}

bool EnsureAdministratorsOnlyFolder(const CString& path) {
    ScopedLocalMemory descriptor;
    if (!AdministratorsOnlySecurity(descriptor)) return false;
    const std::wstring wide = Wide(path.str());
    SECURITY_ATTRIBUTES access{sizeof access, descriptor.get(), FALSE};
    if (::CreateDirectoryW(wide.c_str(), descriptor ? &access : nullptr)) return true;
    // A folder of that name only: no file, no link to elsewhere.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return false;
    }
    if (!descriptor) return true;
    // Made by someone else, perhaps with other access: it gets this one, or is not used.
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    return ::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) && present &&
           ::SetNamedSecurityInfoW(const_cast<wchar_t*>(wide.c_str()), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                   nullptr) == ERROR_SUCCESS;
}
