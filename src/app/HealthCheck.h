#pragma once
// The health check of the releases a run placed. The monitor that the closing dialog starts is watched, with
// no window shown, for the build's health window; ending with a failure code in it (or not starting at all)
// takes those releases back: their files put back as they were, the monitor started again, and one report
// per release to the statistics host. Passing it removes their previous copies.
#include <vector>

#include "core/journal.h"
#include "framework/cstring.h"
#include "framework/handles.h"
#include "update/previous_copies.h"
#include "update/run_log.h"

// The monitor as the dialog started it.
struct MonitorStart {
    CString folder;               // the install folder it was started in
    bool present = false;         // installed there
    ScopedHandle process;         // its process; empty when it could not be started (error) or not watched
    DWORD error = ERROR_SUCCESS;  // why it could not be started
};
// Starts the monitor of the product in installDir as the shell opens it (none installed: nothing), told in log.
MonitorStart StartMonitor(const CString& installDir, CRunLog& log);

// What the statistics host is told of a release taken back: it, and the monitor's exit code (or the error of
// its start; STILL_ACTIVE when its windows never ended).
struct HealthReport {
    core::JournalRelease release;
    DWORD exitCode = 0;
};

// Once the dialog is gone: the releases that previous (of the product in installPath) holds and that await
// their check are watched for windowMs on monitor, passed or taken back. Returns the reports to send: those of
// releases taken back at the run's start too.
std::vector<HealthReport> CheckHealth(CPreviousCopies& previous, const CString& installPath, const MonitorStart& monitor, CRunLog& log,
                                      DWORD windowMs);
// Sends each report on a thread of its own and waits for them at most graceMs; told in log.
void SendHealthReports(const std::vector<HealthReport>& reports, const std::shared_ptr<CRunLog>& log, DWORD graceMs);
