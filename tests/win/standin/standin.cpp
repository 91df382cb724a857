// Stands in for one of the product's programs (or a registered file's program): records each start in
// "<own path>.log" with its process id and command line, then stays running for twenty seconds; as the
// monitor would, it ends at once with exit code 3 when a database beside it (gdb\*.gdb) begins "bad db".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

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
    wchar_t* slash = wcsrchr(self, L'\\');
    if (slash) slash[1] = L'\0';
    wchar_t pattern[MAX_PATH + 16] = {};
    swprintf(pattern, MAX_PATH + 16, L"%lsgdb\\*.gdb", self);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern, &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
        wchar_t db[2 * MAX_PATH] = {};
        swprintf(db, 2 * MAX_PATH, L"%lsgdb\\%ls", self, found.cFileName);
        char head[6] = {};
        DWORD n = 0;
        HANDLE d = CreateFileW(db, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (d == INVALID_HANDLE_VALUE) continue;
        const bool bad = ReadFile(d, head, sizeof head, &n, nullptr) && n == sizeof head && memcmp(head, "bad db", 6) == 0;
        CloseHandle(d);
        if (bad) {
            FindClose(find);
            Sleep(200);
            return 3;
        }
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    Sleep(20000);
    return 0;
}
