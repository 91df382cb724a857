#pragma once
// One HTTP request and its body stored in a local file, its progress told to an observer.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>
#include <vector>

#include "build_config.h"
#include "core/block_map.h"
#include "core/release.h"
#include "core/run_report.h"
#include "framework/stop_signal.h"

// Extra headers of every request the program makes (downloads and the statistics report): 290 bytes.
extern const char kRequestHeaders[];
constexpr DWORD kRequestHeadersLength = 290;
constexpr UINT kDownloadChunk = 4096;
// How long a slow server is given, chosen when the program is built (UPDATER_SLOW_SERVER_S, 60 s): the
// floor's window (4096 bytes in any such span), the span in which a version-info file, a block map or a
// request for ranges must arrive whole, and the platform's connect time-out; the send and receive
// time-outs are half of it. Test builds shorten it, so rows that wait for it cost seconds, not minutes.
constexpr DWORD kSlowServerMs = UPDATER_SLOW_SERVER_S * 1000u;

// The framework's verb index of GET, the only verb the updater sends.
constexpr int kVerbGet = 1;

struct DownloadRequest {
    bool showProgress = false;  // the observer hears of the body and of each chunk
    int verb = kVerbGet;        // index of the framework's verbs
    std::string server;         // host name only; port 80
    std::string object;         // request target, sent as it stands
    std::string optional;       // request body
    std::string localFile;      // created anew
    std::uint64_t maxBytes = 0; // more (after decoding) fails the download; 0: no bound
    bool checkDigest = false;   // the object's bytes must have this SHA-256
    core::Sha256Digest digest{};
    bool checkSize = false;     // the object must be exactly this many bytes (after decoding)
    std::uint64_t size = 0;
    DWORD wholeWithinMs = 0;    // the whole object must have arrived this soon after the request; 0: no bound
    bool fresh = false;         // from the server itself: no cached copy is used or kept, caches on the way are
                                // told so ("Cache-Control: no-cache")
    std::string keptPart;       // with a digest and a size: where a failed attempt keeps what arrived, and a
    std::string keptTag;        // later one resumes from (the part, and its answer's validator); "": never
    std::vector<core::ByteRange> ranges;  // only these of the object (size bytes), written into localFile, which
                                          // is there already, where they belong; none: the whole object
};

// The connect, send and receive time-outs that Windows documents as its defaults (60 s, 30 s, 30 s), set
// explicitly on an internet handle so that no platform waits longer on a silent server.
void SetWindowsTimeouts(HINTERNET handle);

// Code page of the names in request targets: the version-info files' own.
constexpr unsigned kRequestTargetCodePage = 949;

// Told of a download's body as it arrives, on the download's thread.
class IDownloadProgress {
public:
    // Only when the request shows progress:
    virtual void BodyStarted() = 0;               // a "200 OK" answer's body is about to be read
    virtual void Received(int percent) = 0;       // after each chunk: of the announced length, 0-100
    // After each chunk, shown or not: the body bytes so far, and the moment (GetTickCount) by which 4096
    // more must have arrived. A watcher on another thread reads them (see core::Overdue).
    virtual void Moved(std::uint64_t bytes, DWORD dueMs) = 0;
protected:
    ~IDownloadProgress() = default;
};

// ok when the answer was "200 OK" and its whole body is in the local file: every byte its Content-Length
// announced, and for a compressed answer the coding's own end and checks (the body is stored decoded);
// with a digest to check, the object's SHA-256 (computed as it arrives) equals it; with a size, the object
// is exactly that long (reading stops at the first byte past it). A body that falls below 4096 bytes in any
// 60 s, counted from the request, or is not whole within the time the request gives it, fails (as far as
// the download can see: the platform's own waits, for headers say, are for a watcher to end).
// Otherwise the outcome names the cause, and no local file is left. With ranges, only a 206 answer delivers
// (a 200 fails as NoRanges), its part or parts written into the local file (never deleted here), decoded
// counting the bytes written; the caller checks the file. Whatever the answer, its body takes no more bytes
// than an answer to the request can (core::RawBodyBound, core::RangeAnswerBound): an endless one fails.
// With a kept part: a part an earlier attempt kept is resumed (Range and If-Range; a 206 is appended to it, a
// 200 starts it anew), the body of an uncompressed answer with a validator goes into the part and, once whole
// and right, becomes the local file; a failure that proves nothing wrong with what arrived keeps it
// (outcome.kept), any other drops it. Redirects are followed up to a bound; connect, send and receive wait no
// longer than the platform's documented defaults. Stops early, as Stopped and with nothing more told, when
// stop is raised. progress may be null.
core::DownloadOutcome Download(const DownloadRequest& request, IDownloadProgress* progress, const CStopSignal& stop);
