#pragma once
// The run's log for support: "BrinsoUpdator.log" in the install folder, UTF-8, one line per event with
// the local time, each run starting with a line naming the program's and the system's version. Each line
// goes to the file in one write as it happens (nothing is held back in the program, so a crash or a forced
// end loses at most the line being written), never flushed to the disk on its own. The file stays within
// 256 KiB: a line that would pass it first shortens the log to its last 128 KiB of whole lines, written
// beside it and renamed over it, so the log is never lost. A folder that cannot be written means no log;
// the run never notices. Lines may come from several threads. A line waits at most kLineWaitMs for the
// one being written (a write that hangs, as on a network folder that stopped answering, or a writer ended
// by force inside one): then the log is given up for the rest of the process, and nobody waits on it again.
#include <cstdint>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "framework/handles.h"
#include "update/run_events.h"

class CRunLog : public IRunEvents {
public:
    static constexpr std::size_t kMaxBytes = 256 * 1024;
    static constexpr std::size_t kKeptBytes = 128 * 1024;
    static constexpr unsigned kLineWaitMs = 1000;

    // Opens the log in folder and writes the run's first line. false (and no log) when it cannot.
    bool Open(const CString& folder, const std::string& programVersion, const std::string& systemVersion);
    // A line of the program's own, beside the update (a failure here does not make the update's summary one).
    void Note(const std::string& text, bool failure = false) { Write(failure, text, false); }

    void RunStarted(const CString& installPath) override;
    void ProgramNotEnded(const CString& path) override;
    void PassStarted(UpdatePass pass) override;
    void VersionInfoUnusable(UpdatePass pass, VersionInfoProblem problem, const std::string& detail, const std::string& host,
                             bool nextHost) override;
    void CameAfterWaits(const std::string& url, std::int64_t waited, unsigned long tookMs) override;
    void KeptSerialUnreadable(UpdatePass pass, const CString& file) override;
    void MissedKeyRoll() override;
    void EntryChecked(UpdatePass pass, const CString& name, const CString& version, EntryVerdict verdict) override;
    void FilesDue(UpdatePass pass, std::size_t count) override;
    void DownloadStarted(const std::string& url) override;
    void DownloadEnded(const std::string& url, const core::DownloadOutcome& outcome, core::NextAttempt next) override;
    void CameByBlocks(const CString& name, std::uint64_t fetched, std::uint64_t size, std::size_t requests) override;
    void NotByBlocks(const CString& name, BlocksUnused why) override;
    void Placed(const CString& name, const CString& destination, RunError error) override;
    void PreviousNotKept(const CString& destination, RunError error) override;
    void CutRunFound(std::size_t count) override;
    void PutBack(const CString& destination, bool removed, RunError error) override;
    void HealthWindowNeverEnded(const std::string& releases, bool takenBack) override;
    void TakingBack(const std::string& releases, std::size_t count, const std::string& why) override;
    void RememberedTakenBack(const CString& file, std::uint64_t serial, RunError error) override;
    void RolloutDrawn(UpdatePass pass, const CString& file, const RolloutDraw& draw) override;
    void ReleaseHeldBack(UpdatePass pass, const CString& file, std::uint64_t serial, std::uint64_t takenBack) override;
    void ProgramSetAside(const CString& aside) override;
    void RegistrationStarted(const CString& path, RunError error) override;
    void Opened(const CString& path, RunError error) override;
    void Recorded(const CString& name, const CString& version, RunError error) override;
    void PassEnded(UpdatePass pass, PassEnd end, RunError error) override;
    void ShortcutWritten(const CString& link, RunError result) override;
    void UninstallEntryWritten(RunError error) override;
    void StopAsked() override;
    void RunEnded(RunOutcome outcome) override;
    void Fault(const char* where, const std::string& what) override;

private:
    friend struct CRunLogLockHolder;  // a test's writer that takes the lock and never lets go

    // countsForTheRun: a failure of the update itself, which its summary line then reports.
    void Write(bool failure, const std::string& text, bool countsForTheRun = true);
    bool ShortenLocked();

    // The lock for the file, or false when it could not be had in time (the log is then given up).
    std::unique_lock<std::timed_mutex> Hold();

    std::timed_mutex m_lock;
    std::atomic<bool> m_givenUp{false};
    std::wstring m_path;
    ScopedFile m_file;
    std::uint64_t m_size = 0;
    unsigned long m_downloadStartedAt = 0;
    bool m_downloading = false;  // DownloadStarted was told, its end not yet
    std::size_t m_due = 0, m_placed = 0;  // of the current pass
    std::atomic<unsigned> m_failures{0};   // failure lines of the current run, from any thread
};
