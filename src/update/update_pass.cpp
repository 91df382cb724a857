// The two update passes: one procedure, the points in which the DB pass and the program pass differ
// given as settings; with their version-info steps and their placement steps. Every file is placed
// before the first is registered, and registered before the first version is recorded.
#include <shlwapi.h>

#include <algorithm>

#include "core/kept_parts.h"
#include "core/platform.h"
#include "core/product.h"
#include "core/text.h"
#include "core/tlog.h"
#include "core/version_info.h"
#include "framework/file.h"
#include "framework/handles.h"
#include "framework/win_text.h"
#include "host/install_dir.h"
#include "host/registry_key.h"
#include "update/placement.h"
#include "update/log_check.h"
#include "update/release_check.h"
#include "update/update_run.h"

#include "core/tlog.h"
#include "framework/file.h"
#include "update/log_check.h"
#include "update/version_info_file.h"

namespace {
// A version-info file arrives whole within a minute (the build's span for a slow server).
constexpr DWORD kSmallFetchWithinMs = kSlowServerMs;
}  // namespace

BOOL CUpdateRun::UpdateDBFiles() {
    const CString host = BuiltInServerHost();
    PassSettings s;
    s.pass = UpdatePass::Db;
    s.versionInfoHost = host;
    s.versionInfoObject.Format("%s%s", product::kDbFolderOnServer, product::kDbVersionFile);
    s.localName = product::kDbVersionFile;
    s.productKeyRequired = true;
    s.defaultSubDir = product::kDbFolderOnServer;
    s.subDirIsAbsolute = true;
    s.rule = PlacementRule::ByExtension;
    s.partsFolder = product::kDbPartsFolder;
    return RunUpdatePass(s);
}

BOOL CUpdateRun::UpdateProgramFiles() {
    PassSettings s;
    s.pass = UpdatePass::Program;
    s.versionInfoHost = m_strServerHost;
    s.versionInfoObject.Format("%s/%s", m_strServerPath.GetString(), m_strVersionFile.GetString());
    s.localName = m_strVersionFile;
    s.productKeyRequired = false;
    s.defaultSubDir = m_strServerPath;
    s.rule = PlacementRule::InstallFolder;
    s.partsFolder = product::kProgramPartsFolder;
    return RunUpdatePass(s);
}

BOOL CUpdateRun::RunUpdatePass(const PassSettings& s) {
    m_pass = s.pass;
    RunError error = 0;
    m_refusals = {};
    const PassEnd end = PassSteps(s, error);
    m_events->PassEnded(s.pass, m_stop.Raised() ? PassEnd::Stopped : end, error);
    return end == PassEnd::Done || end == PassEnd::Current;
}

PassEnd CUpdateRun::PassStart(const PassSettings& s, RunError& error) {
    // Each pass starts from its own file: a program version-info file without "SITE" and "SUBDIR"
    // downloads from the configured server, never from where the DB pass pointed.
    m_strSite.Empty();
    m_strSubDir.Empty();
    m_mirrors.clear();
    m_byHash = false;
    if (GetUpdateTempFolder().IsEmpty() || OwnFilesFolder().IsEmpty()) return PassEnd::NoTempFolder;  // nowhere to download to
    {
        CRegistryKey key;
        const LONG opened = key.Open(HKEY_LOCAL_MACHINE, ProductKeyPath(), KEY_ALL_ACCESS);
        if (opened != ERROR_SUCCESS) {
            error = static_cast<RunError>(opened);
            if (s.productKeyRequired) return PassEnd::NoProductKey;
        } else if (m_strInstallPath.IsEmpty()) {
            // Settled once per run: a value written while the run goes on never moves it.
            CString installPath;
            if (QueryTextValue(key, product::kInstallPathValue, kInstallPathChars, installPath)) m_strInstallPath = installPath;
        }
    }
    SettleInstallFolder(m_strInstallPath);
    if (m_strInstallPath.IsEmpty()) return PassEnd::NoInstallFolder;  // no folder to put anything in
    return PassEnd::Done;
}

