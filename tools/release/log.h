#pragma once
// The release folder's transparency log (log/): its entries, tiles and signed checkpoint, read and checked,
// grown by publish, listed by audit, cosigned by a witness. The tree and the formats are the updater's own
// (core/tlog.h).
#include <string>
#include <utility>
#include <vector>

#include <openssl/evp.h>

#include "core/tlog.h"
#include "release_tool.h"

namespace release_tool {

core::tlog::Hasher ToolHasher();

struct Log {
    std::vector<std::string> entries;            // "PATH SHA256HEX\n", in the log's order
    std::vector<core::tlog::Hash> leaves;        // their leaf hashes
    core::tlog::Checkpoint checkpoint;           // size 0 and no origin: the folder has no log yet
    core::tlog::Note note;                       // the checkpoint as signed
};

// The folder's log, read whole and checked: every entry bundle and tile its checkpoint's size needs, each
// tile the hashes of the entries, the root the checkpoint's. A folder without log/ has an empty one.
bool ReadLog(const std::string& releaseDir, Log& log, std::vector<Problem>& problems);

// One signature line of a signed note (ECDSA P-256, the key ID its SubjectPublicKeyInfo's) by key, named name.
bool SignNote(EVP_PKEY* key, const core::P256Point& point, const std::string& name, const std::string& text,
              core::tlog::NoteSignature& signature);
// Whether the note carries a signature by point under name that verifies (and none under that name and ID
// that does not).
bool NoteSignedBy(const core::tlog::Note& note, EVP_PKEY* key, const core::P256Point& point, const std::string& name);

// The log grown by the entries: the tiles and bundles that changed, then the checkpoint signed with key
// under origin, as (path, bytes) in the order to write them.
std::vector<std::pair<std::string, std::string>> GrowLog(const std::string& releaseDir, Log& log, const std::vector<std::string>& entries,
                                                         const std::string& origin, EVP_PKEY* key, const core::P256Point& point);

// What the signer of a log keeps of it beside its private key: the last checkpoint it signed, which every
// later log it signs must continue.
std::string KeptCheckpointPath(const std::string& privatePath);
// Whether the folder's log continues the kept checkpoint (none kept: any log does); why not, otherwise.
bool ContinuesKept(const Log& log, const std::string& keptPath, std::vector<Problem>& problems);

// audit: every entry of the folder's log, in order, as "INDEX PATH SHA256HEX", after the whole log is
// checked; with public keys, the checkpoint must be signed by one of them. lines: what it prints.
bool Audit(const std::string& releaseDir, const std::vector<std::string>& publicKeyPaths, std::vector<std::string>& lines,
           std::vector<Problem>& problems);

// witness: the folder's checkpoint cosigned with the witness's key (its line replaces an older one of the
// same key), after checking it is signed by the log's key under its origin and is consistent (a proof
// from the folder's tiles) with the checkpoint kept in statePath, the last one this witness cosigned.
struct WitnessOptions {
    std::string privatePath, name, logKeyPath, statePath;
};
bool Witness(const std::string& releaseDir, const WitnessOptions& options, std::string& said, std::vector<Problem>& problems);

}  // namespace release_tool
