// The install statistics report, sent as the dialog starts.
#include "app/UpdaterDlg.h"
#include "framework/detached_call.h"
#include "build_config.h"
#include "core/install_stats.h"
#include "net/install_stats.h"

CString CUpdaterDlg::GetMacAddress() { return AdapterText(); }

void CUpdaterDlg::StartInstallStats() {
    // Its outcome changes nothing in the update: it goes out on a thread of its own, so a statistics
    // server that never answers holds neither the dialog nor the run.
    m_hStats = StartDetached([] { SendInstallStats(GetMacAddress()); });
}

int CUpdaterDlg::SendInstallStats(CString strAdapter) {
    CString body;
    body.Format("InstallInfo=%s,%s,%s", kPartnerCode, kPartnerCode, strAdapter.GetString());
    SendHttpRequest(UPDATER_STATS_HOST, kStatsObject, body);
    return 1;
}

int CUpdaterDlg::SendHttpRequest(CString strHost, CString strObject, CString strBody) {
    return SendStatsRequest(strHost, strObject, strBody);
}
