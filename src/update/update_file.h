#pragma once
// One due file of a version-info file, and the ordered list of them.
#include <vector>

#include "core/release.h"
#include "framework/cstring.h"

struct UPDATE_FILE_INFO {
    CString szFileName;  // as listed (at most 259 characters)
    CString szVersion;   // as listed (at most 127 characters)
    int nReserved = 0;
    int bRegister = 0;   // register with regsvr32 once placed
    int bOpen = 0;       // open with the shell once placed
    bool bHasDigest = false;      // the entry gives the SHA-256 of the file
    core::Sha256Digest digest{};  // the download must have it
    bool bHasSize = false;        // the entry gives the file's length
    std::uint64_t nSize = 0;      // the download must be exactly this long
    bool bFetched = false;  // downloaded completely in this run
    bool bPlaced = false;   // moved into its destination in this run
    bool bRunning = false;  // its destination is the running program's own file (never registered or opened)
};

// Records in the order of the file; each is freed exactly once, with the list, by the pass that owns it.
using CUpdateFileArray = std::vector<UPDATE_FILE_INFO>;

// Appends a record; one that cannot be stored (no memory) is dropped and reading goes on.
void AppendUpdateFile(CUpdateFileArray& list, const UPDATE_FILE_INFO& record);
// Removes the record of that name (letter case aside), if the list holds one.
void RemoveUpdateFile(CUpdateFileArray& list, const CString& name);
