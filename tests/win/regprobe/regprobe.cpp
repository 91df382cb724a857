// A DLL that records each DllRegisterServer call in "<own path>.log", for registration tests.
#include <windows.h>

#include <cstdio>

namespace {
HMODULE g_module = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = module;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(g_module, self, MAX_PATH);
    wchar_t log[MAX_PATH + 8] = {};
    swprintf(log, MAX_PATH + 8, L"%ls.log", self);
    HANDLE f = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
        char line[64];
        const int n = snprintf(line, sizeof line, "registered %lu\r\n", GetCurrentProcessId());
        DWORD written = 0;
        WriteFile(f, line, static_cast<DWORD>(n), &written, nullptr);
        CloseHandle(f);
    }
    return S_OK;
}
