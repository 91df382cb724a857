#pragma once
// The run log's lock as a writer holds it that was ended by force inside a write: for good.
#include <windows.h>

#include <mutex>

#include "update/run_log.h"

struct CRunLogLockHolder {
    static std::unique_lock<std::timed_mutex> Take(CRunLog& log) { return std::unique_lock<std::timed_mutex>(log.m_lock); }
};

namespace testing_support {

inline DWORD WINAPI TakeTheLogAndWait(LPVOID log) {
    const auto hold = CRunLogLockHolder::Take(*static_cast<CRunLog*>(log));
    ::Sleep(INFINITE);
    return 0;
}

// Takes log's lock on a thread of its own, which is then terminated holding it.
inline void HoldTheLogForGood(CRunLog& log) {
    const HANDLE holder = ::CreateThread(nullptr, 0, TakeTheLogAndWait, &log, 0, nullptr);
    ::Sleep(200);  // it holds the lock
    ::TerminateThread(holder, 1);
    ::CloseHandle(holder);
}

}  // namespace testing_support
