#pragma once
// The dialog's banner, drawn for each scale the program ships (100, 125, 150, 200 and 300 %) and kept
// compressed among its resources: the picture for a DPI is the largest drawn at or below its scale, never
// a stretched one.
#include <windows.h>

#include "framework/handles.h"

// The banner for dpi (96 at 100 %), as a device-independent bitmap, from module's resources (none: the
// program's); none when it cannot be had.
ScopedBitmap LoadBanner(unsigned dpi, HMODULE module = nullptr);

// Sent to a top-level window moved to a monitor of another DPI (Windows 8.1 and later): wParam's low word
// the new DPI, lParam the suggested window rectangle. (Named here: the build targets Windows XP's headers.)
constexpr UINT kWmDpiChanged = 0x02E0;

// The DPI a window is shown at: its monitor's where the system tells it per window (Windows 10), else the
// system's.
unsigned WindowDpi(HWND hwnd);
