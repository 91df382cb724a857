#pragma once
// One HTTP request and its body stored in a local file, with progress shown on a progress bar.
#include <windows.h>

#include <string>

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
};

// 1 when the answer was a success and its whole body is in the local file; 0 otherwise (the local
// file then holds what was received, or is not created for an error answer). Sends PBM_SETPOS 100 to
// progressBar at the end whenever the request was sent. Stops early, with 0 and no more messages,
// when stop is raised.
int Download(const DownloadRequest& request, HWND progressBar, const CStopSignal& stop);
