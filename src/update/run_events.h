#pragma once
// What an update run tells as it goes: one small interface, told by the run on its worker (and the
// download's progress on the download's thread). The dialog shows it, the log keeps it, a test can watch
// it. Every event has an empty default, so a listener implements only what it needs. Nothing here knows
// a window.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "core/run_report.h"
#include "framework/cstring.h"

enum class UpdatePass { Db, Program };

// Why an entry of a version-info file is fetched, or why it never is.
enum class EntryVerdict {
    Current,          // installed, and its recorded version is the listed one
    DueMissing,       // no installed copy
    DueNotRecorded,   // installed, but no version recorded
    DueNewVersion,    // the recorded version differs
    RefusedName,      // a name the updater never fetches (a path, a device, a product value, ...)
    RefusedPath,      // its installed path would be too long
    RefusedDigest,    // it claims a digest that is none
    RefusedSize,      // it claims a size that is none
};
inline bool IsDue(EntryVerdict v) {
    return v == EntryVerdict::DueMissing || v == EntryVerdict::DueNotRecorded || v == EntryVerdict::DueNewVersion;
}

// Why a version-info file is not used.
enum class VersionInfoProblem {
    None,
    Unreadable,          // missing or cannot be read
    Empty,
    TooLarge,            // more bytes or more entries than a version-info file may have
    NoSignature,         // the program carries release keys and the last line is no signature line
    UnknownKey,          // signed by a key the program does not carry
    BadSignature,        // the signature does not match the bytes
    NoSerial,            // none, or more than one
    Rollback,            // a serial below the one accepted before, by the same key
    RetiredKey,          // signed by a key ranked before the one that signed the release accepted before
    EntryWithoutDigest,  // a signed release lists a file without its SHA-256 and size
    NoFileLine,          // no "#file" line naming its own path (or more than one)
    OtherFile,           // it names another path than the one asked for (detail)
    NoExpiry,            // no valid "#expires" line (or more than one)
    Expired,             // its expiry has passed (detail: when, and what the clock said)
    NoCrypto,            // the system cannot verify (no CNG)
    BadRollout,          // a "#rollout" line that is not one, or more than one
    // With the vendor's log built in (detail: what was found):
    NotInLog,            // no place named, or the log's entry there is another file's
    LogUnreadable,       // its checkpoint missing, malformed, of another origin or not signed by a release key
    TooFewWitnesses,     // fewer witnesses cosigned the checkpoint than the program needs
    OlderCheckpoint,     // a smaller log than the one this machine saw before
    LogFork,             // another log than the one this machine saw before: same size and another root, or no growth of it
    BadLogTiles,         // a tile missing, cut short or not giving the checkpoint's root
};

// A staged release ("#rollout PERCENT ID") as this machine drew it.
struct RolloutDraw {
    bool staged = false;
    unsigned stage = 0;           // hundredths of a per cent
    std::string id;
    bool drawn = false;           // share is this machine's (false: no secret could be had; or a full stage)
    unsigned share = 0;           // hundredths of a per cent
    bool secretMade = false;      // the machine's secret was made in this check
    bool secretReplaced = false;  // and a value of another type or size stood in its place
    bool heldBack = false;        // outside the stage: nothing of it is taken
};

// Why a pass ended as it did.
enum class PassEnd {
    Done,                // everything due was tried (a failed download ends the list; that was told)
    Current,             // nothing was due
    Stopped,
    NoTempFolder,        // no download folder could be made
    NoProductKey,        // the product key cannot be opened (error)
    NoInstallFolder,
    VersionInfoNotFetched,
    VersionInfoRefused,  // (VersionInfoProblem told before)
};

enum class RunOutcome { Updated, Failed, Stopped };

// Why a large file with an older copy installed comes whole after all.
enum class BlocksUnused {
    MapDamaged,      // its block map is damaged, or not the map of this file
    NoSha256,        // the system cannot compute SHA-256
    CopyUnreadable,  // its installed copy could not be read
    MapProvedFalse,  // the map's checksums met the installed copy again and again, its hashes never
    TooLittleHeld,   // the installed copy holds too little of it
    CopyFailed,      // the installed copy's blocks could not be copied
    AssembledWrong,  // the file made from its blocks has another SHA-256 than the published file
    NotMoved,        // the file made from its blocks could not become its download copy
};

// The platform's cause of a failed step: 0 for none, else a Win32 error code (for the shell's links an
// HRESULT, for a started program ShellExecute's code). Every event that tells one uses this type.
using RunError = unsigned long;

class IRunEvents {
public:
    virtual ~IRunEvents() = default;

