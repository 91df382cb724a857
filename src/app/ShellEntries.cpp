// The update dialog's last step of a successful run: shortcuts and the uninstall entry.
#include <objbase.h>

#include "app/UpdaterDlg.h"
#include "framework/win_text.h"
#include "host/os_type.h"
#include "host/registry_key.h"
#include "host/shell_entries.h"

namespace {

CString RegisteredInstallPath() {
    CString path;
    ReadProductValue("InstallPath", kInstallPathChars, path);  // empty when it cannot be read
    return path;
}

ShellFolders ProductShellFolders() { return ResolveShellFolders(core::IsNineXFamily(GetOSType()), &ShellFolderPath); }

}  // namespace

void CUpdaterDlg::CreateShellEntries() {
    ::CoInitialize(nullptr);
    CreateStartMenuShortcuts();
    CreateDesktopShortcut();
    ::CoUninitialize();
    WriteUninstallEntry();
}

void CUpdaterDlg::CreateStartMenuShortcuts() {
    const CString group = ProductShellFolders().programs + "\\Marrowtide";
    ::CreateDirectoryW(Wide(group).c_str(), nullptr);  // it may exist already
    CreateShortcut(group + "\\Marrowtide 실행.lnk", "Marrowtide.exe");
    CreateShortcut(group + "\\Marrowtide 실시간.lnk", "MarRtime.exe");
    CreateShortcut(group + "\\Marrowtide 삭제.lnk", "MarwDel.exe");
}

void CUpdaterDlg::CreateDesktopShortcut() { CreateMainProgramLink(ProductShellFolders().desktop + "\\Marrowtide.Lnk"); }

void CUpdaterDlg::WriteUninstallEntry() { WriteUninstallValues(RegisteredInstallPath()); }

void CUpdaterDlg::CreateShortcut(CString strLinkPath, CString strTarget) {
    SaveShortcut(strLinkPath, m_strInstallPath + "\\" + strTarget);
}

void CUpdaterDlg::CreateMainProgramLink(CString strLinkPath) {
    SaveShortcut(strLinkPath, RegisteredInstallPath() + "\\Marrowtide.exe");
}
