#pragma once
// A scripted HTTP server on a loopback address, port 80, inside the test process. Each connection, served
// on a thread of its own, carries one request and one scripted answer; every request is recorded byte for
// byte.
#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/compressed.h"

namespace testing_support {

struct HttpAnswer {
    std::string head = "HTTP/1.1 200 OK";  // status line and headers, without the blank line
    std::string body;
    bool contentLength = true;       // add "Content-Length: <body size>"
    size_t sendBodyBytes = std::string::npos;  // send only this much of the body, then close
    bool reset = false;              // close with a reset instead of an orderly close
    bool stall = false;              // read the request, then answer nothing (until the client leaves)
    bool stallAfterHead = false;     // send the status line and headers, then nothing (until the client leaves)
    DWORD delayPerKiB = 0;           // pause (ms) after each piece of body sent
    size_t piece = 1024;             // bytes of body sent between pauses (1: a trickle)
    bool pacedHead = false;          // the status line and headers too go out piece by piece, with the pauses
    bool raw = false;                // send the body bytes alone: no status line, no headers
    std::shared_ptr<HttpAnswer> then;  // given once, then this one answers the target's later requests
    std::string etag;                // with one: sent as the ETag, and a "Range: bytes=N-" with an If-Range that
                                     // names it is answered "206 Partial Content" with the body from N

    static HttpAnswer Ok(std::string body) {
        HttpAnswer a;
        a.body = std::move(body);
        return a;
    }
    static HttpAnswer Raw(std::string bytes) {
        HttpAnswer a;
        a.raw = true;
        a.body = std::move(bytes);
        return a;
    }
    // A chunked body: each piece a chunk; cut (no final zero-size chunk) when final is false.
    static HttpAnswer Chunked(const std::vector<std::string>& pieces, bool final, const std::string& headers = "");
    HttpAnswer& Then(HttpAnswer next) {
        then = std::make_shared<HttpAnswer>(std::move(next));
        return *this;
    }
    // Headers added after the status line, e.g. "Content-Encoding: gzip".
    HttpAnswer& With(const std::string& header) {
        head += "\r\n" + header;
        return *this;
    }
    static HttpAnswer Status(int code, const char* reason, std::string body) {
        HttpAnswer a;
        a.head = "HTTP/1.1 " + std::to_string(code) + " " + reason;
        a.body = std::move(body);
        return a;
    }
};

class TestHttpServer {
public:
    explicit TestHttpServer(const char* address, unsigned short port = 80);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    bool listening() const { return m_listener != INVALID_SOCKET; }
    // Stops listening: a connection to the address is refused from now on.
    void Close();
    // The answer for a request target; other targets get 404, or the answer given to ServeAnyOther.
    void Serve(const std::string& target, HttpAnswer answer);
    void ServeAnyOther(HttpAnswer answer);
    std::vector<std::string> Requests() const;       // whole requests, head and body
    std::vector<std::string> Targets() const;        // request targets, in order

    static std::string TargetOf(const std::string& request);

private:
    void AcceptLoop();
    void Handle(SOCKET s);
    void WaitForPeerToLeave(SOCKET s);

    SOCKET m_listener = INVALID_SOCKET;
    HANDLE m_stopping = nullptr;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::map<std::string, HttpAnswer> m_answers;
    HttpAnswer m_anyOther = HttpAnswer::Status(404, "Not Found", "no such object");
    std::vector<std::string> m_requests;
};

// Gzip member holding data in stored (uncompressed) deflate blocks: a valid gzip body any decoder takes.
std::string GzipStored(const std::string& data);

}  // namespace testing_support
