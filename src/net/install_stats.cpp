#include "net/install_stats.h"

#include <windows.h>
#include <nb30.h>
#include <wininet.h>

#include <cstring>

#include "build_config.h"
#include "core/install_stats.h"
#include "core/product.h"
#include "framework/handles.h"
#include "framework/internet.h"
#include "framework/win_text.h"
#include "net/download.h"

namespace {

struct AdapterStatusArea {  // the status record and room for 30 name entries: 600 bytes
    ADAPTER_STATUS status;
    NAME_BUFFER names[30];
};
static_assert(sizeof(AdapterStatusArea) == 600, "the adapter status area is 600 bytes");

UCHAR Command(UCHAR command, UCHAR lana, void* buffer, WORD length, const char* callName = nullptr) {
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = command;
    ncb.ncb_lana_num = lana;
    ncb.ncb_buffer = static_cast<PUCHAR>(buffer);
    ncb.ncb_length = length;
    if (callName) std::memcpy(ncb.ncb_callname, callName, NCBNAMSZ);
    return ::Netbios(&ncb);
}

}  // namespace

CString GetMacAddress() {
    UCHAR enumeration[256] = {};
    if (Command(NCBENUM, 0, enumeration, sizeof enumeration) != NRC_GOODRET) return CString();
    const LANA_ENUM* lanas = reinterpret_cast<const LANA_ENUM*>(enumeration);
    std::string text;
    for (UCHAR i = 0; i < lanas->length; ++i) {
        Command(NCBRESET, lanas->lana[i], nullptr, 0);
        AdapterStatusArea area;
        std::memset(&area, 0, sizeof area);
        if (Command(NCBASTAT, lanas->lana[i], &area, sizeof area, "*               ") == NRC_GOODRET) {
            std::uint8_t address[6];
            std::memcpy(address, area.status.adapter_address, 6);
            text = core::FormatAdapterText(address);  // the last adapter that answers wins
        }
    }
    return CString(text);
}

namespace {

DWORD LastErrorOr(DWORD fallback) {
    const DWORD e = ::GetLastError();
    return e != ERROR_SUCCESS ? e : fallback;
}

// One GET with the header block and body, its answer never read: ERROR_SUCCESS when it was sent, otherwise
// the platform's error of the step that failed (taken before the handles close).
DWORD SendRequest(const CString& host, const CString& object, const CString& body) {
    const UniqueHandle<InternetHandleTraits> session(
        ::InternetOpenW(Wide(product::kStatsAgent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return LastErrorOr(ERROR_INTERNET_INTERNAL_ERROR);
    SetWindowsTimeouts(session.get());
    const UniqueHandle<InternetHandleTraits> connection(::InternetConnectW(
        session.get(), Wide(host).c_str(), INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return LastErrorOr(ERROR_INTERNET_INTERNAL_ERROR);
    const UniqueHandle<InternetHandleTraits> request(::HttpOpenRequestW(
        connection.get(), L"GET", Wide(object).c_str(), L"HTTP/1.0", L"", nullptr, 0, 0));
    if (!request) return LastErrorOr(ERROR_INTERNET_INTERNAL_ERROR);
    const std::wstring headers = Wide(std::string(kRequestHeaders, kRequestHeadersLength));
    if (!::HttpSendRequestW(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                            const_cast<char*>(body.GetString()), static_cast<DWORD>(body.GetLength()))) {
        return LastErrorOr(ERROR_INTERNET_INTERNAL_ERROR);
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD ReportInstall(CString strAdapter) {
    return SendRequest(UPDATER_STATS_HOST, product::kStatsObject, CString(core::InstallInfoBody(product::kPartnerCode, strAdapter.str())));
}

DWORD ReportHealth(CString strTarget) { return SendRequest(UPDATER_STATS_HOST, strTarget, CString()); }

int SendInstallStats(CString strAdapter) {
    ReportInstall(strAdapter);
    return 1;
}

int SendHttpRequest(CString host, CString object, CString body) {
    if (object.IsEmpty() || host.IsEmpty() || body.IsEmpty()) return ERROR_INVALID_PARAMETER;
    return SendRequest(host, object, body) == ERROR_SUCCESS ? 1 : 0;  // handles close request, connection, session
}
