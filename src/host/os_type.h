#pragma once
#include <string>

#include "core/platform.h"

// The platform family this program runs on, from the system's version record (zero-filled before,
// so a record that cannot be read gives Win32s).
int GetOSType();

// The Windows version as the system reports it, for the log: "Windows 10.0.19045 (Service Pack ...)",
// with " under Wine X" where the system is Wine. The version the kernel reports, not the one a
// compatibility shim would give the program.
std::string WindowsVersionText();