    virtual void RunStarted(const CString& /*installPath*/) {}  // the product's programs are about to be ended
    virtual void ProgramNotEnded(const CString& /*path*/) {}     // running, and it could not be ended
    virtual void PassStarted(UpdatePass) {}
    // host: where it came from ("": not said); nextHost: the next mirror of the server is asked for it.
    virtual void VersionInfoUnusable(UpdatePass, VersionInfoProblem, const std::string& /*detail*/, const std::string& /*host*/,
                                     bool /*nextHost*/) {}
    virtual void KeptSerialUnreadable(UpdatePass, const CString& /*file*/) {}  // taken as none
    // The DB release is signed only by keys this build does not carry: the program pass runs all the same.
    virtual void MissedKeyRoll() {}
    virtual void EntryChecked(UpdatePass, const CString& /*name*/, const CString& /*version*/, EntryVerdict) {}
    virtual void FilesDue(UpdatePass, std::size_t /*count*/) {}  // the version-info file was read
    virtual void FileStarted(UpdatePass, const CString& /*name*/, long /*index*/, long /*count*/) {}
    virtual void DownloadStarted(const std::string& /*url*/) {}
    virtual void DownloadBodyStarted() {}             // only for listed files
    virtual void DownloadProgress(int /*percent*/) {}  // only for listed files; per chunk
    // next: what follows a failed download (asked again later, or of the next host).
    virtual void DownloadEnded(const std::string& /*url*/, const core::DownloadOutcome&, core::NextAttempt /*next*/) {}
    // A download came only after its servers asked for waits (Retry-After): waited seconds of tookMs.
    virtual void CameAfterWaits(const std::string& /*url*/, std::int64_t /*waited*/, unsigned long /*tookMs*/) {}
    virtual void FileFetched(UpdatePass, long /*index*/) {}
    // A large file came by blocks: fetched bytes of its size (in requests), the rest from its installed copy.
    virtual void CameByBlocks(const CString& /*name*/, std::uint64_t /*fetched*/, std::uint64_t /*size*/, std::size_t /*requests*/) {}
    // Its blocks could not be used (why): it comes whole.
    virtual void NotByBlocks(const CString& /*name*/, BlocksUnused) {}
    // The installed copy of destination could not be kept to go back to: the file is not placed.
    virtual void PreviousNotKept(const CString& /*destination*/, RunError) {}
    // A run was cut while it placed files: its journal names files (count) to put back as they were.
    virtual void CutRunFound(std::size_t /*count*/) {}
    // destination put back as it was before the cut run, or the releases taken back (0); removed: it was new
    // in them, and is gone.
    virtual void PutBack(const CString& /*destination*/, bool /*removed*/, RunError) {}
    // The health window of releases (as the log names them) never ended: watched again as the run ends, or
    // (takenBack) after one window too many they are taken back.
    virtual void HealthWindowNeverEnded(const std::string& /*releases*/, bool /*takenBack*/) {}
    // releases failed their health check (why): the files they placed (count) are put back as they were.
    virtual void TakingBack(const std::string& /*releases*/, std::size_t /*count*/, const std::string& /*why*/) {}
    // The release of file with serial is remembered as taken back (0): it is not taken again.
    virtual void RememberedTakenBack(const CString& /*file*/, std::uint64_t /*serial*/, RunError) {}
    // A staged version-info file as this machine drew it: taken, or held back (nothing of it taken).
    virtual void RolloutDrawn(UpdatePass, const CString& /*file*/, const RolloutDraw&) {}
    // A version-info file of serial is not taken: the release of serial takenBack was taken back here.
    virtual void ReleaseHeldBack(UpdatePass, const CString& /*file*/, std::uint64_t /*serial*/, std::uint64_t /*takenBack*/) {}
    virtual void Placing(const CString& /*name*/) {}
    virtual void Placed(const CString& /*name*/, const CString& /*destination*/, RunError) {}  // 0: placed
    virtual void ProgramSetAside(const CString& /*aside*/) {}  // the running program's file, replaced by a new one
    virtual void RegistrationStarted(const CString& /*path*/, RunError) {}                     // 0: started
    virtual void Opened(const CString& /*path*/, RunError) {}  // 0: the shell opened it
    virtual void Recorded(const CString& /*name*/, const CString& /*version*/, RunError) {}  // 0: recorded
    virtual void PassEnded(UpdatePass, PassEnd, RunError) {}
    virtual void ShortcutWritten(const CString& /*link*/, RunError) {}  // S_OK: written
    virtual void UninstallEntryWritten(RunError) {}  // 0: written; ERROR_FILE_NOT_FOUND: no uninstall list
    virtual void StopAsked() {}
    virtual void RunEnded(RunOutcome) {}
    virtual void Fault(const char* /*where*/, const std::string& /*what*/) {}  // something was thrown
};

// Tells every listener, in order.
class CRunEventsTee : public IRunEvents {
public:
    explicit CRunEventsTee(std::vector<std::shared_ptr<IRunEvents>> listeners) : m_listeners(std::move(listeners)) {}

