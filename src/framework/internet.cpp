#include "framework/internet.h"

#include <string>
#include <vector>

#include "framework/win_text.h"
#include "framework/winapp.h"

namespace {

[[noreturn]] void ThrowLastError() { throw CInternetException(::GetLastError()); }

std::wstring WideOrEmpty(const char* s) { return s ? Wide(s) : std::wstring(); }
const wchar_t* OrNull(const char* s, const std::wstring& wide) { return s ? wide.c_str() : nullptr; }

}  // namespace

CInternetSession::CInternetSession(const char* agent, DWORD_PTR context, DWORD accessType, const char* proxy,
                                   const char* bypass, DWORD flags)
    : m_context(context) {
    CString name = agent ? CString(agent) : (AfxGetApp() ? AfxGetApp()->m_strAppName : CString());
    const std::wstring wAgent = Wide(name), wProxy = WideOrEmpty(proxy), wBypass = WideOrEmpty(bypass);
    m_hSession.reset(::InternetOpenW(wAgent.c_str(), accessType, OrNull(proxy, wProxy), OrNull(bypass, wBypass), flags));
    if (!m_hSession) ThrowLastError();
}

CInternetSession::~CInternetSession() = default;

void CInternetSession::Close() { m_hSession.reset(); }

std::unique_ptr<CHttpConnection> CInternetSession::GetHttpConnection(const char* server, INTERNET_PORT port,
                                                                     const char* user, const char* password) {
    const std::wstring wServer = Wide(server), wUser = WideOrEmpty(user), wPassword = WideOrEmpty(password);
    HINTERNET h = ::InternetConnectW(m_hSession.get(), wServer.c_str(), port, OrNull(user, wUser),
                                     OrNull(password, wPassword), INTERNET_SERVICE_HTTP, 0, m_context);
    if (!h) ThrowLastError();
    return std::make_unique<CHttpConnection>(h, m_context);
}

std::unique_ptr<CHttpFile> CHttpConnection::OpenRequest(int verb, const char* object, const char* referer,
                                                        DWORD_PTR context, const char** acceptTypes,
                                                        const char* version, DWORD flags) {
    static const wchar_t* const kVerbs[] = {L"POST", L"GET", L"HEAD", L"PUT", L"LINK", L"DELETE", L"UNLINK"};
    if (verb < 0 || verb >= static_cast<int>(sizeof kVerbs / sizeof kVerbs[0])) throw CInternetException(ERROR_INVALID_PARAMETER);
    const std::wstring wObject = Wide(object), wReferer = WideOrEmpty(referer), wVersion = WideOrEmpty(version);
    std::vector<std::wstring> accepts;
    std::vector<const wchar_t*> acceptPtrs;
    for (const char** a = acceptTypes; a && *a; ++a) accepts.push_back(Wide(*a));
    for (const std::wstring& a : accepts) acceptPtrs.push_back(a.c_str());
    acceptPtrs.push_back(nullptr);
    HINTERNET h = ::HttpOpenRequestW(m_hConnection.get(), kVerbs[verb], wObject.c_str(), OrNull(version, wVersion),
                                     OrNull(referer, wReferer), acceptTypes ? acceptPtrs.data() : nullptr, flags,
                                     context);
    if (!h) ThrowLastError();
    return std::make_unique<CHttpFile>(h);
}

void CHttpFile::Close() { m_hFile.reset(); }

BOOL CHttpFile::SendRequest(const char* headers, DWORD headersLength, const void* optional, DWORD optionalLength) {
    const std::wstring wHeaders = headers ? Wide(std::string(headers, headersLength)) : std::wstring();
    if (!::HttpSendRequestW(m_hFile.get(), headers ? wHeaders.c_str() : nullptr, static_cast<DWORD>(wHeaders.size()),
                            const_cast<void*>(optional), optionalLength)) {
        ThrowLastError();
    }
    return TRUE;
}

BOOL CHttpFile::QueryInfo(DWORD infoLevel, DWORD& value) {
    DWORD size = sizeof value;
    return ::HttpQueryInfoW(m_hFile.get(), infoLevel | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr);
}

BOOL CHttpFile::QueryInfo(DWORD infoLevel, CString& value) {
    std::wstring buf(256, L'\0');
    DWORD size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    if (!::HttpQueryInfoW(m_hFile.get(), infoLevel, &buf[0], &size, nullptr)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return FALSE;
        buf.assign(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
        if (!::HttpQueryInfoW(m_hFile.get(), infoLevel, &buf[0], &size, nullptr)) return FALSE;
    }
    value = CString(Narrow(buf.c_str(), static_cast<int>(size / sizeof(wchar_t))));
    return TRUE;
}

DWORD CHttpFile::GetLength() {
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(m_hFile.get(), &available, 0, 0)) ThrowLastError();
    return available;
}

UINT CHttpFile::Read(void* buffer, UINT count) {
    DWORD read = 0;
    if (!::InternetReadFile(m_hFile.get(), buffer, count, &read)) ThrowLastError();
    return read;
}
