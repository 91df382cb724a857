#pragma once
// What a control of the dialog tells assistive technology (MSAA, which UI Automation bridges): its role,
// name and value as it reads on screen. The rest of the object (location, state, focus, parent,
// navigation) is the system's standard object for the window. Windows' oleacc proxies give the system's
// own controls these facts, but not a self-drawn button or a progress bar that paints itself, and Wine's
// give none: each control answers WM_GETOBJECT itself.
#include <windows.h>

#include <string>

#include "core/control_layout.h"
#include "framework/wnd.h"

struct AccessibleFacts {
    long role = 0;             // ROLE_SYSTEM_...
    std::wstring name;
    bool hasValue = false;
    std::wstring value;
    bool pressable = false;    // its default action presses it (a button)
};

// Sent to the control each time a client reads a fact, so that it reads as the control stands now:
// lParam points to the AccessibleFacts to fill in.
enum : UINT { WM_ACCESSIBLEFACTS = WM_USER + 200 };

// The answer to WM_GETOBJECT for the client object of hwnd; 0 (the default processing) for any other object,
// or where the platform has no oleacc.
LRESULT AnswerGetObject(HWND hwnd, WPARAM wParam, LPARAM lParam);

// A control's part of MSAA: WM_GETOBJECT answered, WM_ACCESSIBLEFACTS filled in by fill(AccessibleFacts&).
// true with result when msg was one of them and answered; false for the control's own processing.
template <typename Fill>
bool AccessibleMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, Fill fill, LRESULT& result) {
    if (msg == WM_GETOBJECT) return (result = AnswerGetObject(hwnd, wParam, lParam)) != 0;
    if (msg != WM_ACCESSIBLEFACTS) return false;
    fill(*reinterpret_cast<AccessibleFacts*>(lParam));
    result = TRUE;
    return true;
}

// The window's text as it reads on screen.
std::wstring WindowTextOf(HWND hwnd);

// A static text that reads as one: its role static text, its name its text.
class CAccessibleStatic : public CStatic {
protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
};

// Whether a high-contrast theme is on: the self-drawn parts then use the system's colours alone.
bool HighContrastOn();
core::SystemColours CurrentSystemColours();
