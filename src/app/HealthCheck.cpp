#include "app/HealthCheck.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "core/install_stats.h"
#include "core/platform.h"
#include "core/product.h"
#include "framework/detached_call.h"
#include "framework/win_text.h"
#include "host/os_type.h"
#include "host/process_shutdown.h"
#include "net/install_stats.h"

namespace {

// The product's programs end before their files are put back: they run on the releases taken back.
void EndProductPrograms(const CString& installDir) {
    const bool nineX = core::IsNineXFamily(GetOSType());
    for (const char* program : product::kStoppedPrograms) {
        std::string path;
        if (core::JoinPath(installDir.str(), program, path)) TerminateProcessByPath(path.c_str(), nineX);
    }
}

std::string Seconds(DWORD ms) { return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s"; }

}  // namespace

MonitorStart StartMonitor(const CString& installDir, CRunLog& log) {
    MonitorStart start;
    start.folder = installDir;
    const CString monitor = installDir + "\\" + product::kMonitorProgram;
    start.present = ::PathFileExistsW(Wide(monitor).c_str()) != FALSE;
    if (!start.present) return start;
    const std::wstring file = Wide(monitor), folder = Wide(installDir);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_SHOW;
    if (::ShellExecuteExW(&info)) {
        start.process.reset(info.hProcess);
        log.Note("monitor " + monitor.str() + " started");
    } else {
        start.error = ::GetLastError();
        log.Note("could not start the monitor " + monitor.str() + " (" + ErrorText(start.error) + ")", true);
    }
    return start;
}

std::vector<HealthReport> CheckHealth(CPreviousCopies& previous, const CString& installPath, const MonitorStart& monitor, CRunLog& log,
                                      DWORD windowMs) {
    std::vector<HealthReport> reports;
    for (const core::JournalRelease& r : previous.TakenBackAtStart()) reports.push_back({r, STILL_ACTIVE});
    if (!previous.AwaitsHealthCheck() || windowMs == 0) return reports;
    const std::string releases = core::ReleasesText(previous.Releases());
    // Without a monitor (or one whose process cannot be watched) nothing can judge them: they stand.
    if (!monitor.present || (monitor.error == ERROR_SUCCESS && !monitor.process)) {
        log.Note("no monitor to watch: " + releases + " stand without a health check; the previous copies are removed");
        previous.Passed(installPath);
        return reports;
    }
    DWORD exitCode = monitor.error;
    std::string why = "the monitor could not be started (" + ErrorText(monitor.error) + ")";
    if (monitor.process) {
        previous.WindowBegins(installPath);
        log.Note("watching the monitor for " + Seconds(windowMs) + ", the health check of " + releases + ": it passes if the monitor runs so long");
        const DWORD startedAt = ::GetTickCount();
        if (::WaitForSingleObject(monitor.process.get(), windowMs) != WAIT_OBJECT_0 || !::GetExitCodeProcess(monitor.process.get(), &exitCode) ||
            exitCode == 0) {
            const bool ended = exitCode == 0 && ::GetTickCount() - startedAt < windowMs;
            log.Note(std::string("the monitor ") + (ended ? "ended with exit code 0" : "ran through its health window") + ": " + releases +
                     " passed the health check; the previous copies are removed");
            previous.Passed(installPath);
            return reports;
        }
        why = "the monitor ended with exit code " + std::to_string(exitCode) + " after " + Seconds(::GetTickCount() - startedAt);
    }
    EndProductPrograms(installPath);
    const CStopSignal never;
    for (const core::JournalRelease& r : previous.TakeBack(installPath, why, never)) reports.push_back({r, exitCode});
    StartMonitor(monitor.folder, log);  // on the releases before: not watched
    return reports;
}

void SendHealthReports(const std::vector<HealthReport>& reports, const std::shared_ptr<CRunLog>& log, DWORD graceMs) {
    std::vector<ScopedHandle> threads;
    for (const HealthReport& report : reports) {
        ScopedHandle thread = StartDetached([report, log] {
            const std::string target =
                core::HealthReportTarget(product::kHealthObject, report.release.file, report.release.serial, report.exitCode);
            const DWORD error = TellingFaults(*log, "health report", DWORD{ERROR_SUCCESS}, [&target] { return ReportHealth(CString(target)); });
            if (error != ERROR_SUCCESS) {
                log->Note("the health report " + target + " could not be sent (" + ErrorText(error) + ")", true);
            } else {
                log->Note("health report sent: " + target);
            }
        });
        if (thread) threads.push_back(std::move(thread));
    }
    std::vector<HANDLE> waited;
    for (const ScopedHandle& t : threads) waited.push_back(t.get());
    if (!waited.empty()) ::WaitForMultipleObjects(static_cast<DWORD>(waited.size()), waited.data(), TRUE, graceMs);
}