PassEnd CUpdateRun::PassSteps(const PassSettings& s, RunError& error) {
    // The folders are fresh, and go with everything the pass put in them when the pass ends, however it ends.
    const CRunFolder::RemovedAtScopeEnd removeFolder{m_runFolder}, removeOwnFolder{m_ownFolder};
    const PassEnd started = PassStart(s, error);
    if (started != PassEnd::Done) return started;
    std::string local;
    if (!core::JoinPath(OwnFilesFolder().str(), s.localName.str(), local)) return PassEnd::NoTempFolder;

    m_events->PassStarted(s.pass);
    CString served;
    CUpdateFileArray list;
    const PassEnd read = FetchVersionInfo(s, CString(local), list, served);
    if (read != PassEnd::Done) return read;

    m_events->FilesDue(s.pass, list.size());
    const CString keptParts = KeptPartsFolder(s, list);
    if (list.empty()) return PassEnd::Current;
    // Without "SITE", the files come from the host that served the list (a mirror of the server serves them too).
    if (m_strSite.IsEmpty()) m_strSite = served;
    if (m_strSubDir.IsEmpty()) m_strSubDir = s.subDirIsAbsolute ? "http://" + served + "/" + s.defaultSubDir : s.defaultSubDir;
    const CString temp = GetUpdateTempFolder();
    if (!FetchListedFiles(s, temp, keptParts, list)) return PassEnd::Stopped;  // closing: nothing is placed any more

    // The way back is kept before anything is replaced.
    m_previous.KeepBeforePlacing(m_strInstallPath, list, s.rule, m_release);
    m_placing = true;
    PlaceDownloadedFiles(&list, temp, s.rule);
    RegisterPlacedFiles(&list);
    RecordFileVersions(&list);
    return PassEnd::Done;
}

bool CUpdateRun::FetchListedFiles(const PassSettings& s, const CString& temp, const CString& keptParts, CUpdateFileArray& list) {
    // The listed files' hosts: the site, then the release's mirrors in their order.
    std::vector<CString> hosts{m_strSite};
    hosts.insert(hosts.end(), m_mirrors.begin(), m_mirrors.end());
    CFileFetch fetch = FileFetch();
    const long count = static_cast<long>(list.size());
    for (long i = 1; i <= count && !m_stop.Raised(); ++i) {
        UPDATE_FILE_INFO& record = list[static_cast<std::size_t>(i - 1)];
        ListedPaths paths;
        paths.object.Format("%s/%s", m_strSubDir.GetString(), record.szFileName.GetString());
        // Its by-hash name never holds other bytes, so no cache on the way can hand out an older release's.
        if (m_byHash && record.bHasDigest) paths.byHash = m_strSubDir + "/" + CString(core::ByHashName(record.digest));
        const CString& object = paths.object;
        std::string tempFile;
        if (!core::JoinPath(temp.str(), record.szFileName.str(), tempFile)) {
            // Its download copy's path would be too long: told as a download that could not begin.
            core::DownloadOutcome tooLong;
            tooLong.failure = core::DownloadFailure::LocalFile;
            tooLong.error = ERROR_FILENAME_EXCED_RANGE;
            m_events->DownloadEnded(core::DisplayUrl(m_strSite.str(), object.str()), tooLong, core::NextAttempt::None);
            break;  // the rest is not attempted
        }
        m_events->FileStarted(s.pass, record.szFileName, i, count);
        CString installed;
        if (!PlacementDestination(s.rule, m_strInstallPath, record.szFileName, installed)) installed.Empty();
        if (!fetch.Listed(record, hosts, paths, installed, CString(tempFile), keptParts).ok) break;  // the rest is not attempted
        record.bFetched = true;
        m_events->FileFetched(s.pass, i);
        if (!m_stop.Pause(kFileStepPauseMs)) break;
    }
    return !m_stop.Raised();
}

