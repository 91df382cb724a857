#include "update/watched_download.h"

#include <algorithm>

#include "core/http.h"
#include "core/kept_parts.h"
#include "framework/detached_call.h"
#include "framework/win_text.h"

bool CWatchedDownloads::GivenUpRunning() { return !GivenUpThreads().empty(); }

std::vector<HANDLE> CWatchedDownloads::GivenUpThreads() {
    m_givenUp.erase(std::remove_if(m_givenUp.begin(), m_givenUp.end(),
                                   [](const ScopedHandle& h) { return ::WaitForSingleObject(h.get(), 0) != WAIT_TIMEOUT; }),
                    m_givenUp.end());
    std::vector<HANDLE> running;
    for (const ScopedHandle& h : m_givenUp) running.push_back(h.get());
    return running;
}

CWatchedDownloads::Fetched CWatchedDownloads::Run(DownloadRequest request, const std::string& localFile, const DownloadChecks& checks,
                                                  const core::Turn& turn, const CString& ownFolder) {
    request.localFile = localFile;
    request.maxBytes = checks.nMaxBytes;
    request.checkDigest = checks.pDigest != nullptr;
    if (checks.pDigest) request.digest = *checks.pDigest;
    request.checkSize = checks.pSize != nullptr;
    if (checks.pSize) request.size = *checks.pSize;
    request.wholeWithinMs = checks.nWholeWithinMs;
    request.fresh = checks.bFresh;
    request.ranges = checks.ranges;
    // While a given-up download runs, the kept part is not used: it may still be appending to it.
    if (!checks.keptParts.IsEmpty() && checks.pDigest && checks.pSize && !GivenUpRunning()) {
        request.keptPart = checks.keptParts.str() + "\\" + core::KeptPartName(*checks.pDigest);
        request.keptTag = checks.keptParts.str() + "\\" + core::KeptTagName(*checks.pDigest);
    }
    std::string attempt;
    if (request.ranges.empty() && !ownFolder.IsEmpty()) {
        attempt = ownFolder.str() + "\\attempt" + std::to_string(++m_attempts);
        request.localFile = attempt;
    }
    const std::string url = core::DisplayUrl(request.server, request.object);
    m_events->DownloadStarted(url);
    // The thread owns what it uses; one given up is told to stop, and ends when the platform lets it.
    core::DownloadOutcome stopped;
    stopped.failure = core::DownloadFailure::Stopped;
    core::DownloadOutcome failed;
    failed.failure = core::DownloadFailure::NoConnection;
    const std::uint32_t wholeDueMs = ::GetTickCount() + request.wholeWithinMs;
    auto relay = std::make_shared<CDownloadProgressRelay>(m_events);
    const CStopSignal own;
    const std::shared_ptr<IRunEvents> events = m_events;
    const auto look = [&](core::DownloadOutcome& outcome, DWORD& waitMs) {
        std::uint32_t left = 0;
        outcome.failure = core::Overdue(::GetTickCount(), relay->DueMs(), request.wholeWithinMs ? &wholeDueMs : nullptr, left);
        outcome.bytes = relay->Bytes();
        outcome.expected = request.wholeWithinMs;
        outcome.floorWindowMs = kSlowServerMs;
        waitMs = left;
        return outcome.failure != core::DownloadFailure::None;
    };
    ScopedHandle leftRunning;
    core::DownloadOutcome outcome = RunDetached<core::DownloadOutcome>(
        [request, relay, own, events, failed] {
            return TellingFaults(*events, "download", failed, [&] { return Download(request, relay.get(), own); });
        },
        m_stop, stopped, &leftRunning, look);
    own.Raise();  // a download still running was given up
    if (leftRunning) m_givenUp.push_back(std::move(leftRunning));
    if (outcome.ok && !attempt.empty() &&
        !::MoveFileExW(Wide(attempt).c_str(), Wide(localFile).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        outcome.ok = false;
        outcome.failure = core::DownloadFailure::LocalFile;
        outcome.error = ::GetLastError();
        ::DeleteFileW(Wide(attempt).c_str());
    }
    const core::NextAttempt next = m_stop.Raised() ? core::NextAttempt::None : core::Following(outcome, turn);
    m_events->DownloadEnded(url, outcome, next);
    return {outcome, next};
}
