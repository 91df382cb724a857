#include "host/process_shutdown.h"

#include <windows.h>
#include <tlhelp32.h>

#include "core/platform.h"
#include "framework/handles.h"
#include "framework/win_text.h"

int TerminateProcessByPath(const char* path, bool nineXFamily) {
    const std::string target = core::ProcessMatchTarget(path, nineXFamily);
    const ScopedSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!::Process32FirstW(snapshot.get(), &entry)) return 0;
    do {
        ScopedHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
        if (!process) continue;  // other users' and system processes
        if (!core::ProcessNameMatches(target, Narrow(entry.szExeFile))) continue;
        DWORD code = 0;
        ::GetExitCodeProcess(process.get(), &code);
        return ::TerminateProcess(process.get(), code) ? 1 : 0;
    } while (::Process32NextW(snapshot.get(), &entry));
    return 1;
}
