#include "net/download.h"

#include <commctrl.h>

#include <memory>

#include "core/progress.h"
#include "framework/handles.h"
#include "framework/internet.h"
#include "framework/win_text.h"

const char kRequestHeaders[] =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, application/msword, "
    "application/vnd.ms-powerpoint, */*\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
    "\r\n";
static_assert(sizeof kRequestHeaders - 1 == kRequestHeadersLength, "the header block is 290 bytes");

namespace {

constexpr DWORD kChunkPauseMs = 10;

// The body of a sent request into the local file. 1 when all of it arrived and was written.
int ReceiveBody(CHttpFile& file, const DownloadRequest& request, HWND bar, const CStopSignal& stop) {
    DWORD status = 0;
    // An error answer's body is not the object: nothing is stored.
    if (!file.QueryInfo(HTTP_QUERY_STATUS_CODE, status) || !core::IsSuccessStatus(status)) return 0;

    char buffer[kDownloadChunk] = {};
    CSteadyPause pause(kChunkPauseMs);
    double received = 0.0;
    double total = static_cast<double>(file.GetLength());
    const ScopedFile out(::CreateFileW(Wide(request.localFile).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD contentLength = 0;
    const bool haveLength = file.QueryInfo(HTTP_QUERY_CONTENT_LENGTH, contentLength) != FALSE;
    if (haveLength) total = contentLength;
    if (request.showProgress) ::SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    if (!out) return 0;

    for (;;) {
        const UINT n = file.Read(buffer, kDownloadChunk);
        if (n == 0) break;
        DWORD written = 0;
        if (!::WriteFile(out.get(), buffer, n, &written, nullptr) || written != n) return 0;
        received += n;
        if (stop.Raised()) return 0;
        if (request.showProgress) {
            ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(core::DownloadPercent(received, total)), 0);
        }
        if (!pause.Pause(stop)) return 0;
    }
    // The platform ends a body cut off by the server as if it were complete: only the count tells.
    // A compressed answer's length counts the compressed bytes, so it is no measure of what was stored.
    CString encoding;
    const bool encoded = file.QueryInfo(HTTP_QUERY_CONTENT_ENCODING, encoding) && !encoding.IsEmpty() &&
                         encoding.CompareNoCase("identity") != 0;
    if (haveLength && !encoded && received != static_cast<double>(contentLength)) return 0;
    return 1;
}

}  // namespace

int Download(const DownloadRequest& request, HWND progressBar, const CStopSignal& stop) {
    std::unique_ptr<CInternetSession> session;
    try {
        session = std::make_unique<CInternetSession>(nullptr, 1, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    } catch (const CInternetException&) {
        return 0;
    }
    int result = 0;
    bool sent = false;
    try {
        const auto connection = session->GetHttpConnection(request.server.c_str(), INTERNET_DEFAULT_HTTP_PORT,
                                                           nullptr, nullptr);
        const auto file = connection->OpenRequest(request.verb, request.object.c_str(), nullptr, 1, nullptr,
                                                  nullptr, INTERNET_FLAG_EXISTING_CONNECT);
        file->SetOption(INTERNET_OPTION_HTTP_DECODING, TRUE);  // store a compressed answer as the object
        file->SendRequest(kRequestHeaders, kRequestHeadersLength, request.optional.data(),
                          static_cast<DWORD>(request.optional.size()));
        sent = true;
        result = ReceiveBody(*file, request, progressBar, stop);
    } catch (const CInternetException&) {
        result = 0;
    }
    if (sent && !stop.Raised()) ::SendMessageW(progressBar, PBM_SETPOS, 100, 0);
    session->Close();
    return result;
}
