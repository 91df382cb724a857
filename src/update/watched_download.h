#pragma once
// One download of the run, on a thread of its own that the run's thread watches: it keeps its floor and its
// time even while the platform waits inside it, and a stop ends the wait at once. A download given up runs on
// until the platform lets it, and then drops what it made: each attempt at a whole object writes a file of
// its own, which becomes the local file only once whole and right, so one left running touches nothing of a
// later attempt.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/fetch_plan.h"
#include "core/http.h"
#include "framework/handles.h"
#include "framework/stop_signal.h"
#include "net/download.h"
#include "update/run_events.h"

// Hands a download's progress on to the run's listeners (a stopped download tells nothing more), and keeps
// how far it has come for the run's thread, which watches it. Owns its listeners: a download left to end
// by itself may outlive the run.
class CDownloadProgressRelay : public IDownloadProgress {
public:
    // Made as its download starts: the floor counts from now.
    explicit CDownloadProgressRelay(std::shared_ptr<IRunEvents> events)
        : m_events(std::move(events)), m_dueMs(::GetTickCount() + kSlowServerMs) {}
    void BodyStarted() override { m_events->DownloadBodyStarted(); }
    void Received(int percent) override { m_events->DownloadProgress(percent); }
    void Moved(std::uint64_t bytes, DWORD dueMs) override {
        m_bytes = bytes;
        m_dueMs = dueMs;
    }
    std::uint64_t Bytes() const { return m_bytes; }
    DWORD DueMs() const { return m_dueMs; }

private:
    std::shared_ptr<IRunEvents> m_events;
    std::atomic<std::uint64_t> m_bytes{0};
    std::atomic<DWORD> m_dueMs;
};

// What a download must be beyond a whole "200 OK" body.
struct DownloadChecks {
    ULONGLONG nMaxBytes = 0;                      // more bytes (after decoding) fail it; 0: no bound
    const core::Sha256Digest* pDigest = nullptr;  // the SHA-256 it must have
    const std::uint64_t* pSize = nullptr;         // its exact length
    DWORD nWholeWithinMs = 0;                     // it must be whole this soon; 0: no bound
    bool bFresh = false;                          // from the server itself, never from a cache
    CString keptParts;                            // with a digest and a size: the folder where what arrived of a
                                                  // failed attempt is kept to resume from; empty: nothing is kept
    std::vector<core::ByteRange> ranges;          // only these ranges of the object (its size in pSize), written
                                                  // into the local file where they belong
};

class CWatchedDownloads {
public:
    CWatchedDownloads(std::shared_ptr<IRunEvents> events, const CStopSignal& stop) : m_events(std::move(events)), m_stop(stop) {}
    CWatchedDownloads(const CWatchedDownloads&) = delete;
    CWatchedDownloads& operator=(const CWatchedDownloads&) = delete;

    struct Fetched {
        core::DownloadOutcome outcome;
        core::NextAttempt next = core::NextAttempt::None;  // what follows it (told with its end)
    };
    // One download of request (its verb, body, server and object) into localFile, with checks: told as it
    // starts and as it ends. ownFolder: where a whole object's attempt writes its own file (empty: into
    // localFile itself). turn: where it stands among its file's attempts.
    Fetched Run(DownloadRequest request, const std::string& localFile, const DownloadChecks& checks, const core::Turn& turn,
                const CString& ownFolder);
    // A download given up earlier may still be running (and writing the kept part it resumed).
    bool GivenUpRunning();
    // The threads of given-up downloads still running, for the process to give them a moment at its end. Read
    // only once the run's thread ended.
    std::vector<HANDLE> GivenUpThreads();

private:
    std::shared_ptr<IRunEvents> m_events;
    const CStopSignal& m_stop;
    std::vector<ScopedHandle> m_givenUp;  // those still running when last looked at
    unsigned m_attempts = 0;              // of whole objects, each into a file of its own
};
