// Stands in for one of the product's programs (or a registered file's program): records each start in
// "<own path>.log" with its process id and command line, then stays running for twenty seconds.
#include <windows.h>

#include <cstdio>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t log[MAX_PATH + 8] = {};
    swprintf(log, MAX_PATH + 8, L"%ls.log", self);
    HANDLE f = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
        char line[512];
        const int n = snprintf(line, sizeof line, "started %lu %ls\r\n", GetCurrentProcessId(), GetCommandLineW());
        DWORD written = 0;
        WriteFile(f, line, static_cast<DWORD>(n), &written, nullptr);
        CloseHandle(f);
    }
    Sleep(20000);
    return 0;
}
