#pragma once
// The way back from a run's placements. Before a pass replaces installed files, the installed copy of each
// is kept with its recorded version, in a folder of the updater's own in the install folder that only
// administrators and the system may use (one generation: the next run's first placement clears it), and a
// journal of them is written whole and flushed before the first replacement. It goes when the run's
// placements are done. A start that finds it (the power failed, the process was ended while files were being
// placed) puts every file back as it was before that run, version records included, and then runs as usual.
#include <vector>

#include "core/journal.h"
#include "framework/cstring.h"
#include "framework/stop_signal.h"
#include "update/placement.h"
#include "update/run_events.h"
#include "update/update_file.h"

class CPreviousCopies {
public:
    CPreviousCopies(IRunEvents& events, const CStopSignal& stop) : m_events(events), m_stop(stop) {}

    // At a run's start, once the product's programs are ended: a cut run's files put back, as its journal says.
    void MendCutRun(const CString& installPath);
    // Before a pass places the fetched records of list under rule: the previous copy of each, added to the
    // journal, written whole. A record whose copy cannot be kept is not placed (told); false when the
    // journal could not be written (nothing of the pass is placed).
    bool KeepBeforePlacing(const CString& installPath, CUpdateFileArray& list, PlacementRule rule);
    // The run's placements are done: its journal goes (the previous copies stay).
    void PlacementsDone(const CString& installPath);

private:
    bool KeepOne(const CString& folder, UPDATE_FILE_INFO& record, const CString& destination);

    IRunEvents& m_events;
    const CStopSignal& m_stop;
    std::vector<core::JournalEntry> m_entries;  // this run's, so far
};
