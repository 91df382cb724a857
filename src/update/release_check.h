#pragma once
// Signed releases on the updater's side: what a version-info file must be before anything of it is used,
// when the program carries the vendor's release keys.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/release.h"
#include "framework/cstring.h"
#include "update/run_events.h"

// The release keys built into the program (the build option UPDATER_RELEASE_KEYS); none in a build without.
struct ReleaseKeys {
    const core::P256Point* points = nullptr;
    std::size_t count = 0;
};
ReleaseKeys BuiltInReleaseKeys();  // defined by the source the build makes from the keys
// "release keys KEYID KEYID..." in their order (oldest first), or "no release keys": which keys a build
// carries, for its log.
std::string ReleaseKeysText(const ReleaseKeys& keys);

// Whether the bytes of the version-info file name, asked for at path (as the server sees it, without a
// leading "/"), may be used (None), or why not, with what the log should quote. Without release keys,
// always. With them, only when its last line is a signature by one of the keys over every byte before it,
// it names path as its own ("#file"), has not expired by now (seconds since 1970 UTC), holds exactly one
// serial, every file entry carries a digest and a size, and its key and serial pass the key generations
// (core::GenerationAccepts) against the release accepted before for that file: its serial and KEYID, kept
// as string values "<file>" and "<file>.keyid" under the product key's "Releases" (a serial that cannot be
// read counts as none, and the verdict says so). They are then replaced when the key is later or the
// serial higher. Where the platform has no CNG, nothing can be trusted.
// A file that may be used is still not taken (held back: not a failure, nothing of it kept) when its serial is
// at most that of a release taken back on this machine ("<file>.taken-back" under "Releases"), or when it is
// staged ("#rollout") and this machine's share lies outside the stage. The share comes from the machine's
// secret, the product key's REG_BINARY "RolloutSecret" (32 random bytes, made when missing, never sent). In a
// build without keys the serial and the stage are read without a signature check.
struct ReleaseVerdict {
    VersionInfoProblem problem = VersionInfoProblem::None;
    std::string detail;                 // what the log quotes with the problem
    bool keptSerialUnreadable = false;  // what was kept for the file is no serial (another type, not a number)
    std::uint64_t serial = 0;           // its serial; 0 when it has none
    std::uint64_t takenBack = 0;        // when not 0, the serial taken back that holds this one back
    RolloutDraw rollout;
};
// inLog, when given, is asked last (a file it refuses keeps nothing): whether the file stands in the vendor's log.
using InLogCheck = std::function<VersionInfoProblem(std::string& detail)>;
ReleaseVerdict AcceptVersionInfo(const std::string& bytes, const CString& name, const std::string& path, std::int64_t now,
                                 const ReleaseKeys& keys, const InLogCheck& inLog = nullptr);
// The release of serial taken back on this machine: it is not taken again (ERROR_SUCCESS: remembered).
long RememberTakenBack(const CString& name, std::uint64_t serial);
// The product key's "Releases" subkey, where what is kept of accepted releases (and of the vendor's log) lies.
CString ReleasesKeyPath();
// The system's clock as seconds since 1970-01-01 UTC.
std::int64_t UtcNow();
