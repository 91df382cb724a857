#include "update/run_log.h"

#include <windows.h>

#include "core/product.h"
#include "core/release.h"
#include "core/version_info.h"
#include "framework/file.h"
#include "framework/win_text.h"

namespace {

const char* PassName(UpdatePass pass) { return pass == UpdatePass::Db ? "DB pass" : "program pass"; }

const char* ProblemText(VersionInfoProblem p) {
    switch (p) {
    case VersionInfoProblem::None: return "no problem";
    case VersionInfoProblem::Unreadable: return "the downloaded file cannot be read";
    case VersionInfoProblem::Empty: return "the file is empty";
    case VersionInfoProblem::TooLarge: return "the file is larger than 1 MiB or lists more than 1000 files";
    case VersionInfoProblem::NoSignature: return "it is not signed (its last line is no signature line)";
    case VersionInfoProblem::UnknownKey: return "it is signed with a key this program does not carry";
    case VersionInfoProblem::BadSignature: return "its signature does not match its contents: it was changed after signing";
    case VersionInfoProblem::NoSerial: return "it does not hold exactly one valid serial";
    case VersionInfoProblem::Rollback: return "its serial is lower than that of a release accepted before (an older release)";
    case VersionInfoProblem::RetiredKey:
        return "it is signed with an older key than a release accepted before (a retired key, whatever its serial)";
    case VersionInfoProblem::EntryWithoutDigest:
        return "a signed release lists a file without a valid SHA-256 (\"sha256:\" and 64 lower-case hexadecimal digits) "
               "and size (\"size:N\")";
    case VersionInfoProblem::NoFileLine: return "it does not name its own path in exactly one \"#file\" line";
    case VersionInfoProblem::OtherFile: return "it is another version-info file than the one asked for";
    case VersionInfoProblem::NoExpiry: return "it does not hold exactly one valid \"#expires\" line";
    case VersionInfoProblem::Expired: return "it has expired: an old release, held back or served from a cache";
    case VersionInfoProblem::NoCrypto: return "this system cannot verify signatures (no CNG)";
    case VersionInfoProblem::BadRollout: return "its \"#rollout\" line is not one (or there is more than one)";
    case VersionInfoProblem::NotInLog: return "it is not in the vendor's log";
    case VersionInfoProblem::LogUnreadable: return "the vendor's log cannot be trusted";
    case VersionInfoProblem::TooFewWitnesses: return "too few witnesses cosigned the vendor's log";
    case VersionInfoProblem::OlderCheckpoint: return "the vendor's log is older than the one this machine saw before";
    case VersionInfoProblem::LogFork: return "the vendor's log is not the one this machine saw before (a fork)";
    case VersionInfoProblem::BadLogTiles: return "the vendor's log's tiles are damaged";
    }
    return "unknown problem";
}

const char* VerdictText(EntryVerdict v) {
    switch (v) {
    case EntryVerdict::Current: return "is current";
    case EntryVerdict::DueMissing: return "is due: not installed";
    case EntryVerdict::DueNotRecorded: return "is due: no version recorded";
    case EntryVerdict::DueNewVersion: return "is due: another version is recorded";
    case EntryVerdict::RefusedName:
        return "is refused: not a name the updater may write (a path, a device or reserved name, a control "
               "character, or one of the product key's own values)";
    case EntryVerdict::RefusedPath: return "is refused: its installed path would be longer than 259 characters";
    case EntryVerdict::RefusedDigest: return "is refused: its sha256 field is no SHA-256 digest";
    case EntryVerdict::RefusedSize: return "is refused: its size field is no size";
    }
    return "unknown";
}

bool IsRefusal(EntryVerdict v) { return !IsDue(v) && v != EntryVerdict::Current; }

// A listed text as the log quotes it: a name of a thousand characters is shown by its start.
std::string Quoted(const CString& text) {
    constexpr std::size_t kShownChars = 100;
    const std::string shown = core::KeepChars(text.str(), kShownChars);
    return "\"" + shown + (shown.size() < text.str().size() ? "...\"" : "\"");
}

}  // namespace

std::unique_lock<std::timed_mutex> CRunLog::Hold() {
    std::unique_lock<std::timed_mutex> hold(m_lock, std::defer_lock);
    if (m_givenUp || !hold.try_lock_for(std::chrono::milliseconds(kLineWaitMs))) m_givenUp = true;
    return hold;
}