PassEnd CUpdateRun::FetchVersionInfo(const PassSettings& s, const CString& local, CUpdateFileArray& list, CString& served) {
    // Bounded in size and in time, and never an old copy from a cache: what it lists is taken as current.
    DownloadChecks versionInfo;
    versionInfo.nMaxBytes = core::kMaxVersionInfoBytes;
    versionInfo.nWholeWithinMs = kSmallFetchWithinMs;
    versionInfo.bFresh = true;
    // From its host; when that is the built-in update server, else from each of the server's mirrors.
    std::vector<CString> hosts{s.versionInfoHost};
    if (core::EqualsNoCase(s.versionInfoHost.str(), BuiltInServerHost().str())) {
        for (const std::string& mirror : core::SplitHostList(BuiltInServerMirrors())) hosts.emplace_back(mirror);
    }
    // A file that arrives but cannot be used (unsigned, expired, older, another file's, unreadable) is asked
    // of the next host as a failed download is: whoever holds one name alone cannot stop every update.
    m_strVersionInfoObject = s.versionInfoObject;
    CFileFetch fetch = FileFetch();
    for (std::size_t next = 0;;) {
        const std::vector<CString> left(hosts.begin() + static_cast<std::ptrdiff_t>(next), hosts.end());
        const FileFetched fetched = fetch.FromHosts(false, left, ListedPaths{s.versionInfoObject, CString()}, local, versionInfo);
        if (!fetched.ok) return PassEnd::VersionInfoNotFetched;
        served = fetched.host;
        next += static_cast<std::size_t>(std::find(left.begin(), left.end(), served) - left.begin()) + 1;
        m_strSite.Empty();
        m_strSubDir.Empty();
        m_mirrors.clear();
        m_byHash = false;
        list.clear();
        m_versionInfoHost = served;
        m_versionInfoHostLeft = next < hosts.size();
        const BOOL read = ReadVersionInfo(local, &list);
        ::DeleteFileW(Wide(local.str()).c_str());
        if (read) return PassEnd::Done;
        if (m_stop.Raised()) return PassEnd::Stopped;
        if (next == hosts.size()) return PassEnd::VersionInfoRefused;
    }
}

bool CUpdateRun::FetchLogFile(const std::string& inLog, bool fresh, std::string& bytes) {
    // Bounded in size, and together within the check's span; only the checkpoint changes under its name, so
    // only it is asked fresh.
    const LONG left = static_cast<LONG>(m_logDeadline - ::GetTickCount());
    if (left <= 0) return false;
    DownloadChecks checks;
    checks.nMaxBytes = core::tlog::kMaxTileBytes;
    checks.nWholeWithinMs = static_cast<DWORD>(left);
    checks.bFresh = fresh;
    const CString own = OwnFilesFolder();
    if (own.IsEmpty()) return false;
    const CString local = own + "\\log.part";
    CFileFetch fetch = FileFetch();
    const bool ok = fetch.FromHosts(false, {m_versionInfoHost}, ListedPaths{CString("/log/" + inLog), CString()}, local, checks).ok &&
                    ReadWhole(Wide(local.str()), core::tlog::kMaxTileBytes, bytes);
    ::DeleteFileW(Wide(local.str()).c_str());
    return ok;
}

