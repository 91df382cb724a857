#include "host/shell_entries.h"

#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "core/product.h"
#include "framework/file.h"
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
    m_bytes.Reset();
    m_readerFile.Reset();
    m_reader.Reset();
    m_stream.Reset();
    m_link.Reset();
    if (SUCCEEDED(m_com)) ::CoUninitialize();
}

void CShortcutWriter::Prepare() {
    if (m_made != S_FALSE) return;
    m_made = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, m_link.Receive());
    if (SUCCEEDED(m_made)) m_made = m_link->QueryInterface(IID_IPersistStream, m_stream.Receive());
    if (SUCCEEDED(m_made)) {
        m_made = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, m_reader.Receive());
    }
    if (SUCCEEDED(m_made)) m_made = m_reader->QueryInterface(IID_IPersistFile, m_readerFile.Receive());
    if (SUCCEEDED(m_made)) m_made = ::CreateStreamOnHGlobal(nullptr, TRUE, reinterpret_cast<IStream**>(m_bytes.Receive()));
}

namespace {

// Everything a link tells the shell to do, in the shell's own reading: its target, arguments, folder,
// description, icon, hot key, window and flags ("run as administrator" among them). What it caches of its
// target (times the file system changes by reading it) is no part of it.
std::wstring WhatTheLinkSays(IShellLinkW& link) {
    wchar_t text[4][MAX_PATH + 1] = {};
    int icon = 0;
    WORD hotkey = 0;
    int show = 0;
    DWORD flags = 0;
    link.GetPath(text[0], MAX_PATH, nullptr, SLGP_RAWPATH);
    link.GetArguments(text[1], MAX_PATH);
    link.GetWorkingDirectory(text[2], MAX_PATH);
    link.GetIconLocation(text[3], MAX_PATH, &icon);
    wchar_t description[INFOTIPSIZE + 1] = {};
    link.GetDescription(description, INFOTIPSIZE);
    link.GetHotkey(&hotkey);
    link.GetShowCmd(&show);
    CComPtr<IShellLinkDataList> data;
    if (SUCCEEDED(link.QueryInterface(IID_IShellLinkDataList, data.Receive()))) data->GetFlags(&flags);
    std::wstring says;
    for (const wchar_t* t : {static_cast<const wchar_t*>(text[0]), static_cast<const wchar_t*>(text[1]), static_cast<const wchar_t*>(text[2]),
                             static_cast<const wchar_t*>(text[3]), static_cast<const wchar_t*>(description)}) {
        says += t + std::wstring(1, L'\n');
    }
    return says + std::to_wstring(icon) + L' ' + std::to_wstring(hotkey) + L' ' + std::to_wstring(show) + L' ' + std::to_wstring(flags);
}

}  // namespace

long CShortcutWriter::Save(const CString& linkPath, const CString& target) {
    Prepare();
    if (FAILED(m_made)) return m_made;
    const std::wstring path = Wide(linkPath);
    HRESULT hr = m_link->SetPath(Wide(target).c_str());
    if (FAILED(hr)) return hr;
    // A link there already that says just this is left as it is.
    if (SUCCEEDED(m_readerFile->Load(path.c_str(), STGM_READ)) &&
        WhatTheLinkSays(*m_reader.Get()) == WhatTheLinkSays(*m_link.Get())) {
        return S_FALSE;
    }
    // The link's bytes as the shell makes them (its own format, by its own code), written as the shell
    // would write them (the shell's own save starts more than it writes under some systems: Wine's starts
    // its menu builder for every link), and the shell told.
    const ULARGE_INTEGER none{};
    const LARGE_INTEGER start{};
    hr = m_bytes->SetSize(none);
    if (SUCCEEDED(hr)) hr = m_bytes->Seek(start, STREAM_SEEK_SET, nullptr);
    if (SUCCEEDED(hr)) hr = m_stream->Save(m_bytes.Get(), TRUE);
    HGLOBAL memory = nullptr;
    if (SUCCEEDED(hr)) hr = ::GetHGlobalFromStream(m_bytes.Get(), &memory);
    STATSTG size{};
    if (SUCCEEDED(hr)) hr = m_bytes->Stat(&size, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    const ScopedFile out = CreateAnew(path, GENERIC_WRITE, 0);
    const DWORD bytes = static_cast<DWORD>(size.cbSize.QuadPart);
    DWORD written = 0;
    const bool wrote = out && ::WriteFile(out.get(), ::GlobalLock(memory), bytes, &written, nullptr) && written == bytes;
    const DWORD error = ::GetLastError();
    ::GlobalUnlock(memory);
    if (!wrote) return HRESULT_FROM_WIN32(error ? error : ERROR_WRITE_FAULT);
    ::SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, path.c_str(), nullptr);
    return S_OK;
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
