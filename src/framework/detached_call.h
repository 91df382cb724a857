#pragma once
// Runs a blocking call on a thread of its own and waits for it, or for a stop signal, whichever comes
// first. On a stop the caller goes on at once and the call is left to finish by itself: it owns
// everything it uses, so nothing it holds is ever taken from it. Used for network calls, which the
// platform gives no way to interrupt.
#include <windows.h>

#include <functional>
#include <memory>

#include "framework/handles.h"
#include "framework/stop_signal.h"

namespace detail {
template <typename Job>
DWORD WINAPI DetachedThreadProc(LPVOID p) {
    std::unique_ptr<std::shared_ptr<Job>> own(static_cast<std::shared_ptr<Job>*>(p));
    try {
        (*own)->result = (*own)->call();
    } catch (...) {
        (*own)->result = {};  // a call that throws has failed; it never takes the process down
    }
    ::SetEvent((*own)->done.get());
    return 0;
}
inline DWORD WINAPI StartedThreadProc(LPVOID p) {
    std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(p));
    try {
        (*job)();
    } catch (...) {
        // nothing of it may take the process down
    }
    return 0;
}
}  // namespace detail

// Starts call on a thread of its own and does not wait for it: the thread owns the call and everything it
// holds. The returned handle (empty when no thread could be made, and then the call is not made) lets the
// starter wait for it, or not.
inline ScopedHandle StartDetached(std::function<void()> call) {
    auto* own = new std::function<void()>(std::move(call));
    ScopedHandle thread(::CreateThread(nullptr, 0, &detail::StartedThreadProc, own, 0, nullptr));
    if (!thread) delete own;
    return thread;
}

// leftRunning, when given, receives the thread of a call that a stop (or its look) left running, so that its
// starter can give it a moment to finish before the process ends. look, when given, watches the call from
// here: asked at once and then each time the wait it set has passed, it either sets how long to wait before it
// is asked again and returns false, or sets the result and returns true to give the call up.
template <typename R>
R RunDetached(std::function<R()> call, const CStopSignal& stop, R valueWhenStopped, ScopedHandle* leftRunning = nullptr,
              const std::function<bool(R& result, DWORD& waitMs)>& look = nullptr) {
    struct Job {
        std::function<R()> call;
        R result{};
        ScopedHandle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    };
    auto job = std::make_shared<Job>();
    job->call = std::move(call);
    auto* keep = new std::shared_ptr<Job>(job);  // the thread's own reference
    ScopedHandle thread(::CreateThread(nullptr, 0, &detail::DetachedThreadProc<Job>, keep, 0, nullptr));
    if (!thread) {
        delete keep;
        return job->call();  // no thread to spare: run it here
    }
    const HANDLE waits[] = {job->done.get(), stop.handle()};
    R givenUp{};
    DWORD waitMs = INFINITE;
    bool giveUp = look && look(givenUp, waitMs);
    while (!giveUp) {
        const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, waitMs);
        if (woke == WAIT_OBJECT_0) return job->result;
        if (woke != WAIT_TIMEOUT) break;
        giveUp = look(givenUp, waitMs);
    }
    if (leftRunning) *leftRunning = std::move(thread);
    return giveUp ? givenUp : valueWhenStopped;
}