CString CUpdateRun::KeptPartsFolder(const PassSettings& s, const CUpdateFileArray& list) {
    const CString folder = m_strInstallPath + "\\" + product::kKeptPartsFolder;
    const CString own = folder + "\\" + s.partsFolder;
    if (!EnsureAdministratorsOnlyFolder(folder) || !EnsureAdministratorsOnlyFolder(own)) return CString();
    std::set<std::string> wanted;
    for (const UPDATE_FILE_INFO& record : list) {
        if (record.bHasDigest && record.bHasSize) wanted.insert(core::KeptPartName(record.digest));
    }
    std::vector<core::KeptFile> files;
    WIN32_FIND_DATAW found{};
    const ScopedFind find(::FindFirstFileW(Wide((own + "\\*").str()).c_str(), &found));
    for (BOOL more = static_cast<bool>(find); more; more = ::FindNextFileW(find.get(), &found)) {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        files.push_back({Narrow(found.cFileName), (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow,
                         (std::uint64_t{found.ftLastWriteTime.dwHighDateTime} << 32) | found.ftLastWriteTime.dwLowDateTime});
    }
    for (const std::string& name : core::KeptFilesToRemove(files, wanted)) {
        ::DeleteFileW(Wide(own.str() + "\\" + name).c_str());
    }
    return own;
}

CString CUpdateRun::GetUpdateTempFolder() { return m_runFolder.Get(UpdateTempFolder()); }

// (the pass's download folder, made first, has looked for ended runs' folders already)
CString CUpdateRun::OwnFilesFolder() { return m_ownFolder.Get(UpdateTempFolder(), false); }

BOOL CUpdateRun::ReadVersionInfo(CString strPath, CUpdateFileArray* pList) {
    std::string bytes;
    VersionInfoProblem problem = ReadVersionInfoBytes(strPath, bytes);
    // With the vendor's keys built in, a file that is not its signed release is unreadable: nothing of it
    // is used. The bytes checked are the bytes then read.
    const std::string path = strPath.str();
    const CString name(path.substr(path.find_last_of('\\') + 1));
    std::string asked = m_strVersionInfoObject.str(), detail;
    if (!asked.empty() && asked[0] == '/') asked.erase(0, 1);
    if (problem == VersionInfoProblem::None) {
        const LogSettings log = BuiltInLog();
        InLogCheck inLog;
        if (*log.origin) {
            inLog = [&](std::string& why) {
                // The check as a whole has the span of one version-info file, however many tiles it asks
                // for: a server that answers each of them slowly holds the product stopped no longer.
                m_logDeadline = ::GetTickCount() + kSmallFetchWithinMs;
                const LogVerdict v = CheckInLog(bytes, asked, log, BuiltInReleaseKeys(), [this](const std::string& inLogPath, bool fresh, std::string& got) {
                    return FetchLogFile(inLogPath, fresh, got);
                });
                why = v.detail;
                return v.problem;
            };
        }
        const ReleaseVerdict verdict = AcceptVersionInfo(bytes, name, asked, UtcNow(), BuiltInReleaseKeys(), inLog);
        if (verdict.keptSerialUnreadable) m_events->KeptSerialUnreadable(m_pass, name);
        problem = verdict.problem;
        detail = verdict.detail;
        m_release = core::JournalRelease{name.str(), verdict.serial};
        if (problem == VersionInfoProblem::None && verdict.rollout.staged) m_events->RolloutDrawn(m_pass, name, verdict.rollout);
        // A release taken back here, or staged outside this machine's share, is held back, not failed:
        // nothing of it is due, and the run goes on.
        if (problem == VersionInfoProblem::None && verdict.takenBack != 0) m_events->ReleaseHeldBack(m_pass, name, verdict.serial, verdict.takenBack);
        if (problem == VersionInfoProblem::None && (verdict.takenBack != 0 || verdict.rollout.heldBack)) return TRUE;
    }
    if (problem != VersionInfoProblem::None) {
        ++(problem == VersionInfoProblem::UnknownKey ? m_refusals.forKey : m_refusals.otherwise);
        m_events->VersionInfoUnusable(m_pass, problem, detail, m_versionInfoHost.str(), m_versionInfoHostLeft);
        return FALSE;
    }
    // A thousand entries take a while to check: a stop is answered at each.
    ForEachVersionInfoLine(bytes, [&](const CString& line) {
        if (!m_stop.Raised()) ParseVersionInfoLine(line, pList);
    });
    return !m_stop.Raised();
}

void CUpdateRun::ParseVersionInfoLine(CString strLine, CUpdateFileArray* pList) {
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
    case core::LineKind::Mirror:
        m_mirrors.push_back(CString(line.value));
        return;
    case core::LineKind::ByHash:
        m_byHash = true;
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
        if (!core::ParseDigestField(fields.digest, record.digest)) {
            m_events->EntryChecked(m_pass, record.szFileName, record.szVersion, EntryVerdict::RefusedDigest);
            return;
        }
        record.bHasDigest = true;
    }
    if (core::ClaimsSize(fields.size)) {
        if (!core::ParseSizeField(fields.size, record.nSize)) {
            m_events->EntryChecked(m_pass, record.szFileName, record.szVersion, EntryVerdict::RefusedSize);
            return;
        }
        record.bHasSize = true;
    }
    // A name listed again replaces what its earlier line said: the last line wins, as for SITE and SUBDIR.
    RemoveUpdateFile(*pList, record.szFileName);
    if (IsUpdateNeeded(line.key, record.szVersion)) AppendUpdateFile(*pList, record);
}

