#pragma once
// Tells the work in progress that it should stop. Every pause of the update run waits on it, so a
// closing dialog ends the pause at once. Copies share one signal: work that outlives its starter
// (a download left to finish on its own) keeps the signal alive.
#include <windows.h>

#include <memory>

#include "framework/handles.h"

class CStopSignal {
public:
    CStopSignal() : m_event(std::make_shared<ScopedHandle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}
    void Raise() const { ::SetEvent(handle()); }
    bool Raised() const { return ::WaitForSingleObject(handle(), 0) == WAIT_OBJECT_0; }
    // Sleeps ms; false when the signal came first (the caller then stops what it is doing).
    bool Pause(DWORD ms) const { return ::WaitForSingleObject(handle(), ms) == WAIT_TIMEOUT; }
    HANDLE handle() const { return m_event->get(); }

private:
    std::shared_ptr<ScopedHandle> m_event;
};

// Repeated pauses of one length whose total never falls short of count x length, and does not grow
// by the system timer's rounding either: each pause sleeps what the schedule still owes.
class CSteadyPause {
public:
    explicit CSteadyPause(DWORD ms) : m_ms(ms) { ::QueryPerformanceFrequency(&m_freq); }
    // false when stop came first.
    bool Pause(const CStopSignal& stop) {
        m_owedMs += static_cast<double>(m_ms);
        if (m_owedMs <= 0.0) return !stop.Raised();
        LARGE_INTEGER t0, t1;
        ::QueryPerformanceCounter(&t0);
        const DWORD wait = static_cast<DWORD>(m_owedMs) + 1;  // rounded up: never short of the schedule
        if (!stop.Pause(wait)) return false;
        ::QueryPerformanceCounter(&t1);
        m_owedMs -= static_cast<double>(t1.QuadPart - t0.QuadPart) * 1000.0 / static_cast<double>(m_freq.QuadPart);
        return true;
    }

private:
    DWORD m_ms;
    double m_owedMs = 0.0;  // negative: slept ahead of the schedule
    LARGE_INTEGER m_freq{};
};
