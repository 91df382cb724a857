#pragma once
// The way back from a run's placements. Before a pass replaces installed files, the installed copy of each
// is kept with its recorded version, in a folder of the updater's own in the install folder that only
// administrators and the system may use (one generation), and a journal of them is written whole and flushed
// before the first replacement. Once the run's placements are done the journal stays, as placed, until the
// releases it names pass their health check (the monitor watched as the dialog closes): then it goes with the
// copies; if they fail it, every file is put back as it was before them. A start that finds the journal of a
// run cut while it placed files puts every file back first; one that finds a health window that never ended
// watches it again, and after a second takes the releases back.
#include <vector>

#include "core/journal.h"
#include "framework/cstring.h"
#include "framework/stop_signal.h"
#include "update/placement.h"
#include "update/run_events.h"
#include "update/update_file.h"

class CPreviousCopies {
public:
    // A health window that began this many times and never ended counts as a failed check.
    static constexpr unsigned kWindowsNeverEnded = 2;

    CPreviousCopies(IRunEvents& events, const CStopSignal& stop) : m_events(events), m_stop(stop) {}

    // At a run's start, once the product's programs are ended: what the journal left there says.
    void Started(const CString& installPath);
    // Before a pass of release places the fetched records of list under rule: the previous copy of each,
    // added to the journal, written whole. A record whose copy cannot be kept is not placed (told); false when
    // the journal could not be written (nothing of the pass is placed).
    bool KeepBeforePlacing(const CString& installPath, CUpdateFileArray& list, PlacementRule rule, const core::JournalRelease& release);
    // The run's placements are done: the journal stays, as placed, when they are to be watched; else it goes
    // (the previous copies stay).
    void PlacementsDone(const CString& installPath, bool watched);

    // Releases placed that have not passed their health check yet, and them.
    bool AwaitsHealthCheck() const { return m_journal.placed && !m_journal.entries.empty(); }
    const std::vector<core::JournalRelease>& Releases() const { return m_journal.releases; }
    // A health window begins: counted in the journal first, so that one cut short is known at the next start.
    void WindowBegins(const CString& installPath);
    // They passed it: the journal goes, and every previous copy with it.
    void Passed(const CString& installPath);
    // They failed it (why, for the log): remembered as taken back, every file put back as it was before them,
    // records included; the releases taken back, for the reports. stop ends it early (the rest is taken
    // back at the next start).
    std::vector<core::JournalRelease> TakeBack(const CString& installPath, const std::string& why, const CStopSignal& stop);
    // Those that this run's start took back (their windows never ended), for the reports.
    const std::vector<core::JournalRelease>& TakenBackAtStart() const { return m_takenBackAtStart; }

private:
    bool KeepOne(const CString& folder, UPDATE_FILE_INFO& record, const CString& destination);
    // Every entry put back, last first; false when stopped (the journal keeps what is left).
    bool PutBackAll(const CString& installPath, const CStopSignal& stop);
    // The journal and every previous copy gone.
    void Forget(const CString& installPath);

    IRunEvents& m_events;
    const CStopSignal& m_stop;
    core::Journal m_journal;  // as it stands on disk (or is about to)
    bool m_placing = false;   // this run added entries that are not placed yet
    std::vector<core::JournalRelease> m_takenBackAtStart;
};