BOOL CUpdateRun::IsUpdateNeeded(CString strFileName, CString strVersion) {
    const EntryVerdict verdict = CheckEntry(m_strInstallPath, strFileName, strVersion);
    m_events->EntryChecked(m_pass, strFileName, strVersion, verdict);
    return IsDue(verdict);
}

void CUpdateRun::PlaceDownloadedFiles(CUpdateFileArray* pList, CString strTempFolder, PlacementRule rule) {
    for (UPDATE_FILE_INFO& record : *pList) {
        if (m_stop.Raised()) return;
        // Only a file fetched whole in this run may replace an installed one.
        if (!record.bFetched) continue;
        CString destination;
        if (!PlacementDestination(rule, m_strInstallPath, record.szFileName, destination)) continue;
        m_events->Placing(record.szFileName);
        // A new copy of this program: it runs from the next start; this run goes on as it began.
        record.bRunning = IsRunningProgram(destination);
        const DWORD error = ReplaceWithDownloaded(strTempFolder + "\\" + record.szFileName, destination, m_stop, record.bRunning);
        record.bPlaced = error == ERROR_SUCCESS;
        m_events->Placed(record.szFileName, destination, error);
        if (record.bPlaced && record.bRunning) m_events->ProgramSetAside(SetAsidePath(destination));
        if (!m_stop.Pause(kFileStepPauseMs)) return;
    }
}

void CUpdateRun::RegisterPlacedFiles(CUpdateFileArray* pList) {
    const CString systemFolder = SystemFolder();
    for (const UPDATE_FILE_INFO& record : *pList) {
        if (m_stop.Raised()) return;
        // Looked for directly in the install folder, in both passes.
        const CString path = m_strInstallPath + "\\" + record.szFileName;
        if (record.bPlaced && !record.bRunning && ::PathFileExistsW(Wide(path).c_str())) {
            if (record.bRegister) m_events->RegistrationStarted(path, StartRegistration(systemFolder, path));
            if (record.bOpen) {
                m_events->Opened(path, OpenWithShell(path, m_stop, m_events));
            }
        }
        if (!m_stop.Pause(kFileStepPauseMs)) return;
    }
}

void CUpdateRun::RecordFileVersions(CUpdateFileArray* pList) {
    std::size_t looked = 0;
    for (const UPDATE_FILE_INFO& record : *pList) {
        if (m_stop.Raised()) break;
        // A version is recorded only for the copy that was put in place.
        if (record.bPlaced) {
            m_events->Recorded(record.szFileName, record.szVersion,
                               static_cast<RunError>(WriteProductValue(record.szFileName, record.szVersion)));
        }
        ++looked;
        if (!m_stop.Pause(kFileStepPauseMs)) break;
    }
    // Every record written: the pass's placements are done.
    if (looked == pList->size()) m_placing = false;
    pList->clear();
}
