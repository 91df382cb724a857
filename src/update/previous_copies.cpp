#include "update/previous_copies.h"

#include "core/product.h"
#include "framework/file.h"
#include "framework/win_text.h"
#include "host/install_dir.h"
#include "host/registry_key.h"

namespace {

CString PreviousFolder(const CString& installPath) { return installPath + "\\" + product::kPreviousFolder; }
CString JournalPath(const CString& installPath) { return PreviousFolder(installPath) + "\\" + product::kJournalName; }

// The journal's bytes beside it, flushed to the disk, then renamed over it: a journal is whole or absent.
bool WriteJournal(const CString& path, const std::vector<core::JournalEntry>& entries) {
    const std::string bytes = core::FormatJournal(entries);
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

// One journal entry put back: its previous copy in its place (none: the file the cut run placed goes), its
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

void CPreviousCopies::MendCutRun(const CString& installPath) {
    const CString journal = JournalPath(installPath);
    std::string bytes;
    std::vector<core::JournalEntry> entries;
    if (installPath.IsEmpty() || !ReadWhole(Wide(journal.str()), core::kMaxJournalBytes, bytes)) return;
    // One cut while it was written replaced nothing yet.
    if (!core::ParseJournal(bytes, entries)) {
        ::DeleteFileW(Wide(journal.str()).c_str());
        return;
    }
    m_events.CutRunFound(entries.size());
    // Back to front, so a file placed twice gets its first copy back; a stop keeps what is left for the next start.
    while (!entries.empty() && !m_stop.Raised()) {
        const core::JournalEntry e = entries.back();
        const RunError error = PutBackOne(e, m_stop);
        if (m_stop.Raised()) break;
        m_events.PutBack(CString(e.destination), e.previous.empty(), error);
        entries.pop_back();
        if (!entries.empty() && !WriteJournal(journal, entries)) break;
    }
    if (entries.empty()) ::DeleteFileW(Wide(journal.str()).c_str());
}

bool CPreviousCopies::KeepOne(const CString& folder, UPDATE_FILE_INFO& record, const CString& destination) {
    core::JournalEntry e;
    e.destination = destination.str();
    e.valueName = record.szFileName.str();
    CString version;
    e.recorded = ReadProductValue(record.szFileName.str().c_str(), kVersionChars, version);
    e.version = version.str();
    if (::GetFileAttributesW(Wide(destination.str()).c_str()) != INVALID_FILE_ATTRIBUTES) {
        e.previous = (folder + "\\" + CString(std::to_string(m_entries.size() + 1))).str();
        if (!::CopyFileW(Wide(destination.str()).c_str(), Wide(e.previous).c_str(), FALSE)) {
            m_events.PreviousNotKept(destination, ::GetLastError());
            return false;
        }
    }
    m_entries.push_back(e);
    return true;
}

bool CPreviousCopies::KeepBeforePlacing(const CString& installPath, CUpdateFileArray& list, PlacementRule rule) {
    const CString folder = PreviousFolder(installPath);
    const bool first = m_entries.empty();
    if (!EnsureAdministratorsOnlyFolder(folder)) {
        m_events.PreviousNotKept(folder, ::GetLastError());
        return false;
    }
    if (first) DeleteFilesIn(Wide(folder.str()));  // the generation before this run's
    const std::size_t before = m_entries.size();
    for (UPDATE_FILE_INFO& record : list) {
        CString destination;
        if (!record.bFetched || !PlacementDestination(rule, installPath, record.szFileName, destination)) continue;
        if (!KeepOne(folder, record, destination)) record.bFetched = false;
    }
    if (m_entries.size() == before) return true;
    if (WriteJournal(JournalPath(installPath), m_entries)) return true;
    m_events.PreviousNotKept(JournalPath(installPath), ::GetLastError());
    for (UPDATE_FILE_INFO& record : list) record.bFetched = false;
    m_entries.resize(before);
    return false;
}

void CPreviousCopies::PlacementsDone(const CString& installPath) {
    if (!m_entries.empty()) ::DeleteFileW(Wide(JournalPath(installPath).str()).c_str());
    m_entries.clear();
}
