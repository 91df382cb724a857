#pragma once
// The product's Start-menu group, desktop link and uninstall entry.
#include <objbase.h>
#include <shlobj.h>

#include <functional>
#include <string>

#include "framework/com_ptr.h"
#include "framework/cstring.h"

// A special folder's path by its CSIDL; empty when the shell gives none.
using FolderLookup = std::function<CString(int csidl)>;
CString ShellFolderPath(int csidl);

struct ShellFolders {
    CString programs;  // the Start menu's Programs folder
    CString desktop;
};
// All users' folders on the NT family (an empty lookup is used as it is); the current user's on the 9x
// family, with the Windows folder's Korean folder names when the lookup gives nothing.
ShellFolders ResolveShellFolders(bool nineXFamily, const FolderLookup& lookup);

// Shell links, written with one shell link object: the shell's slow start (COM, the link class) is made
// once, and may be made ahead of the links. Made, used and destroyed on one thread, which it initialises
// for COM for its lifetime.
class CShortcutWriter {
public:
    CShortcutWriter();
    ~CShortcutWriter();
    CShortcutWriter(const CShortcutWriter&) = delete;
    CShortcutWriter& operator=(const CShortcutWriter&) = delete;

    // The link object, made now (the slow part); a later Save makes it when this was never called.
    void Prepare();
    // One link at linkPath to target (only the target is set): S_OK written, S_FALSE there already saying
    // just that (left untouched), or what failed.
    long Save(const CString& linkPath, const CString& target);

private:
    long m_com;  // of the thread's COM initialisation
    long m_made = 1;  // S_FALSE: not made yet; else how making it went
    CComPtr<IShellLinkW> m_link;  // only ever given a target: each link it makes says nothing else
    CComPtr<IPersistStream> m_stream;
    CComPtr<IShellLinkW> m_reader;  // the link there already
    CComPtr<IPersistFile> m_readerFile;
    CComPtr<IStream> m_bytes;  // a link's bytes, made anew for each
};

// "Marrowtide UnInstall" in the system's uninstall list, only when that list exists: ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND when it does not (nothing is written), or what failed.
long WriteUninstallEntry(const CString& installPath);
// The uninstaller's command: quoted when the path holds a blank, so the system cannot take a shorter
// path ("C:\Program.exe") for it.
CString UninstallCommand(const CString& installPath);
