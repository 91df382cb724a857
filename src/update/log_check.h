#pragma once
// The vendor's transparency log on the updater's side: a signed version-info file is taken only when the
// log's checkpoint is signed by a release key under the built-in origin, carries enough witnesses'
// cosignatures, grows from the checkpoint this machine kept, and its tiles prove the file's entry is in it.
#include <cstddef>
#include <functional>
#include <string>

#include "core/release.h"
#include "update/release_check.h"
#include "update/run_events.h"

// What the program is built with (UPDATER_LOG_ORIGIN, UPDATER_LOG_WITNESSES, UPDATER_LOG_WITNESS_THRESHOLD);
// an empty origin: no log is checked.
struct LogSettings {
    const char* origin = "";
    const core::P256Point* witnesses = nullptr;
    std::size_t witnessCount = 0;
    std::size_t threshold = 0;
};
LogSettings BuiltInLog();  // defined by the source the build makes from the settings

// A file of the log ("checkpoint", "tile/..."), asked of the host that served the version-info file: its
// bytes, at most 8 KiB; fresh: never from a cache. False when it could not be had.
using LogFetch = std::function<bool(const std::string& inLog, bool fresh, std::string& bytes)>;

struct LogVerdict {
    VersionInfoProblem problem = VersionInfoProblem::None;
    std::string detail;  // what the log of the run quotes with the problem
    std::uint64_t index = 0, size = 0;  // the file's place, and the checkpoint's size, when it is in the log
};

// Whether bytes, the signed version-info file at path (as its "#file" names it), stands in the log where its
// signed "#log-index" line says. The checkpoint last accepted is kept under the product key's "Releases"
// ("log.size", "log.root") and replaced by a larger one that was accepted.
LogVerdict CheckInLog(const std::string& bytes, const std::string& path, const LogSettings& log,
                      const ReleaseKeys& keys, const LogFetch& fetch);
