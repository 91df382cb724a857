#pragma once
// The framework's internet classes over WinINet: one session, one connection, one request object,
// each closing its handle when destroyed. Failures are thrown as CInternetException.
#include <windows.h>
#include <wininet.h>

#include <memory>

#include "framework/cstring.h"
#include "framework/handles.h"

class CInternetException {
public:
    explicit CInternetException(DWORD error) : m_dwError(error) {}
    DWORD m_dwError;
};

struct InternetHandleTraits {
    using handle_type = HINTERNET;
    static handle_type invalid() noexcept { return nullptr; }
    static void close(handle_type h) noexcept { ::InternetCloseHandle(h); }
};

class CHttpFile;
class CHttpConnection;

class CInternetSession {
public:
    // agent nullptr: the application's name. Throws when the session cannot be opened.
    CInternetSession(const char* agent, DWORD_PTR context, DWORD accessType, const char* proxy, const char* bypass,
                     DWORD flags);
    ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    std::unique_ptr<CHttpConnection> GetHttpConnection(const char* server, INTERNET_PORT port, const char* user,
                                                       const char* password);
    HINTERNET GetHandle() const { return m_hSession.get(); }
    void Close();

private:
    UniqueHandle<InternetHandleTraits> m_hSession;
    DWORD_PTR m_context;
};

class CHttpConnection {
public:
    enum { HTTP_VERB_POST = 0, HTTP_VERB_GET = 1, HTTP_VERB_HEAD = 2, HTTP_VERB_PUT = 3, HTTP_VERB_DELETE = 5 };
    CHttpConnection(HINTERNET connection, DWORD_PTR context) : m_hConnection(connection), m_context(context) {}
    CHttpConnection(const CHttpConnection&) = delete;
    CHttpConnection& operator=(const CHttpConnection&) = delete;

    // version nullptr: the platform's default protocol version.
    std::unique_ptr<CHttpFile> OpenRequest(int verb, const char* object, const char* referer, DWORD_PTR context,
                                           const char** acceptTypes, const char* version, DWORD flags);

private:
    UniqueHandle<InternetHandleTraits> m_hConnection;
    DWORD_PTR m_context;
};

class CHttpFile {
public:
    explicit CHttpFile(HINTERNET request) : m_hFile(request) {}
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    // headers are ASCII; optional is sent as the request body with its length.
    BOOL SendRequest(const char* headers, DWORD headersLength, const void* optional, DWORD optionalLength);
    BOOL QueryInfo(DWORD infoLevel, DWORD& value);
    // The header's text, whatever its length.
    BOOL QueryInfo(DWORD infoLevel, CString& value);
    HINTERNET GetHandle() const { return m_hFile.get(); }
    // Bytes that can be read now (waits for the first ones to arrive).
    DWORD GetLength();
    // 0 at the end of the body.
    UINT Read(void* buffer, UINT count);
    void Close();

private:
    UniqueHandle<InternetHandleTraits> m_hFile;
};
