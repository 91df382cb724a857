#include "host/os_type.h"

#include <windows.h>

#include "framework/win_text.h"

int GetOSType() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ::GetVersionExW(&info);
    return core::ClassifyPlatform(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

std::string WindowsVersionText() {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    const auto rtlGetVersion = ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion"))) : nullptr;
    if (!rtlGetVersion || rtlGetVersion(&info) != 0) {
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
    }
    std::string text = "Windows " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) +
                       "." + std::to_string(info.dwBuildNumber);
    if (info.szCSDVersion[0]) text += " " + Narrow(info.szCSDVersion);
    using WineVersionFn = const char*(__cdecl*)();
    const auto wineVersion = ntdll ? reinterpret_cast<WineVersionFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version"))) : nullptr;
    if (wineVersion) text += std::string(" under Wine ") + wineVersion();
    return text;
}
