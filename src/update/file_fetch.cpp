#include "update/file_fetch.h"

#include "core/product.h"
#include "framework/cng.h"
#include "framework/file.h"
#include "framework/win_text.h"
#include "update/file_blocks.h"

namespace {

// A block map and a request for ranges arrive whole within a minute, as the version-info files do.
constexpr DWORD kSmallFetchWithinMs = kSlowServerMs;
constexpr DWORD kCopyPiece = 64 * 1024;

// A new file of the map's size at path, holding each block found in old where the map puts it; false too
// when stop was raised (a stop is answered at every block).
bool CopyFoundBlocks(HANDLE old, const core::BlockMap& map, const std::vector<std::int64_t>& found, const std::string& path,
                     const CStopSignal& stop) {
    const ScopedFile out = CreateAnew(Wide(path), GENERIC_READ | GENERIC_WRITE, kShareAll);
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
bool HasDigest(const std::string& path, const core::Sha256Digest& digest, const CStopSignal& stop) {
    CSha256 whole;
    std::vector<char> piece(kCopyPiece);
    {
        const ScopedFile made = OpenToRead(Wide(path), FILE_SHARE_READ | FILE_SHARE_DELETE);
        for (DWORD n = 0; made && !stop.Raised() && ::ReadFile(made.get(), piece.data(), kCopyPiece, &n, nullptr) && n > 0;) {
            whole.Update(piece.data(), n);
        }
    }
    core::Sha256Digest got{};
    return !stop.Raised() && whole.Finish(got) && got == digest;
}

BlocksUnused ReasonOf(BlockSearch search) {
    switch (search) {
    case BlockSearch::NoSha256:
        return BlocksUnused::NoSha256;
    case BlockSearch::ReadFailed:
        return BlocksUnused::CopyUnreadable;
    default:
        return BlocksUnused::MapProvedFalse;
    }
}

}  // namespace

std::string CFileFetch::OwnFile(const char* name) {
    if (m_ownFolder.IsEmpty()) return std::string();
    return m_ownFolder.str() + "\\" + name + std::to_string(++m_made);
}

CWatchedDownloads::Fetched CFileFetch::Get(bool showProgress, const CString& host, const CString& object, const std::string& localFile,
                                           const DownloadChecks& checks, const core::Turn& turn) {
    DownloadRequest request;
    request.showProgress = showProgress;
    request.server = host.str();
    request.object = object.str();
    return m_downloads.Run(request, localFile, checks, turn, m_ownFolder);
}

FileFetched CFileFetch::FromHosts(bool showProgress, const std::vector<CString>& hosts, const ListedPaths& paths, const CString& localFile,
                                  const DownloadChecks& checks) {
    // Each host in turn: the file fails only when every host failed (a stop ends the turn at once).
    const DWORD startedMs = ::GetTickCount();
    for (core::HostTurns turns(hosts.size(), !paths.byHash.IsEmpty()); turns.Left() && !m_stop.Raised();) {
        const CString& host = hosts[turns.Host()];
        // The site is asked for the object as listed; a mirror for its own copy of the same path.
        const CString& object = turns.ByHash() ? paths.byHash : paths.object;
        const CString target = turns.Host() == 0 ? object : CString(core::TargetOnHost(object.str(), host.str()));
        const CWatchedDownloads::Fetched f = Get(showProgress, host, target, localFile.str(), checks, turns.Current());
        if (f.outcome.ok) {
            if (turns.Waited() > 0) {
                m_events.CameAfterWaits(core::DisplayUrl(host.str(), target.str()), turns.Waited(), ::GetTickCount() - startedMs);
            }
            return {true, host, false};
        }
        const std::int64_t wait = turns.After(f.next, f.outcome.retryAfter);
        if (wait > 0 && !m_stop.Pause(static_cast<DWORD>(wait) * 1000)) break;
    }
    return {};
}

FileFetched CFileFetch::Listed(const UPDATE_FILE_INFO& record, const std::vector<CString>& hosts, const ListedPaths& paths,
                               const CString& installed, const CString& localFile, const CString& keptParts) {
    if (!installed.IsEmpty() && ByBlocks(record, hosts.front(), paths, installed, localFile)) return {true, hosts.front(), true};
    if (m_stop.Raised()) return {};
    // Checked by its digest and size, the listed file may come from a cache on the way.
    DownloadChecks listed;
    listed.pDigest = record.bHasDigest ? &record.digest : nullptr;
    listed.pSize = record.bHasSize ? &record.nSize : nullptr;
    listed.keptParts = keptParts;
    return FromHosts(true, hosts, paths, localFile, listed);
}

bool CFileFetch::FetchBlockMap(const UPDATE_FILE_INFO& record, const CString& site, const ListedPaths& paths, core::BlockMap& map,
                               std::uint64_t& bytes, CString& served) {
    // Exactly as long as the tool's map of a file of this size, in the run's own folder (a listed file may be
    // named as the map is).
    if (m_ownFolder.IsEmpty()) return false;
    const std::string mapFile = m_ownFolder.str() + "\\" + product::kFetchedMapName;
    DownloadChecks checks;
    checks.nMaxBytes = core::BlockMapBytes(record.nSize);
    checks.nWholeWithinMs = kSmallFetchWithinMs;
    // The by-hash name's map, the plain name's where the site has none; any other failure: the whole file.
    bool fetched = false;
    for (core::HostTurns turns(1, !paths.byHash.IsEmpty()); !fetched && turns.Left() && !m_stop.Raised();) {
        served = turns.ByHash() ? paths.byHash : paths.object;
        core::Turn turn = turns.Current();
        turn.wholeFileLeft = true;
        const CWatchedDownloads::Fetched f = Get(false, site, served + ".blocks", mapFile, checks, turn);
        fetched = f.outcome.ok;
        turns.After(f.next, f.outcome.retryAfter);
    }
    if (!fetched) return false;
    std::string mapBytes;
    const bool read = ReadWhole(Wide(mapFile), checks.nMaxBytes, mapBytes);
    ::DeleteFileW(Wide(mapFile).c_str());
    if (!read || !core::ParseBlockMap(mapBytes, record.nSize, map)) {
        m_events.NotByBlocks(record.szFileName, BlocksUnused::MapDamaged);
        return false;
    }
    bytes = mapBytes.size();
    return true;
}

bool CFileFetch::ByBlocks(const UPDATE_FILE_INFO& record, const CString& site, const ListedPaths& paths, const CString& installed,
                          const CString& localFile) {
    if (!core::MayComeByBlocks(record.bHasDigest, record.bHasSize, record.nSize)) return false;
    const ScopedFile old = OpenToRead(Wide(installed.str()), FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!old) return false;  // none: the whole file, nothing to tell
    core::BlockMap map;
    std::uint64_t mapBytes = 0;
    CString object;  // the name whose map came: its ranges are of the same bytes
    if (!FetchBlockMap(record, site, paths, map, mapBytes, object)) return false;
    // Which of its blocks the installed copy holds, wherever they are in it.
    std::vector<std::int64_t> found;
    const BlockSearch search = FindMappedBlocks(old.get(), map, m_stop, found);
    if (search == BlockSearch::Stopped) return false;
    if (search != BlockSearch::Done) {
        m_events.NotByBlocks(record.szFileName, ReasonOf(search));
        return false;
    }
    const core::BlockPlan plan = core::PlanByBlocks(map, found, mapBytes);
    if (!plan.worthIt) {
        m_events.NotByBlocks(record.szFileName, BlocksUnused::TooLittleHeld);
        return false;
    }
    // The run's copy is made in a file of its own: the installed copy's blocks where they belong, then the
    // missing ranges from the site; it becomes the local copy only once checked whole, as any download of it.
    const std::string made = OwnFile("assembled");
    if (made.empty()) return false;
    CRemovedUnlessKept madeGoes(Wide(made));
    if (!CopyFoundBlocks(old.get(), map, found, made, m_stop)) {
        if (!m_stop.Raised()) m_events.NotByBlocks(record.szFileName, BlocksUnused::CopyFailed);
        return false;
    }
    std::uint64_t arrived = 0;
    for (const std::vector<core::ByteRange>& ranges : plan.requests) {
        DownloadChecks part;
        part.pSize = &record.nSize;
        part.ranges = ranges;
        part.nWholeWithinMs = kSmallFetchWithinMs;
        core::Turn turn;
        turn.wholeFileLeft = true;
        const CWatchedDownloads::Fetched f = Get(true, site, object, made, part, turn);
        if (!f.outcome.ok) return false;
        arrived += f.outcome.decoded;
    }
    if (!HasDigest(made, record.digest, m_stop)) {
        if (!m_stop.Raised()) m_events.NotByBlocks(record.szFileName, BlocksUnused::AssembledWrong);
        return false;
    }
    if (!::MoveFileExW(Wide(made).c_str(), Wide(localFile.str()).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        m_events.NotByBlocks(record.szFileName, BlocksUnused::NotMoved);
        return false;
    }
    madeGoes.Keep();
    m_events.CameByBlocks(record.szFileName, arrived, record.nSize, plan.requests.size());
    return true;
}
