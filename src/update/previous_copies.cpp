#include "update/previous_copies.h"

#include <algorithm>

#include "core/product.h"
#include "framework/file.h"
#include "framework/win_text.h"
#include "host/install_dir.h"
#include "host/registry_key.h"
#include "update/release_check.h"

namespace {

CString PreviousFolder(const CString& installPath) { return installPath + "\\" + product::kPreviousFolder; }
CString JournalPath(const CString& installPath) { return PreviousFolder(installPath) + "\\" + product::kJournalName; }

// The journal's bytes beside it, flushed to the disk, then renamed over it: a journal is whole or absent.
bool WriteJournal(const CString& path, const core::Journal& journal) {
    const std::string bytes = core::FormatJournal(journal);
    const std::wstring staged = Wide(path) + L".~new";
    {
        const ScopedFile f = CreateAnew(staged, GENERIC_WRITE, 0);
        DWORD n = 0;
        if (!f || !::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) || n != bytes.size() ||
            !::FlushFileBuffers(f.get())) {
            ::DeleteFileW(staged.c_str());
            return false;
        }
    }
    return ::MoveFileExW(staged.c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// One journal entry put back: its previous copy in its place (none: the file placed after it goes), its
// version record as it was.
RunError PutBackOne(const core::JournalEntry& e, const CStopSignal& stop) {
    const CString destination(e.destination);
    DWORD error = ERROR_SUCCESS;
    if (!e.previous.empty()) {
        error = ReplaceWithDownloaded(CString(e.previous), destination, stop, IsRunningProgram(destination));
    } else if (!::DeleteFileW(Wide(e.destination).c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        error = ::GetLastError();
    }
    if (error != ERROR_SUCCESS) return error;
    const LONG recorded = e.recorded ? WriteProductValue(e.valueName.c_str(), e.version.c_str()) : DeleteProductValue(e.valueName.c_str());
    return recorded == ERROR_FILE_NOT_FOUND && !e.recorded ? ERROR_SUCCESS : static_cast<RunError>(recorded);
}

}  // namespace

void CPreviousCopies::Started(const CString& installPath) {
    const CString journal = JournalPath(installPath);
    std::string bytes;
    if (installPath.IsEmpty() || !ReadWhole(Wide(journal.str()), core::kMaxJournalBytes, bytes)) return;
    // One cut while it was written replaced nothing yet.
    if (!core::ParseJournal(bytes, m_journal)) {
        ::DeleteFileW(Wide(journal.str()).c_str());
        m_journal = core::Journal{};
        return;
    }
    if (!m_journal.placed) {
        m_events.CutRunFound(m_journal.entries.size());
        if (PutBackAll(installPath, m_stop)) ::DeleteFileW(Wide(journal.str()).c_str());
        m_journal = core::Journal{};
        return;
    }
    // Placed and not watched yet (the process ended before its window), or watched and cut short.
    if (m_journal.windows == 0) return;
    m_events.HealthWindowNeverEnded(core::ReleasesText(m_journal.releases), m_journal.windows >= kWindowsNeverEnded);
    if (m_journal.windows >= kWindowsNeverEnded) {
        m_takenBackAtStart = TakeBack(installPath, "its health window never ended twice: the machine or the updater went down in it", m_stop);
    }
}

bool CPreviousCopies::PutBackAll(const CString& installPath, const CStopSignal& stop) {
    // Last first, so a file placed twice gets its first copy back; a stop keeps what is left for the next start.
    while (!m_journal.entries.empty()) {
        if (stop.Raised()) return false;
        const core::JournalEntry e = m_journal.entries.back();
        const RunError error = PutBackOne(e, stop);
        if (stop.Raised()) return false;
        m_events.PutBack(CString(e.destination), e.previous.empty(), error);
        m_journal.entries.pop_back();
        if (!m_journal.entries.empty() && !WriteJournal(JournalPath(installPath), m_journal)) return false;
    }
    return true;
}

bool CPreviousCopies::KeepOne(const CString& folder, UPDATE_FILE_INFO& record, const CString& destination) {
    core::JournalEntry e;
    e.destination = destination.str();
    e.valueName = record.szFileName.str();
    CString version;
    e.recorded = ReadProductValue(record.szFileName.str().c_str(), kVersionChars, version);
    e.version = version.str();
    if (::GetFileAttributesW(Wide(destination.str()).c_str()) != INVALID_FILE_ATTRIBUTES) {
        e.previous = (folder + "\\" + CString(std::to_string(m_journal.entries.size() + 1))).str();
        if (!::CopyFileW(Wide(destination.str()).c_str(), Wide(e.previous).c_str(), FALSE)) {
            m_events.PreviousNotKept(destination, ::GetLastError());
            return false;
        }
    }
    m_journal.entries.push_back(e);
    return true;
}

bool CPreviousCopies::KeepBeforePlacing(const CString& installPath, CUpdateFileArray& list, PlacementRule rule,
                                        const core::JournalRelease& release) {
    const CString folder = PreviousFolder(installPath);
    if (!EnsureAdministratorsOnlyFolder(folder)) {
        m_events.PreviousNotKept(folder, ::GetLastError());
        return false;
    }
    // The generation before this run's goes, unless its releases still await their check: the copies from
    // before them are the way back for all that came since.
    if (m_journal.entries.empty()) DeleteFilesIn(Wide(folder.str()));
    const core::Journal before = m_journal;
    for (UPDATE_FILE_INFO& record : list) {
        CString destination;
        if (!record.bFetched || !PlacementDestination(rule, installPath, record.szFileName, destination)) continue;
        if (!KeepOne(folder, record, destination)) record.bFetched = false;
    }
    if (m_journal.entries.size() == before.entries.size()) return true;
    m_journal.placed = false;
    if (std::find(m_journal.releases.begin(), m_journal.releases.end(), release) == m_journal.releases.end()) {
        m_journal.releases.push_back(release);
    }
    if (WriteJournal(JournalPath(installPath), m_journal)) {
        m_placing = true;
        return true;
    }
    m_events.PreviousNotKept(JournalPath(installPath), ::GetLastError());
    for (UPDATE_FILE_INFO& record : list) record.bFetched = false;
    m_journal = before;
    return false;
}

void CPreviousCopies::PlacementsDone(const CString& installPath, bool watched) {
    if (!m_placing) return;
    m_placing = false;
    m_journal.placed = true;
    // A journal that cannot say its placements are done must not stay to undo them at the next start.
    if (!watched || !WriteJournal(JournalPath(installPath), m_journal)) {
        ::DeleteFileW(Wide(JournalPath(installPath).str()).c_str());
        m_journal = core::Journal{};
    }
}

void CPreviousCopies::WindowBegins(const CString& installPath) {
    ++m_journal.windows;
    WriteJournal(JournalPath(installPath), m_journal);
}

void CPreviousCopies::Passed(const CString& installPath) { Forget(installPath); }

void CPreviousCopies::Forget(const CString& installPath) {
    // The journal first: one left behind must never name copies that are gone.
    ::DeleteFileW(Wide(JournalPath(installPath).str()).c_str());
    DeleteFilesIn(Wide(PreviousFolder(installPath).str()));
    m_journal = core::Journal{};
}

std::vector<core::JournalRelease> CPreviousCopies::TakeBack(const CString& installPath, const std::string& why, const CStopSignal& stop) {
    const std::vector<core::JournalRelease> releases = m_journal.releases;
    // Whatever cuts it short, the next start goes on taking them back.
    m_journal.windows = std::max(m_journal.windows, kWindowsNeverEnded);
    WriteJournal(JournalPath(installPath), m_journal);
    m_events.TakingBack(core::ReleasesText(releases), m_journal.entries.size(), why);
    for (const core::JournalRelease& r : releases) {
        if (r.serial != 0) m_events.RememberedTakenBack(CString(r.file), r.serial, static_cast<RunError>(RememberTakenBack(CString(r.file), r.serial)));
    }
    if (PutBackAll(installPath, stop)) Forget(installPath);
    return releases;
}
