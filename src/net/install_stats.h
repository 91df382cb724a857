#pragma once
// The install statistics report: the adapter address from NetBIOS, one GET whose answer is never read.
#include <windows.h>

#include "framework/cstring.h"

// The text of the last adapter that answered an adapter-status command; empty when none did.
CString GetMacAddress();

// 87 when any text is empty (nothing sent); 1 when the request was sent, 0 when it could not be.
int SendHttpRequest(CString strHost, CString strObject, CString strBody);

// The report for this adapter to the statistics host built into the program: ERROR_SUCCESS when it was
// sent, otherwise the platform's error (for the log; the update does not depend on it).
DWORD ReportInstall(CString strAdapter);
// The health report (its request target, as core::HealthReportTarget makes it) to the same host, without a body.
DWORD ReportHealth(CString strTarget);
// The install report, for callers that never look at its outcome: always 1.
int SendInstallStats(CString strAdapter);
