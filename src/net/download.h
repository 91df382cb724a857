#pragma once
// One HTTP request and its body stored in a local file, with progress shown on a progress bar.
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

#include "core/release.h"
#include "framework/stop_signal.h"

// Extra headers of every request the program makes (downloads and the statistics report): 290 bytes.
extern const char kRequestHeaders[];
constexpr DWORD kRequestHeadersLength = 290;
constexpr UINT kDownloadChunk = 4096;

struct DownloadRequest {
    bool showProgress = false;  // range and per-chunk positions on the bar
    int verb = 1;               // index of the framework's verbs: 1 is GET
    std::string server;         // host name only; port 80
    std::string object;         // request target, sent as it stands
    std::string optional;       // request body
    std::string localFile;      // created anew
    std::uint64_t maxBytes = 0; // more (after decoding) fails the download; 0: no bound
    bool checkDigest = false;   // the object's bytes must have this SHA-256
    core::Sha256Digest digest{};
};

// The connect, send and receive time-outs that Windows documents as its defaults (60 s, 30 s, 30 s), set
// explicitly on an internet handle so that no platform waits longer on a silent server.
void SetWindowsTimeouts(HINTERNET handle);

// Code page of the names in request targets: the version-info files' own.
constexpr unsigned kRequestTargetCodePage = 949;

// 1 when the answer was "200 OK" and its whole body is in the local file: every byte its Content-Length
// announced, and for a compressed answer the coding's own end and checks (the body is stored decoded);
// with a digest to check, the object's SHA-256 (computed as it arrives) equals it.
// 0 otherwise, and then no local file is left. Redirects are followed up to a bound; connect, send and
// receive wait no longer than the platform's documented defaults. Sends PBM_SETPOS 100 to progressBar at
// the end whenever a request was sent. Stops early, with 0 and no more messages, when stop is raised.
int Download(const DownloadRequest& request, HWND progressBar, const CStopSignal& stop);
