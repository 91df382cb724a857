#include "host/shell_entries.h"

#include <objbase.h>
#include <shlobj.h>

#include "core/product.h"
#include "framework/com_ptr.h"
#include "framework/win_text.h"
#include "host/install_dir.h"
#include "host/registry_key.h"

CString ShellFolderPath(int csidl) {
    LPITEMIDLIST items = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, csidl, &items)) || !items) return CString();
    wchar_t path[MAX_PATH] = {};
    const BOOL ok = ::SHGetPathFromIDListW(items, path);
    CComPtr<IMalloc> allocator;
    if (SUCCEEDED(::SHGetMalloc(reinterpret_cast<IMalloc**>(allocator.Receive())))) allocator->Free(items);
    return ok ? CString(Narrow(path)) : CString();
}

ShellFolders ResolveShellFolders(bool nineXFamily, const FolderLookup& lookup) {
    ShellFolders f;
    if (!nineXFamily) {
        f.programs = lookup(CSIDL_COMMON_PROGRAMS);
        f.desktop = lookup(CSIDL_COMMON_DESKTOPDIRECTORY);
        return f;
    }
    f.programs = lookup(CSIDL_PROGRAMS);
    f.desktop = lookup(CSIDL_DESKTOPDIRECTORY);
    if (f.programs.IsEmpty()) f.programs = WindowsFolder() + "\\시작 메뉴\\프로그램";
    if (f.desktop.IsEmpty()) f.desktop = WindowsFolder() + "\\바탕 화면";
    return f;
}

void SaveShortcut(const CString& linkPath, const CString& target) {
    CComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.Receive()))) {
        return;
    }
    link->SetPath(Wide(target).c_str());
    CComPtr<IPersistFile> file;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.Receive()))) file->Save(Wide(linkPath).c_str(), TRUE);
}

CString UninstallCommand(const CString& installPath) {
    const CString path = installPath + "\\" + product::kUninstaller;
    return path.Find(' ') >= 0 ? CString("\"") + path + "\"" : path;
}

void WriteUninstallEntry(const CString& installPath) {
    CRegistryKey list;
    if (list.Open(HKEY_LOCAL_MACHINE, product::kUninstallListPath, KEY_ALL_ACCESS) != ERROR_SUCCESS) return;  // never created
    list.SetKeyValue(product::kUninstallEntry, "Marrowtide 삭제", "DisplayName");
    list.SetKeyValue(product::kUninstallEntry, UninstallCommand(installPath), "UninstallString");
    list.Close();
}
