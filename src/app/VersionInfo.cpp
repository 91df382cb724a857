// The update dialog's version-info steps: read a file, handle its lines, compare an entry with what is
// installed.
#include "app/UpdaterDlg.h"
#include "core/release.h"
#include "core/version_info.h"
#include "update/release_check.h"
#include "update/version_info_file.h"

BOOL CUpdaterDlg::ReadVersionInfo(CString strPath, CUpdateFileArray* pList) {
    std::string bytes;
    if (!ReadVersionInfoBytes(strPath, bytes)) return FALSE;
    // With the vendor's keys built in, a file that is not its signed release is unreadable: nothing of it
    // is used. The bytes checked are the bytes then read.
    const std::string path = strPath.str();
    if (!AcceptVersionInfo(bytes, CString(path.substr(path.find_last_of('\\') + 1)), BuiltInReleaseKeys())) return FALSE;
    ForEachVersionInfoLine(bytes, [&](const CString& line) { ParseVersionInfoLine(line, pList); });
    return TRUE;
}

void CUpdaterDlg::ParseVersionInfoLine(CString strLine, CUpdateFileArray* pList) {
    const core::ClassifiedLine line = core::ClassifyLine(strLine.str());
    switch (line.kind) {
    case core::LineKind::Ignored:
        return;
    case core::LineKind::Site:
        m_strSite = line.value.empty() ? m_strServerHost : CString(line.value);
        return;
    case core::LineKind::SubDir:
        m_strSubDir = core::NormaliseSubDir(line.value);
        return;
    case core::LineKind::Entry:
        break;
    }
    const core::EntryFields fields = core::ParseEntryFields(line.value);
    UPDATE_FILE_INFO record;
    record.szFileName = core::KeepChars(line.key, core::kMaxFileNameChars);
    record.szVersion = fields.version;
    record.nReserved = fields.reserved;
    record.bRegister = fields.registerFlag;
    record.bOpen = fields.openFlag;
    // A digest the entry claims must be one: an entry that cannot be checked is never fetched.
    if (core::ClaimsDigest(fields.digest)) {
        if (!core::ParseDigestField(fields.digest, record.digest)) return;
        record.bHasDigest = true;
    }
    // A name listed again replaces what its earlier line said: the last line wins, as for SITE and SUBDIR.
    RemoveUpdateFile(*pList, record.szFileName);
    if (IsUpdateNeeded(line.key, record.szVersion)) AppendUpdateFile(*pList, record);
}

BOOL CUpdaterDlg::IsUpdateNeeded(CString strFileName, CString strVersion) {
    return IsEntryDue(m_strInstallPath, strFileName, strVersion);
}
