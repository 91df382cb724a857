// The install statistics report, sent as the dialog starts.
#include "app/UpdaterDlg.h"
#include "build_config.h"
#include "core/install_stats.h"
#include "net/install_stats.h"

CString CUpdaterDlg::GetMacAddress() { return AdapterText(); }

int CUpdaterDlg::SendInstallStats(CString strAdapter) {
    CString body;
    body.Format("InstallInfo=%s,%s,%s", kPartnerCode, kPartnerCode, strAdapter.GetString());
    SendHttpRequest(UPDATER_STATS_HOST, kStatsObject, body);
    return 1;
}

int CUpdaterDlg::SendHttpRequest(CString strHost, CString strObject, CString strBody) {
    return SendStatsRequest(strHost, strObject, strBody);
}
