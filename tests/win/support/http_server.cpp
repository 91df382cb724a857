#include "support/http_server.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>

namespace testing_support {

namespace {

struct WinsockInit {
    WinsockInit() {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
    }
};

// false once the peer is gone.
bool SendAll(SOCKET s, const char* p, size_t n) {
    while (n > 0) {
        const int sent = send(s, p, static_cast<int>(n), 0);
        if (sent <= 0) return false;
        p += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

// Reads one request: the head up to the blank line, then a body of its Content-Length.
std::string ReadRequest(SOCKET s) {
    std::string data;
    char buf[4096];
    size_t headEnd = std::string::npos;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        const int n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) return data;
        data.append(buf, static_cast<size_t>(n));
    }
    size_t length = 0;
    const std::string head = data.substr(0, headEnd);
    for (size_t pos = 0; pos < head.size();) {
        size_t eol = head.find("\r\n", pos);
        if (eol == std::string::npos) eol = head.size();
        const std::string line = head.substr(pos, eol - pos);
        if (_strnicmp(line.c_str(), "Content-Length:", 15) == 0) length = strtoul(line.c_str() + 15, nullptr, 10);
        pos = eol + 2;
    }
    while (data.size() < headEnd + 4 + length) {
        const int n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

uint32_t Crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace

TestHttpServer::TestHttpServer(const char* address, unsigned short port) {
    static WinsockInit init;
    m_stopping = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL yes = TRUE;
    setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(address);
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(m_listener, 16) != 0) {
        closesocket(m_listener);
        m_listener = INVALID_SOCKET;
        return;
    }
    m_thread = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    Close();
    CloseHandle(m_stopping);
}

void TestHttpServer::Close() {
    SetEvent(m_stopping);
    if (m_listener != INVALID_SOCKET) closesocket(m_listener);  // ends accept
    if (m_thread.joinable()) m_thread.join();
    m_listener = INVALID_SOCKET;
}

void TestHttpServer::Serve(const std::string& target, HttpAnswer answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers[target] = std::move(answer);
}

void TestHttpServer::ServeAnyOther(HttpAnswer answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_anyOther = std::move(answer);
}

std::vector<std::string> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<std::string> TestHttpServer::Targets() const {
    std::vector<std::string> out;
    for (const std::string& r : Requests()) out.push_back(TargetOf(r));
    return out;
}

std::string TestHttpServer::TargetOf(const std::string& request) {
    const size_t a = request.find(' ');
    const size_t b = request.find(' ', a + 1);
    if (a == std::string::npos || b == std::string::npos) return std::string();
    return request.substr(a + 1, b - a - 1);
}

// Silent until the client gives up (closes its end) or the server stops, so that the next connection
// is served again.
void TestHttpServer::WaitForPeerToLeave(SOCKET s) {
    char buf[512];
    while (WaitForSingleObject(m_stopping, 0) == WAIT_TIMEOUT) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval step{0, 100000};
        if (select(0, &readable, nullptr, nullptr, &step) > 0 && recv(s, buf, sizeof buf, 0) <= 0) return;
    }
}

// Each connection on a thread of its own, as a real server serves them: one a client left trickling does
// not hold up the next.
void TestHttpServer::AcceptLoop() {
    std::vector<std::thread> connections;
    for (;;) {
        SOCKET s = accept(m_listener, nullptr, nullptr);
        if (s == INVALID_SOCKET) break;
        connections.emplace_back([this, s] { Handle(s); });
    }
    for (std::thread& t : connections) t.join();
}

void TestHttpServer::Handle(SOCKET s) {
    const std::string request = ReadRequest(s);
    HttpAnswer answer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
        const auto it = m_answers.find(TargetOf(request));
        answer = it != m_answers.end() ? it->second : m_anyOther;
        if (it != m_answers.end() && answer.then) it->second = *answer.then;
    }
    if (answer.stall) {
        WaitForPeerToLeave(s);
        closesocket(s);
        return;
    }
    if (!answer.etag.empty()) {
        answer.head += "\r\nETag: " + answer.etag;
        const auto header = [&request](const std::string& name) {
            const size_t at = request.find("\r\n" + name + ": ");
            return at == std::string::npos ? std::string() : request.substr(at + name.size() + 4, request.find("\r\n", at + 2) - at - name.size() - 4);
        };
        const std::string range = header("Range"), ifRange = header("If-Range");
        // "bytes=a-b,c-,..." as nginx reads it: one range answered with its Content-Range, several as
        // multipart/byteranges; an If-Range that names another ETag gets the whole body.
        std::vector<std::pair<size_t, size_t>> ranges;  // [first, last]
        const size_t size = answer.body.size();
        for (size_t at = range.rfind("bytes=", 0) == 0 ? 6 : std::string::npos; at != std::string::npos && at < range.size();) {
            const size_t comma = range.find(',', at), dash = range.find('-', at);
            const std::string last = dash < comma ? range.substr(dash + 1, comma == std::string::npos ? std::string::npos : comma - dash - 1) : "";
            const size_t first = std::strtoull(range.c_str() + at, nullptr, 10);
            const size_t end = last.empty() ? size - 1 : std::min<size_t>(std::strtoull(last.c_str(), nullptr, 10), size - 1);
            if (first < size && first <= end) ranges.emplace_back(first, end);
            at = comma == std::string::npos ? comma : comma + 1;
        }
        const auto contentRange = [size](const std::pair<size_t, size_t>& r) {
            return "Content-Range: bytes " + std::to_string(r.first) + "-" + std::to_string(r.second) + "/" + std::to_string(size);
        };
        if (!ranges.empty() && (ifRange.empty() || ifRange == answer.etag)) {
            answer.head.replace(0, answer.head.find("\r\n"), "HTTP/1.1 206 Partial Content");
            if (ranges.size() == 1) {
                answer.head += "\r\n" + contentRange(ranges[0]);
                answer.body = answer.body.substr(ranges[0].first, ranges[0].second - ranges[0].first + 1);
            } else {
                answer.head += "\r\nContent-Type: multipart/byteranges; boundary=00000000001";
                std::string parts;
                for (const auto& r : ranges) {
                    parts += "\r\n--00000000001\r\nContent-Type: application/octet-stream\r\n" + contentRange(r) + "\r\n\r\n" +
                             answer.body.substr(r.first, r.second - r.first + 1);
                }
                answer.body = parts + "\r\n--00000000001--\r\n";
            }
        }
    }
    std::string head = answer.raw ? std::string() : answer.head + "\r\n";
    if (!answer.raw) {
        if (answer.contentLength) head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
    }
    std::string paced = answer.body.substr(0, std::min(answer.sendBodyBytes, answer.body.size()));
    if (answer.pacedHead) {
        paced.insert(0, head);
    } else {
        SendAll(s, head.data(), head.size());
    }
    if (answer.stallAfterHead) {
        WaitForPeerToLeave(s);
        closesocket(s);
        return;
    }
    for (size_t off = 0; off < paced.size(); off += answer.piece) {
        // A client that gave up ends the answer: the next connection is not kept waiting.
        if (!SendAll(s, paced.data() + off, std::min<size_t>(answer.piece, paced.size() - off))) break;
        if (answer.delayPerKiB && WaitForSingleObject(m_stopping, answer.delayPerKiB) == WAIT_OBJECT_0) break;
    }
    if (answer.reset) {
        linger l{1, 0};
        setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    } else {
        shutdown(s, SD_SEND);
    }
    closesocket(s);
}

HttpAnswer HttpAnswer::Chunked(const std::vector<std::string>& pieces, bool final, const std::string& headers) {
    HttpAnswer a;
    a.head += "\r\nTransfer-Encoding: chunked" + (headers.empty() ? std::string() : "\r\n" + headers);
    a.contentLength = false;
    for (const std::string& p : pieces) {
        char size[16];
        std::snprintf(size, sizeof size, "%x\r\n", static_cast<unsigned>(p.size()));
        a.body += size + p + "\r\n";
    }
    if (final) a.body += "0\r\n\r\n";
    return a;
}

std::string GzipStored(const std::string& data) {
    std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
    size_t off = 0;
    do {
        const size_t n = std::min<size_t>(65535, data.size() - off);
        const bool last = off + n == data.size();
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(n & 0xFF);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(~n & 0xFF);
        out += static_cast<char>((~n >> 8) & 0xFF);
        out.append(data, off, n);
        off += n;
    } while (off < data.size());
    const uint32_t crc = Crc32(data), size = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) out += static_cast<char>((crc >> (8 * i)) & 0xFF);
    for (int i = 0; i < 4; ++i) out += static_cast<char>((size >> (8 * i)) & 0xFF);
    return out;
}

}  // namespace testing_support
