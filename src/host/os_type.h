#pragma once
#include "core/platform.h"

// The platform family this program runs on, from the system's version record (zero-filled before,
// so a record that cannot be read gives Win32s).
int GetOSType();
