// The two update passes: one procedure, the points in which the DB pass and the program pass differ
// given as settings; with their version-info steps and their placement steps. Every file is placed
// before the first is registered, and registered before the first version is recorded.
#include <shlwapi.h>

#include <algorithm>

#include "core/block_map.h"
#include "core/kept_parts.h"
#include "core/platform.h"
#include "core/product.h"
#include "core/text.h"
#include "core/version_info.h"
#include "framework/cng.h"
#include "framework/file_at.h"
#include "framework/handles.h"
#include "framework/win_text.h"
#include "host/install_dir.h"
#include "host/registry_key.h"
#include "update/file_blocks.h"
#include "update/placement.h"
#include "update/release_check.h"
#include "update/update_run.h"
#include "update/version_info_file.h"

namespace {
// A version-info file, a block map and a request for ranges arrive whole within a minute.
constexpr DWORD kSmallFetchWithinMs = 60000;
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
    unsigned long error = 0;
    const PassEnd end = PassSteps(s, error);
    m_events->PassEnded(s.pass, m_stop.Raised() ? PassEnd::Stopped : end, error);
    return end == PassEnd::Done || end == PassEnd::Current;
}

PassEnd CUpdateRun::PassSteps(const PassSettings& s, unsigned long& error) {
    // Each pass starts from its own file: a program version-info file without "SITE" and "SUBDIR"
    // downloads from the configured server, never from where the DB pass pointed.
    m_strSite.Empty();
    m_strSubDir.Empty();
    m_mirrors.clear();

    const CString temp = GetUpdateTempFolder();
    if (temp.IsEmpty()) return PassEnd::NoTempFolder;  // nowhere to download to
    // The folder is fresh, and goes with everything the pass put in it when the pass ends, however it ends.
    const CRunFolder::RemovedAtScopeEnd removeFolder{m_runFolder}, removeOwnFolder{m_ownFolder};
    const CString own = OwnFilesFolder();
    std::string local;
    if (own.IsEmpty() || !core::JoinPath(own.str(), s.localName.str(), local)) return PassEnd::NoTempFolder;

    {
        CRegistryKey key;
        const LONG opened = key.Open(HKEY_LOCAL_MACHINE, ProductKeyPath(), KEY_ALL_ACCESS);
        if (opened != ERROR_SUCCESS) {
            error = static_cast<unsigned long>(opened);
            if (s.productKeyRequired) return PassEnd::NoProductKey;
        } else if (m_strInstallPath.IsEmpty()) {
            // Settled once per run: a value written while the run goes on never moves it.
            CString installPath;
            if (QueryTextValue(key, product::kInstallPathValue, kInstallPathChars, installPath)) m_strInstallPath = installPath;
        }
    }
    SettleInstallFolder(m_strInstallPath);
    if (m_strInstallPath.IsEmpty()) return PassEnd::NoInstallFolder;  // no folder to put anything in

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

    // The listed files' hosts: the site, then the release's mirrors in their order.
    std::vector<CString> fileHosts{m_strSite};
    fileHosts.insert(fileHosts.end(), m_mirrors.begin(), m_mirrors.end());
    const long count = static_cast<long>(list.size());
    for (long i = 1; i <= count; ++i) {
        UPDATE_FILE_INFO& record = list[static_cast<std::size_t>(i - 1)];
        CString object;
        object.Format("%s/%s", m_strSubDir.GetString(), record.szFileName.GetString());
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
        // Checked by its digest and size, a listed file may come from a cache.
        DownloadChecks listed;
        listed.pDigest = record.bHasDigest ? &record.digest : nullptr;
        listed.pSize = record.bHasSize ? &record.nSize : nullptr;
        listed.keptParts = keptParts;
        CString fileServedBy;
        if (!FetchByBlocks(s.rule, record, object, CString(tempFile))) {
            if (m_stop.Raised()) break;
            if (!DownloadFromHosts(TRUE, fileHosts, object, CString(tempFile), listed, fileServedBy)) break;  // the rest is not attempted
        }
        record.bFetched = true;
        m_events->FileFetched(s.pass, i);
        if (!m_stop.Pause(kFileStepPauseMs)) break;
    }
    if (m_stop.Raised()) return PassEnd::Stopped;  // closing: nothing is placed any more

    PlaceDownloadedFiles(&list, temp, s.rule);
    RegisterPlacedFiles(&list);
    RecordFileVersions(&list);
    return PassEnd::Done;
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
    for (std::size_t next = 0;;) {
        const std::vector<CString> left(hosts.begin() + static_cast<std::ptrdiff_t>(next), hosts.end());
        if (!DownloadFromHosts(FALSE, left, s.versionInfoObject, local, versionInfo, served)) return PassEnd::VersionInfoNotFetched;
        next += static_cast<std::size_t>(std::find(left.begin(), left.end(), served) - left.begin()) + 1;
        m_strSite.Empty();
        m_strSubDir.Empty();
        m_mirrors.clear();
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

BOOL CUpdateRun::DownloadFromHosts(BOOL bShowProgress, const std::vector<CString>& hosts, const CString& object,
                                   const CString& localFile, DownloadChecks checks, CString& served) {
    // Each host in turn, same path: the download fails only when every host failed (a stop ends the turn).
    // A host that says "come back in a moment" (503 or 429 with Retry-After, at most a minute) is asked
    // again once after that wait; a stop ends the wait at once. One that refused the rest of a kept part, or
    // sent a rest that proved the part wrong, is asked once more at once for the whole file.
    // The waits of one file add up to at most a minute over all its hosts: a chain of hosts that each ask for
    // one cannot hold the stopped product for minutes.
    const DWORD startedMs = ::GetTickCount();
    std::int64_t waited = 0;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        checks.bOtherHostLeft = i + 1 < hosts.size();
        for (checks.bMayAskAgain = true;; checks.bMayAskAgain = false) {
            checks.nWaitLeftS = core::kMaxRetryAfterSeconds - waited;
            const Fetched f = Fetch(bShowProgress, hosts[i], object, localFile, checks);
            if (f.outcome.ok) {
                served = hosts[i];
                if (waited > 0) m_events->CameAfterWaits(core::DisplayUrl(served.str(), object.str()), waited, ::GetTickCount() - startedMs);
                return TRUE;
            }
            if (m_stop.Raised()) return FALSE;
            if (f.next == core::NextAttempt::WholeAgain) continue;  // at once, the kept part gone
            if (f.next != core::NextAttempt::SameHostLater) break;
            if (!m_stop.Pause(static_cast<DWORD>(f.outcome.retryAfter) * 1000)) return FALSE;
            waited += f.outcome.retryAfter;
        }
    }
    return FALSE;
}

namespace {

constexpr std::size_t kRangesPerRequest = 32;                // a Range header of a few hundred bytes
constexpr std::uint64_t kRangeBytesPerRequest = 512 * 1024;  // within a minute at 9 KB/s
constexpr DWORD kCopyPiece = 64 * 1024;

// A file the run downloaded with a bound, read whole.
bool ReadDownloaded(const CString& path, std::string& bytes) {
    const ScopedFile file(::CreateFileW(Wide(path.str()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > 64 * 1024 * 1024) return false;
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    return bytes.empty() || ReadAt(file.get(), 0, &bytes[0], static_cast<DWORD>(bytes.size()));
}

// A new file of the map's size at path, holding each block found in old where the map puts it; false too
// when stop was raised (a stop is answered at every block).
bool CopyFoundBlocks(HANDLE old, const core::BlockMap& map, const std::vector<std::int64_t>& found, const CString& path,
                     const CStopSignal& stop) {
    const ScopedFile out(::CreateFileW(Wide(path.str()).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    size.QuadPart = static_cast<LONGLONG>(map.fileSize);
    if (!out || !::SetFilePointerEx(out.get(), size, nullptr, FILE_BEGIN) || !::SetEndOfFile(out.get())) return false;
    std::vector<char> piece(kCopyPiece);  // a block fits: the tool's blocks are at most 64 KiB
    for (std::size_t j = 0; j < found.size(); ++j) {
        if (found[j] < 0) continue;
        if (stop.Raised()) return false;
        const DWORD length = map.BlockLength(j);
        if (!ReadAt(old, static_cast<std::uint64_t>(found[j]), piece.data(), length) ||
            !WriteAt(out.get(), static_cast<std::uint64_t>(j) * map.blockSize, piece.data(), length)) {
            return false;
        }
    }
    return true;
}

// Whether the file at path has this SHA-256; false too when stop was raised (answered at every piece).
bool HasDigest(const CString& path, const core::Sha256Digest& digest, const CStopSignal& stop) {
    CSha256 whole;
    std::vector<char> piece(kCopyPiece);
    {
        const ScopedFile made(::CreateFileW(Wide(path.str()).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        for (DWORD n = 0; made && !stop.Raised() && ::ReadFile(made.get(), piece.data(), kCopyPiece, &n, nullptr) && n > 0;) {
            whole.Update(piece.data(), n);
        }
    }
    core::Sha256Digest got{};
    return !stop.Raised() && whole.Finish(got) && got == digest;
}

}  // namespace

bool CUpdateRun::FetchBlockMap(const UPDATE_FILE_INFO& record, const CString& object, core::BlockMap& map, std::uint64_t& bytes) {
    const CString own = OwnFilesFolder();
    if (own.IsEmpty()) return false;
    // Exactly as long as the tool's map of a file of this size, in the run's own folder (a listed file may be
    // named as the map is).
    const CString mapFile = own + "\\" + product::kFetchedMapName;
    DownloadChecks checks;
    const std::uint64_t blockSize = core::ChooseBlockSize(record.nSize);
    checks.nMaxBytes = core::kBlockMapHeaderSize + (record.nSize + blockSize - 1) / blockSize * core::kBlockEntrySize;
    checks.nWholeWithinMs = kSmallFetchWithinMs;
    checks.bWholeFileLeft = true;
    if (!DownloadFile(FALSE, kVerbGet, m_strSite, object + ".blocks", "", mapFile, checks)) return false;
    std::string mapBytes;
    const bool read = ReadDownloaded(mapFile, mapBytes);
    ::DeleteFileW(Wide(mapFile.str()).c_str());
    if (!read || !core::ParseBlockMap(mapBytes, record.nSize, map)) {
        m_events->NotByBlocks(record.szFileName, "its block map is damaged or not the map of this file");
        return false;
    }
    bytes = mapBytes.size();
    return true;
}

BOOL CUpdateRun::FetchByBlocks(PlacementRule rule, const UPDATE_FILE_INFO& record, const CString& object, const CString& localFile) {
    // Only a large file of a signed (or sized and digested) entry, with an older copy installed.
    if (!record.bHasDigest || !record.bHasSize || record.nSize < core::kMinMappedFileSize) return FALSE;
    CString installed;
    if (!PlacementDestination(rule, m_strInstallPath, record.szFileName, installed)) return FALSE;
    const ScopedFile old(::CreateFileW(Wide(installed.str()).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!old) return FALSE;  // none: the whole file, nothing to tell
    core::BlockMap map;
    std::uint64_t mapBytes = 0;
    if (!FetchBlockMap(record, object, map, mapBytes)) return FALSE;

    // Which of its blocks the installed copy holds, wherever they are in it.
    std::vector<std::int64_t> found;
    switch (FindMappedBlocks(old.get(), map, m_stop, found)) {
    case BlockSearch::Done:
        break;
    case BlockSearch::Stopped:
        return FALSE;
    case BlockSearch::NoSha256:
        m_events->NotByBlocks(record.szFileName, "this system cannot compute SHA-256 (CNG)");
        return FALSE;
    case BlockSearch::ReadFailed:
        m_events->NotByBlocks(record.szFileName, "its installed copy could not be read");
        return FALSE;
    case BlockSearch::MapProvedFalse:
        m_events->NotByBlocks(record.szFileName, "its block map proved false (its checksums met the installed copy again and again, "
                                                 "its hashes never)");
        return FALSE;
    }
    const std::vector<core::ByteRange> missing = core::MissingRanges(map, found);
    std::uint64_t asked = 0;
    for (const core::ByteRange& r : missing) asked += r.end - r.first;
    if (asked + mapBytes >= record.nSize) {
        m_events->NotByBlocks(record.szFileName, "its installed copy holds too little of it");
        return FALSE;
    }

    // The run's copy: the installed copy's blocks where they belong, then the missing ranges from the server.
    if (!CopyFoundBlocks(old.get(), map, found, localFile, m_stop)) {
        if (!m_stop.Raised()) m_events->NotByBlocks(record.szFileName, "its installed copy's blocks could not be copied");
        ::DeleteFileW(Wide(localFile.str()).c_str());
        return FALSE;
    }
    // Requests small enough to be held to a minute each, as the version-info files are.
    const std::vector<std::vector<core::ByteRange>> requests = core::BatchRanges(missing, kRangesPerRequest, kRangeBytesPerRequest);
    std::uint64_t arrived = 0;
    for (const std::vector<core::ByteRange>& ranges : requests) {
        DownloadChecks part;
        part.pSize = &record.nSize;
        part.ranges = ranges;
        part.nWholeWithinMs = kSmallFetchWithinMs;
        part.bWholeFileLeft = true;
        const Fetched f = Fetch(TRUE, m_strSite, object, localFile, part);
        if (!f.outcome.ok) {
            ::DeleteFileW(Wide(localFile.str()).c_str());
            return FALSE;
        }
        arrived += f.outcome.decoded;
    }
    // Checked whole, as any download of it is.
    if (!HasDigest(localFile, record.digest, m_stop)) {
        if (!m_stop.Raised()) {
            m_events->NotByBlocks(record.szFileName, "the file made from its blocks is not the published file (its SHA-256 differs)");
        }
        ::DeleteFileW(Wide(localFile.str()).c_str());
        return FALSE;
    }
    m_events->CameByBlocks(record.szFileName, arrived, record.nSize, requests.size());
    return TRUE;
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
        const ReleaseVerdict verdict = AcceptVersionInfo(bytes, name, asked, UtcNow(), BuiltInReleaseKeys());
        if (verdict.keptSerialUnreadable) m_events->KeptSerialUnreadable(m_pass, name);
        problem = verdict.problem;
        detail = verdict.detail;
    }
    if (problem != VersionInfoProblem::None) {
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
    for (const UPDATE_FILE_INFO& record : *pList) {
        if (m_stop.Raised()) break;
        // A version is recorded only for the copy that was put in place.
        if (record.bPlaced) {
            m_events->Recorded(record.szFileName, record.szVersion, WriteProductValue(record.szFileName, record.szVersion));
        }
        if (!m_stop.Pause(kFileStepPauseMs)) break;
    }
    pList->clear();
}
