#pragma once
// Fetching one file of a pass: from the first of its hosts that delivers it (the site, then the release's
// mirrors, each asked for the same path, its by-hash name first where it has one and the plain name after a
// 404 there; Retry-After waits kept within the file's minute; the whole file once
// more at once where a kept part proved wrong), and for a listed file with an older copy installed, first by
// blocks: only what that copy lacks is asked of the site, the file made from both checked whole. Each attempt
// is one watched download (CWatchedDownloads); the order of attempts is core::HostTurns, the ranges
// core::PlanByBlocks.
#include <vector>

#include "framework/cstring.h"
#include "framework/stop_signal.h"
#include "update/run_events.h"
#include "update/update_file.h"
#include "update/watched_download.h"

// Where a listed file lies on its hosts: its path as listed, and its by-hash name beside it when its
// version-info file says it has one (empty: none). Hosts are asked for the by-hash name first.
struct ListedPaths {
    CString object;
    CString byHash;
};

struct FileFetched {
    bool ok = false;        // the file is in its local copy, whole and right
    CString host;           // the host that delivered it
    bool byBlocks = false;  // mostly from its installed copy
};

class CFileFetch {
public:
    // ownFolder: the pass's folder of its own files (attempts, a block map), beside its download folder.
    CFileFetch(CWatchedDownloads& downloads, IRunEvents& events, const CStopSignal& stop, CString ownFolder)
        : m_downloads(downloads), m_events(events), m_stop(stop), m_ownFolder(std::move(ownFolder)) {}

    // paths.object (its by-hash name first, where it has one) from the first of hosts that delivers it whole
    // (GET), with checks.
    FileFetched FromHosts(bool showProgress, const std::vector<CString>& hosts, const ListedPaths& paths, const CString& localFile,
                          const DownloadChecks& checks);
    // A listed file (record) at paths on the site: by blocks when installed names an older copy of it (empty:
    // none) and that works out, else whole from hosts, resuming from keptParts.
    FileFetched Listed(const UPDATE_FILE_INFO& record, const std::vector<CString>& hosts, const ListedPaths& paths,
                       const CString& installed, const CString& localFile, const CString& keptParts);

private:
    // false, the reason told (or a stop): the whole file instead.
    bool ByBlocks(const UPDATE_FILE_INFO& record, const CString& site, const ListedPaths& paths, const CString& installed,
                  const CString& localFile);
    // The map of the file at paths (NAME.blocks beside the name asked); served: the name whose map it is, of
    // which the ranges are asked.
    bool FetchBlockMap(const UPDATE_FILE_INFO& record, const CString& site, const ListedPaths& paths, core::BlockMap& map,
                       std::uint64_t& bytes, CString& served);
    // One GET of object from host into localFile.
    CWatchedDownloads::Fetched Get(bool showProgress, const CString& host, const CString& object, const std::string& localFile,
                                   const DownloadChecks& checks, const core::Turn& turn);
    std::string OwnFile(const char* name);  // a new file's path in the own folder ("" without one)

    CWatchedDownloads& m_downloads;
    IRunEvents& m_events;
    const CStopSignal& m_stop;
    CString m_ownFolder;
    unsigned m_made = 0;
};