bool CRunLog::Open(const CString& folder, const std::string& programVersion, const std::string& systemVersion) {
    {
        const auto hold = Hold();
        if (!hold) return false;
        m_path = Wide(folder + "\\" + product::kLogFileName);
        m_file = OpenToAppend(m_path, FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (!m_file) return false;
        LARGE_INTEGER size{};
        ::GetFileSizeEx(m_file.get(), &size);
        m_size = static_cast<std::uint64_t>(size.QuadPart);
    }
    Note("==== BrinsoUpdator " + programVersion + " started on " + systemVersion);
    return true;
}

void CRunLog::Write(bool failure, const std::string& text, bool countsForTheRun) {
    if (failure && countsForTheRun) ++m_failures;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    const std::string line = core::FormatLogLine({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                                                  now.wMilliseconds},
                                                 failure ? "FAIL" : "info", text);
    const auto hold = Hold();
    if (!hold || !m_file) return;
    if (m_size + line.size() > kMaxBytes && !ShortenLocked()) return;
    DWORD written = 0;
    if (::WriteFile(m_file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) m_size += written;
}

// Keeps the last whole lines, written beside the log and renamed over it: at every moment the file is
// either the old log or the shortened one. false (and the log closed) when that cannot be done.
bool CRunLog::ShortenLocked() {
    m_file.reset();
    std::string kept;
    {
        const ScopedFile in = OpenToRead(m_path, FILE_SHARE_READ | FILE_SHARE_WRITE);
        // Only its end is read, whatever size the log has grown to (one from before the bound, or copied
        // in): the kept bytes and the one before them, which tells whether a line starts right there.
        LARGE_INTEGER size{};
        if (!in || !::GetFileSizeEx(in.get(), &size)) return false;
        const LONGLONG tailBytes = size.QuadPart < static_cast<LONGLONG>(kKeptBytes + 1) ? size.QuadPart : kKeptBytes + 1;
        LARGE_INTEGER from{};
        from.QuadPart = size.QuadPart - tailBytes;
        std::string tail(static_cast<std::size_t>(tailBytes), '\0');
        DWORD read = 0;
        if (!::SetFilePointerEx(in.get(), from, nullptr, FILE_BEGIN) ||
            (!tail.empty() && !::ReadFile(in.get(), &tail[0], static_cast<DWORD>(tail.size()), &read, nullptr))) {
            return false;
        }
        tail.resize(read);
        kept = core::KeepLastLines(tail, kKeptBytes);
    }
    const std::wstring staged = m_path + L".~new";
    {
        const ScopedFile out = CreateAnew(staged, GENERIC_WRITE, 0);
        DWORD written = 0;
        if (!out || !::WriteFile(out.get(), kept.data(), static_cast<DWORD>(kept.size()), &written, nullptr) ||
            written != kept.size()) {
            ::DeleteFileW(staged.c_str());
            return false;
        }
    }
    if (!::MoveFileExW(staged.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(staged.c_str());
        return false;
    }
    m_file = OpenToAppend(m_path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    m_size = kept.size();
    return static_cast<bool>(m_file);
}

void CRunLog::RunStarted(const CString& installPath) {
    m_failures = 0;
    Write(false, "run: ending the product's programs in " + installPath.str());
}

void CRunLog::ProgramNotEnded(const CString& path) {
    Write(true, "could not end " + path.str() + " (the process list cannot be read, or the process refused to end)");
}

void CRunLog::PassStarted(UpdatePass pass) {
    m_due = m_placed = 0;
    Write(false, std::string(PassName(pass)) + ": fetching its version-info file");
}

void CRunLog::VersionInfoUnusable(UpdatePass pass, VersionInfoProblem problem, const std::string& detail, const std::string& host,
                                  bool nextHost) {
    // One a mirror of the server may make good is no failure of the update: its cause is told all the same.
    Write(!nextHost, std::string(PassName(pass)) + ": the version-info file" + (host.empty() ? "" : " from " + host) +
                         " is not used: " + ProblemText(problem) + (detail.empty() ? "" : " (" + detail + ")") +
                         (nextHost ? "; asking the next mirror" : ""));
}

void CRunLog::CameAfterWaits(const std::string& url, std::int64_t waited, unsigned long tookMs) {
    Write(false, url + " came after " + std::to_string(waited) + " s of waits its servers asked for (Retry-After): the product " +
                     "stayed stopped " + std::to_string((tookMs + 500) / 1000) + " s for it");
}

void CRunLog::KeptSerialUnreadable(UpdatePass pass, const CString& file) {
    Write(true, std::string(PassName(pass)) + ": the serial kept for " + Quoted(file) +
                    " is not a serial (another type of value, or not a number): taken as none");
}

void CRunLog::MissedKeyRoll() {
    Write(false, "the DB release is signed with a key this program does not carry (a key roll it missed): the program pass "
                 "runs all the same, as it may bring the updater that carries the key");
}

void CRunLog::EntryChecked(UpdatePass pass, const CString& name, const CString& version, EntryVerdict verdict) {
    Write(IsRefusal(verdict),
          std::string(PassName(pass)) + ": " + Quoted(name) + " version " + Quoted(version) + " " + VerdictText(verdict));
}

void CRunLog::FilesDue(UpdatePass pass, std::size_t count) {
    m_due = count;
    if (count) Write(false, std::string(PassName(pass)) + ": " + std::to_string(count) + " file(s) due");  // none: the pass's end says so
}

void CRunLog::DownloadStarted(const std::string& url) {
    m_downloadStartedAt = ::GetTickCount();
    m_downloading = true;
    Write(false, "downloading " + url);
}

void CRunLog::DownloadEnded(const std::string& url, const core::DownloadOutcome& o, core::NextAttempt next) {
    // A download that could not begin (its local path too long to form) took no time worth a figure.
    const std::string took = m_downloading ? " after " + std::to_string(::GetTickCount() - m_downloadStartedAt) + " ms" : "";
    m_downloading = false;
    const std::string kept = o.kept ? "; " + std::to_string(o.kept) + " bytes kept to resume from" : "";
    if (o.ok) {
        Write(false, "downloaded " + url + ": " + std::to_string(o.bytes) + " bytes in " +
                         std::to_string(::GetTickCount() - m_downloadStartedAt) + " ms" +
                         (o.resumed ? ", resumed after the " + std::to_string(o.rangeFrom) + " bytes an earlier attempt kept" : ""));
    } else if (o.failure == core::DownloadFailure::Stopped) {
        Write(false, "download of " + url + " stopped" + took + kept);
    } else {
        // A failure a later attempt may make good is no failure of the update: its cause is told all the same.
        const std::string then = next == core::NextAttempt::SameHostLater
                                     ? "; asking again in " + std::to_string(o.retryAfter) + " s, as the server asked (Retry-After)"
                                 : next == core::NextAttempt::WholeAgain ? "; the kept part dropped, asking again for the whole file"
                                 : next == core::NextAttempt::WholeFile  ? "; the whole file instead"
                                 : next == core::NextAttempt::NextHost   ? "; asking the next mirror"
                                 : next == core::NextAttempt::PlainName  ? "; asking for its plain name"
                                                                         : "";
        Write(next == core::NextAttempt::None,
              "download of " + url + " failed" + took + ": " +
                  core::DescribeDownloadFailure(o, o.error ? ErrorText(o.error) : std::string()) + kept + then);
    }
}

void CRunLog::CameByBlocks(const CString& name, std::uint64_t fetched, std::uint64_t size, std::size_t requests) {
    Write(false, name.str() + " came by blocks: " + std::to_string(fetched) + " of its " + std::to_string(size) + " bytes fetched in " +
                     std::to_string(requests) + " request(s), the rest from its installed copy");
}

namespace {

const char* BlocksUnusedText(BlocksUnused why) {
    switch (why) {
    case BlocksUnused::MapDamaged: return "its block map is damaged or not the map of this file";
    case BlocksUnused::NoSha256: return "this system cannot compute SHA-256 (CNG)";
    case BlocksUnused::CopyUnreadable: return "its installed copy could not be read";
    case BlocksUnused::MapProvedFalse:
        return "its block map proved false (its checksums met the installed copy again and again, its hashes never)";
    case BlocksUnused::TooLittleHeld: return "its installed copy holds too little of it";
    case BlocksUnused::CopyFailed: return "its installed copy's blocks could not be copied";
    case BlocksUnused::AssembledWrong: return "the file made from its blocks is not the published file (its SHA-256 differs)";
    case BlocksUnused::NotMoved: return "the file made from its blocks could not become its download copy";
    }
    return "its blocks could not be used";
}

}  // namespace

void CRunLog::NotByBlocks(const CString& name, BlocksUnused why) {
    Write(false, name.str() + ": " + BlocksUnusedText(why) + "; the whole file instead");
}

void CRunLog::Placed(const CString& name, const CString& destination, RunError error) {
    if (error == ERROR_SUCCESS) {
        ++m_placed;
        Write(false, "placed " + name.str() + " as " + destination.str());
    } else {
        Write(true, "could not place " + name.str() + " as " + destination.str() + " (" + ErrorText(error) +
                        "); the installed file is unchanged");
    }
}

void CRunLog::PreviousNotKept(const CString& destination, RunError error) {
    Write(true, "the installed copy of " + destination.str() + " could not be kept to go back to (" + ErrorText(error) +
                    "); it is not replaced");
}

void CRunLog::CutRunFound(std::size_t count) {
    Write(false, "an earlier run was cut while it placed files: the " + std::to_string(count) +
                     " file(s) it was replacing are put back as they were before it");
}

void CRunLog::PutBack(const CString& destination, bool removed, RunError error) {
    if (error != ERROR_SUCCESS) {
        Write(true, "could not put " + destination.str() + " back as it was (" + ErrorText(error) + ")");
    } else {
        Write(false, removed ? destination.str() + " was not there before: it is gone" : "put back " + destination.str());
    }
}

void CRunLog::HealthWindowNeverEnded(const std::string& releases, bool takenBack) {
    Write(takenBack, "the health window of " + releases + " never ended (the machine or the updater went down in it)" +
                         (takenBack ? " for the second time" : ": it is watched again as this run ends"));
}

void CRunLog::TakingBack(const std::string& releases, std::size_t count, const std::string& why) {
    Write(true, "taking back " + releases + " (" + why + "): the " + std::to_string(count) +
                    " file(s) placed since the release before are put back as they were");
}

void CRunLog::RememberedTakenBack(const CString& file, std::uint64_t serial, RunError error) {
    const std::string release = file.str() + " serial " + std::to_string(serial);
    if (error != ERROR_SUCCESS) {
        Write(true, "could not remember that " + release + " was taken back (" + ErrorText(error) + "): it may be taken again");
    } else {
        Write(false, "remembered that " + release + " was taken back: it and every lower serial are not taken again");
    }
}

void CRunLog::RolloutDrawn(UpdatePass pass, const CString& file, const RolloutDraw& d) {
    const std::string pass_ = std::string(PassName(pass)) + ": ";
    if (d.secretMade) {
        Write(false, pass_ + (d.secretReplaced ? "the rollout secret (\"RolloutSecret\") was not 32 bytes of REG_BINARY: made anew"
                                               : "this machine's rollout secret (\"RolloutSecret\") made"));
    }
    const std::string stage = Quoted(file) + " is staged for " + core::FormatRolloutPercent(d.stage) + " % of machines (rollout " + d.id + ")";
    if (!d.drawn && d.heldBack) {
        Write(true, pass_ + stage + ", and this machine has no rollout secret it can keep: held back");
    } else if (!d.drawn) {
        Write(false, pass_ + stage + ": taken");
    } else {
        Write(false, pass_ + stage + ": this machine's share is " + core::FormatRolloutPercent(d.share) + " %, " +
                         (d.heldBack ? "outside it: held back, nothing of it is taken" : "within it: taken"));
    }
}

void CRunLog::ReleaseHeldBack(UpdatePass pass, const CString& file, std::uint64_t serial, std::uint64_t takenBack) {
    Write(false, std::string(PassName(pass)) + ": " + Quoted(file) + " serial " + std::to_string(serial) + " is not taken: serial " +
                     std::to_string(takenBack) + " was taken back on this machine (it failed its health check); waiting for a higher serial");
}

void CRunLog::ProgramSetAside(const CString& aside) {
    Write(false, "this program's file was set aside as " + aside.str() +
                     " (deleted by the next start); the new program runs from the next start");
}

void CRunLog::RegistrationStarted(const CString& path, RunError error) {
    if (error == ERROR_SUCCESS) {
        Write(false, "registering " + path.str() + " (regsvr32 started)");
    } else {
        Write(true, "could not start regsvr32 for " + path.str() + " (" + ErrorText(error) + ")");
    }
}

void CRunLog::Opened(const CString& path, RunError error) {
    if (error == ERROR_SUCCESS) {
        Write(false, "opened " + path.str() + " with the shell");
    } else if (error == ERROR_CANCELLED) {
        Write(false, "the open of " + path.str() + " is left to the shell: the dialog is closing");
    } else {
        Write(true, "could not open " + path.str() + " with the shell (" + ErrorText(error) + ")");
    }
}

void CRunLog::Recorded(const CString& name, const CString& version, RunError error) {
    if (error == ERROR_SUCCESS) {
        Write(false, "recorded " + name.str() + " = " + version.str());
    } else {
        Write(true, "could not record version " + version.str() + " of " + name.str() + " (" +
                        ErrorText(error) + ")");
    }
}

void CRunLog::PassEnded(UpdatePass pass, PassEnd end, RunError error) {
    const std::string name = PassName(pass);
    switch (end) {
    case PassEnd::Done:
        if (m_placed == m_due) {
            Write(false, name + " ended: " + std::to_string(m_placed) + " file(s) placed");
        } else {
            Write(true, name + " ended with " + std::to_string(m_placed) + " of " + std::to_string(m_due) +
                            " due file(s) placed");
        }
        return;
    case PassEnd::Current: Write(false, name + " ended: nothing to update"); return;
    case PassEnd::Stopped: Write(false, name + " stopped"); return;
    case PassEnd::NoTempFolder:
        Write(true, name + " failed: no download folder could be made in the Windows temp folder");
        return;
    case PassEnd::NoProductKey:
        Write(true, name + " failed: the product key HKLM\\" + product::kProductKeyPath + " cannot be opened (" +
                        ErrorText(error) + ")");
        return;
    case PassEnd::NoInstallFolder: Write(true, name + " failed: there is no install folder to update"); return;
    case PassEnd::VersionInfoNotFetched:
        Write(true, name + " failed: its version-info file could not be downloaded");
        return;
    case PassEnd::VersionInfoRefused: Write(true, name + " failed: its version-info file was not used"); return;
    }
}

void CRunLog::ShortcutWritten(const CString& link, RunError error) {
    const auto result = static_cast<HRESULT>(error);
    if (result == S_FALSE) {
        Write(false, "shortcut " + link.str() + " is current");
    } else if (SUCCEEDED(result)) {
        Write(false, "shortcut " + link.str() + " written");
    } else {
        Write(true, "could not write the shortcut " + link.str() + " (" + ErrorText(error) + ")");
    }
}

void CRunLog::UninstallEntryWritten(RunError error) {
    if (error == ERROR_SUCCESS) {
        Write(false, std::string("uninstall entry \"") + product::kUninstallEntry + "\" written");
    } else if (error == ERROR_FILE_NOT_FOUND) {
        Write(false, "no uninstall entry written: this system has no uninstall list");
    } else {
        Write(true, std::string("could not write the uninstall entry \"") + product::kUninstallEntry + "\" (" + ErrorText(error) + ")");
    }
}

void CRunLog::StopAsked() { Write(false, "stop asked: the dialog is closing"); }

void CRunLog::RunEnded(RunOutcome outcome) {
    switch (outcome) {
    // Up to date only when nothing failed on the way: a file not placed, a step that failed.
    case RunOutcome::Updated:
        if (const unsigned failures = m_failures) {
            Write(true, "run ended: not everything was updated (" + std::to_string(failures) + " failure(s) above)");
        } else {
            Write(false, "run ended: the product is up to date");
        }
        return;
    case RunOutcome::Failed: Write(true, "run ended: the update failed (see above)"); return;
    case RunOutcome::Stopped: Write(false, "run ended: stopped"); return;
    }
}

void CRunLog::Fault(const char* where, const std::string& what) {
    Write(true, std::string("unexpected failure in the ") + where + ": " + what);
}
