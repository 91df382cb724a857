#include "host/os_type.h"

#include <windows.h>

int GetOSType() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ::GetVersionExW(&info);
    return core::ClassifyPlatform(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}
