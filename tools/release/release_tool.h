#pragma once
// The vendor's publishing tool: release keys, signed version-info files written from a release folder and a
// description of it, and the check of a release folder as the updater would make it. Text is UTF-8 here
// and code page 949 in the version-info files; the rules for lines and names are the updater's own
// (src/core), so the tool and the updater cannot disagree about a name or a line.
#include <cstdint>
#include <string>
#include <vector>

namespace release_tool {

// One problem: where (a file, and a line when there is one) and what.
struct Problem {
    std::string where;
    std::string what;
};
std::string Describe(const Problem& p);

// keygen: a new P-256 key pair. The private key goes to privatePath (mode 0600; an existing file is never
// replaced); publicPem and keyId describe the public key.
bool Keygen(const std::string& privatePath, std::string& publicPem, std::string& keyId, std::vector<Problem>& problems);

// pubkey: the public key (PEM) and KEYID of a private key, for the updater's build.
bool PublicKeyOf(const std::string& privatePath, std::string& publicPem, std::string& keyId, std::vector<Problem>& problems);

// The log origin the tool was built with: UPDATER_LOG_ORIGIN, else UPDATER_SERVER_HOST followed by "/log".
const char* DefaultLogOrigin();

// How publish signs and numbers: signing is never silent, so a release is signed with privatePath or
// published unsigned only when unsignedRelease says so.
struct PublishOptions {
    std::string privatePath;       // the private key that signs
    bool unsignedRelease = false;  // no key: the release is published unsigned, knowingly
    int expiresDays = 30;
    std::uint64_t serial = 0;      // --serial N: the serial to use (needed where the file replaced cannot be read)
    std::int64_t now = 0;          // the publication time, seconds since 1970 UTC; 0: the clock
    // The updater's public keys in their build order, oldest first (--rank): needed to sign with another key
    // than the one that signed a release replaced, so that publish can check every updater takes it.
    std::vector<std::string> rankedKeys;
    // The log's origin, its checkpoint's first line and its signature's key name: the updater's
    // UPDATER_LOG_ORIGIN (--log-origin). Empty: the origin of the folder's log, or for a folder without one
    // DefaultLogOrigin().
    std::string logOrigin;
};

// publish: writes each version-info file the description names into the release folder (its own path, an
// expiry expiresDays after now, a digest and a size for every file), signed unless the options say it is
// not. Its serial is the higher of the replaced file's serial + 1 and the publication time as
// YYYYMMDDhhmmss (so a new folder never starts again at 1); a replaced file that cannot be read stops it
// unless a serial is given. One publish at a time works on a release folder (a lock, ".publish.lock"). A file keeps its version text while its bytes stay the same; a version= given
// is published as it stands, but never a version text the replaced file gives other bytes. Nothing on disk
// changes unless every file could be written.
// Every listed file lies also at its by-hash name (by-hash/SHA256/<hex> in its folder, a hard link where the
// file system allows, with <hex>.gz and <hex>.blocks where NAME.gz and NAME.blocks are), written before the
// lists that name it; the names the replaced lists give stay, every other one in those folders goes
// (removed: what went).
bool Publish(const std::string& releaseDir, const std::string& descriptionPath, const PublishOptions& options,
             std::vector<std::string>& written, std::vector<Problem>& problems, std::vector<std::string>* removed = nullptr);

// verify: the version-info files (paths in the release folder) checked as the updater would check them:
// signature and KEYID against the public keys (when any are given), its own path and an expiry still ahead,
// one serial no lower than that of the same file in previousDir (when given), every name acceptable and in
// code page 949, every listed file present with its digest and size.
// Without public keys, only when unsignedRelease says so: a check that cannot check signatures is never
// silent either. now: the clock the expiry is checked against, seconds since 1970 UTC (0: the system's).
bool Verify(const std::string& releaseDir, const std::vector<std::string>& versionFiles,
            const std::vector<std::string>& publicKeyPaths, const std::string& previousDir,
            std::vector<Problem>& problems, bool unsignedRelease = false, std::int64_t now = 0);

// The block map of a file's bytes (core/block_map.h), its strong hashes OpenSSL's SHA-256.
std::string BlockMap(const std::string& bytes);

// The version-info files of a release folder as the updater asks for them.
const std::vector<std::string>& StandardVersionFiles();

}  // namespace release_tool
