#include "host/shell_entries.h"

#include <objbase.h>
#include <shlobj.h>

#include "core/product.h"
#include "framework/com_ptr.h"
#include "framework/handles.h"
#include "framework/win_text.h"
#include "host/install_dir.h"
#include "host/registry_key.h"

namespace {
// An item list the shell allocated for the caller, freed with the shell's allocator (as on every system
// back to Windows 95).
struct ItemListTraits {
    using handle_type = LPITEMIDLIST;
    static handle_type invalid() noexcept { return nullptr; }
    static void close(handle_type items) noexcept {
        CComPtr<IMalloc> allocator;
        if (SUCCEEDED(::SHGetMalloc(reinterpret_cast<IMalloc**>(allocator.Receive())))) allocator->Free(items);
    }
};
}  // namespace

CString ShellFolderPath(int csidl) {
    LPITEMIDLIST found = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, csidl, &found))) return CString();
    const UniqueHandle<ItemListTraits> items(found);
    wchar_t path[MAX_PATH] = {};
    return items && ::SHGetPathFromIDListW(items.get(), path) ? CString(Narrow(path)) : CString();
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

CShortcutWriter::CShortcutWriter() : m_com(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}

CShortcutWriter::~CShortcutWriter() {
    m_file.Reset();
    m_link.Reset();
    if (SUCCEEDED(m_com)) ::CoUninitialize();
}

void CShortcutWriter::Prepare() {
    if (m_made != S_FALSE) return;
    m_made = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, m_link.Receive());
    if (SUCCEEDED(m_made)) m_made = m_link->QueryInterface(IID_IPersistFile, m_file.Receive());
}

long CShortcutWriter::Save(const CString& linkPath, const CString& target) {
    Prepare();
    if (FAILED(m_made)) return m_made;
    const HRESULT hr = m_link->SetPath(Wide(target).c_str());
    return FAILED(hr) ? hr : m_file->Save(Wide(linkPath).c_str(), TRUE);
}

CString UninstallCommand(const CString& installPath) {
    const CString path = installPath + "\\" + product::kUninstaller;
    return path.Find(' ') >= 0 ? CString("\"") + path + "\"" : path;
}

long WriteUninstallEntry(const CString& installPath) {
    CRegistryKey list;
    const LONG opened = list.Open(HKEY_LOCAL_MACHINE, product::kUninstallListPath, KEY_ALL_ACCESS);
    if (opened != ERROR_SUCCESS) return opened;  // never created: ERROR_FILE_NOT_FOUND
    const LONG named = list.SetKeyValue(product::kUninstallEntry, "Marrowtide 삭제", "DisplayName");
    const LONG command = list.SetKeyValue(product::kUninstallEntry, UninstallCommand(installPath), "UninstallString");
    return named != ERROR_SUCCESS ? named : command;
}
