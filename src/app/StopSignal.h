#pragma once
// Tells the worker that the dialog is closing. Every pause of the run waits on it, so a closing dialog
// ends the pause at once and the worker returns on its own.
#include <windows.h>

#include "framework/handles.h"

class CStopSignal {
public:
    CStopSignal() : m_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    void Raise() const { ::SetEvent(m_event.get()); }
    bool Raised() const { return ::WaitForSingleObject(m_event.get(), 0) == WAIT_OBJECT_0; }
    // Sleeps ms; false when the signal came first (the caller then stops what it is doing).
    bool Pause(DWORD ms) const { return ::WaitForSingleObject(m_event.get(), ms) == WAIT_TIMEOUT; }

private:
    ScopedHandle m_event;
};