    void RunStarted(const CString& p) override { Each(&IRunEvents::RunStarted, p); }
    void ProgramNotEnded(const CString& p) override { Each(&IRunEvents::ProgramNotEnded, p); }
    void PassStarted(UpdatePass p) override { Each(&IRunEvents::PassStarted, p); }
    void KeptSerialUnreadable(UpdatePass p, const CString& f) override { Each(&IRunEvents::KeptSerialUnreadable, p, f); }
    void MissedKeyRoll() override { Each(&IRunEvents::MissedKeyRoll); }
    void VersionInfoUnusable(UpdatePass p, VersionInfoProblem v, const std::string& d, const std::string& h, bool n) override {
        Each(&IRunEvents::VersionInfoUnusable, p, v, d, h, n);
    }
    void CameAfterWaits(const std::string& u, std::int64_t w, unsigned long t) override { Each(&IRunEvents::CameAfterWaits, u, w, t); }
    void EntryChecked(UpdatePass p, const CString& n, const CString& v, EntryVerdict e) override {
        Each(&IRunEvents::EntryChecked, p, n, v, e);
    }
    void FilesDue(UpdatePass p, std::size_t n) override { Each(&IRunEvents::FilesDue, p, n); }
    void FileStarted(UpdatePass p, const CString& n, long i, long c) override { Each(&IRunEvents::FileStarted, p, n, i, c); }
    void DownloadStarted(const std::string& u) override { Each(&IRunEvents::DownloadStarted, u); }
    void DownloadBodyStarted() override { Each(&IRunEvents::DownloadBodyStarted); }
    void DownloadProgress(int p) override { Each(&IRunEvents::DownloadProgress, p); }
    void DownloadEnded(const std::string& u, const core::DownloadOutcome& o, core::NextAttempt r) override {
        Each(&IRunEvents::DownloadEnded, u, o, r);
    }
    void FileFetched(UpdatePass p, long i) override { Each(&IRunEvents::FileFetched, p, i); }
    void CameByBlocks(const CString& n, std::uint64_t f, std::uint64_t s, std::size_t r) override { Each(&IRunEvents::CameByBlocks, n, f, s, r); }
    void NotByBlocks(const CString& n, BlocksUnused w) override { Each(&IRunEvents::NotByBlocks, n, w); }
    void PreviousNotKept(const CString& d, RunError e) override { Each(&IRunEvents::PreviousNotKept, d, e); }
    void CutRunFound(std::size_t n) override { Each(&IRunEvents::CutRunFound, n); }
    void PutBack(const CString& d, bool r, RunError e) override { Each(&IRunEvents::PutBack, d, r, e); }
    void HealthWindowNeverEnded(const std::string& r, bool t) override { Each(&IRunEvents::HealthWindowNeverEnded, r, t); }
    void TakingBack(const std::string& r, std::size_t n, const std::string& w) override { Each(&IRunEvents::TakingBack, r, n, w); }
    void RememberedTakenBack(const CString& f, std::uint64_t s, RunError e) override { Each(&IRunEvents::RememberedTakenBack, f, s, e); }
    void RolloutDrawn(UpdatePass p, const CString& f, const RolloutDraw& d) override { Each(&IRunEvents::RolloutDrawn, p, f, d); }
    void ReleaseHeldBack(UpdatePass p, const CString& f, std::uint64_t s, std::uint64_t t) override {
        Each(&IRunEvents::ReleaseHeldBack, p, f, s, t);
    }
    void Placing(const CString& n) override { Each(&IRunEvents::Placing, n); }
    void Placed(const CString& n, const CString& d, RunError e) override { Each(&IRunEvents::Placed, n, d, e); }
    void ProgramSetAside(const CString& a) override { Each(&IRunEvents::ProgramSetAside, a); }
    void RegistrationStarted(const CString& p, RunError e) override { Each(&IRunEvents::RegistrationStarted, p, e); }
    void Opened(const CString& p, RunError e) override { Each(&IRunEvents::Opened, p, e); }
    void Recorded(const CString& n, const CString& v, RunError e) override { Each(&IRunEvents::Recorded, n, v, e); }
    void PassEnded(UpdatePass p, PassEnd e, RunError err) override { Each(&IRunEvents::PassEnded, p, e, err); }
    void ShortcutWritten(const CString& l, RunError r) override { Each(&IRunEvents::ShortcutWritten, l, r); }
    void UninstallEntryWritten(RunError e) override { Each(&IRunEvents::UninstallEntryWritten, e); }
    void StopAsked() override { Each(&IRunEvents::StopAsked); }
    void RunEnded(RunOutcome u) override { Each(&IRunEvents::RunEnded, u); }
    void Fault(const char* w, const std::string& what) override { Each(&IRunEvents::Fault, w, what); }

private:
    template <typename... Params, typename... Args>
    void Each(void (IRunEvents::*event)(Params...), Args&&... args) {
        for (const auto& l : m_listeners) (l.get()->*event)(args...);
    }
    std::vector<std::shared_ptr<IRunEvents>> m_listeners;
};

// Tells a fault where telling itself may fail (no memory left for the line): then it stays untold, and
// nothing leaves the thread's entry.
inline void TellFault(IRunEvents& events, const char* where, const char* what) noexcept {
    try {
        events.Fault(where, what);
    } catch (...) {
    }
}

// Runs call; whatever it throws is told as a fault of where, and fallback is returned instead. For the
// entries of threads: nothing thrown may end the process or go unseen.
template <typename R, typename Call>
R TellingFaults(IRunEvents& events, const char* where, R fallback, Call&& call) {
    try {
        return call();
    } catch (const std::exception& e) {
        TellFault(events, where, e.what());
    } catch (...) {
        TellFault(events, where, "an exception of unknown type");
    }
    return fallback;
}
