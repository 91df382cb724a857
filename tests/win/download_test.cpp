// Download against the scripted loopback server: the request bytes, and for each kind of answer the
// result, the stored bytes and the messages the progress bar received.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "app/RunView.h"
#include "framework/detached_call.h"
#include "net/download.h"
#include "update/update_run.h"
#include "support/http_server.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const char kHost[] = "127.0.0.21";
const char kNobody[] = "127.0.0.29";  // no server listens there

struct BarMessage {
    UINT msg;
    WPARAM w;
    LPARAM l;
    bool operator==(const BarMessage& o) const { return msg == o.msg && w == o.w && l == o.l; }
};
std::vector<BarMessage> g_bar;

LRESULT CALLBACK RecordingBarProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == PBM_SETRANGE32 || m == PBM_SETPOS) {
        g_bar.push_back({m, w, l});
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

// A window that records the progress messages it is sent, standing in for the current-file bar.
class RecordingBar {
public:
    RecordingBar() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &RecordingBarProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"RecordingBar";
        RegisterClassW(&wc);
        m_hwnd = CreateWindowW(L"RecordingBar", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        g_bar.clear();
    }
    ~RecordingBar() { DestroyWindow(m_hwnd); }
    HWND hwnd() const { return m_hwnd; }

private:
    HWND m_hwnd;
};

std::wstring TempFile(const char* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + Utf16(name);
}

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// The download as the dialog shows it, with bar as its current-file bar: 1 when it succeeded.
int Viewed(const DownloadRequest& r, HWND bar) {
    const CStopSignal stop;
    const auto view = std::make_shared<CDialogRunView>();
    view->Attach(nullptr, nullptr, bar, stop);
    CDownloadProgressRelay relay(view);
    const core::DownloadOutcome outcome = Download(r, &relay, stop);
    view->DownloadEnded(r.object, outcome, core::NextAttempt::None);
    return outcome.ok ? 1 : 0;
}

int Fetch(const char* host, const std::string& object, const std::wstring& local, bool show, HWND bar) {
    DownloadRequest r;
    r.showProgress = show;
    r.server = host;
    r.object = object;
    r.localFile = Utf8(local);
    return Viewed(r, bar);
}

const BarMessage kRange{PBM_SETRANGE32, 0, 100};
const BarMessage kFull{PBM_SETPOS, 100, 0};

TEST(Download, RequestLineAndHeadersAreSentAsTheyStand) {
    TestHttpServer server(kHost);
    ASSERT_TRUE(server.listening());
    server.Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("x"));
    server.Serve("/http://127.0.0.21/update/db//a.gdb", HttpAnswer::Ok("y"));
    RecordingBar bar;
    EXPECT_EQ(Fetch(kHost, "update/db/DBUpdate.ver", TempFile("req1.bin"), false, bar.hwnd()), 1);
    EXPECT_EQ(Fetch(kHost, "http://127.0.0.21/update/db//a.gdb", TempFile("req2.bin"), false, bar.hwnd()), 1);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /update/db/DBUpdate.ver HTTP/1.1");
    EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "GET /http://127.0.0.21/update/db//a.gdb HTTP/1.1");
    for (const std::string& r : requests) {
        EXPECT_NE(r.find("\r\nHost: 127.0.0.21\r\n"), std::string::npos) << r;
        // The 290-byte block, byte for byte, ends the request (nothing follows it: no body).
        const std::string block(kRequestHeaders, kRequestHeadersLength);
        ASSERT_GE(r.size(), block.size());
        EXPECT_EQ(r.substr(r.size() - block.size()), block) << r;
        EXPECT_EQ(r.find("Connection:"), std::string::npos);
    }
}

// The version-info files are asked of the server itself, past every cache, even after an answer that
// allowed caching for a day; listed files go out with the plain header block.
TEST(Download, FreshRequestsPassEveryCache) {
    TestHttpServer server(kHost);
    ASSERT_TRUE(server.listening());
    server.Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("first").With("Cache-Control: public, max-age=86400"));
    DownloadRequest r;
    r.server = kHost;
    r.object = "update/db/DBUpdate.ver";
    r.localFile = Utf8(TempFile("fresh.bin"));
    r.fresh = true;
    const CStopSignal stop;
    ASSERT_TRUE(Download(r, nullptr, stop).ok);
    server.Serve("/update/db/DBUpdate.ver", HttpAnswer::Ok("second").With("Cache-Control: public, max-age=86400"));
    ASSERT_TRUE(Download(r, nullptr, stop).ok);
    EXPECT_EQ(ReadAll(TempFile("fresh.bin")), "second");
    r.fresh = false;
    ASSERT_TRUE(Download(r, nullptr, stop).ok);
    DeleteFileW(TempFile("fresh.bin").c_str());
    const auto requests = server.Requests();
    ASSERT_GE(requests.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_NE(requests[i].find("\r\nCache-Control: no-cache\r\n"), std::string::npos) << requests[i];
    if (requests.size() == 3) EXPECT_EQ(requests[2].find("no-cache"), std::string::npos) << requests[2];
}

TEST(Download, AnswersTable) {
    const std::string big = Pattern(10000);
    const std::string text = "SITE=127.0.0.21\r\nSUBDIR=/update/db\r\na.gdb=1.0,0,0,0\r\n";
    std::string chunked = "10\r\n" + text.substr(0, 16) + "\r\n" + std::to_string(0) + "\r\n\r\n";
    {
        std::ostringstream hex;
        hex << std::hex << (text.size() - 16);
        chunked = "10\r\n" + text.substr(0, 16) + "\r\n" + hex.str() + "\r\n" + text.substr(16) + "\r\n0\r\n\r\n";
    }
    struct Case {
        const char* name;
        HttpAnswer answer;
        bool show;
        int result;
        bool fileExpected;
        std::string stored;
        std::vector<BarMessage> messages;  // empty with checkMessages false: checked by shape below
        bool checkMessages;
    };
    HttpAnswer noLength = HttpAnswer::Ok(text);
    noLength.contentLength = false;
    HttpAnswer chunkedAnswer = HttpAnswer::Ok(chunked);
    chunkedAnswer.head += "\r\nTransfer-Encoding: chunked";
    chunkedAnswer.contentLength = false;
    HttpAnswer gzip = HttpAnswer::Ok(GzipStored(text));
    gzip.head += "\r\nContent-Encoding: gzip";
    HttpAnswer cut = HttpAnswer::Ok(big);
    cut.sendBodyBytes = 5000;
    HttpAnswer reset = HttpAnswer::Ok(big);
    reset.sendBodyBytes = 5000;
    reset.reset = true;
    const std::string gz = Compressed(big, 31);
    HttpAnswer gzipCut = HttpAnswer::Ok(gz).With("Content-Encoding: gzip");
    gzipCut.sendBodyBytes = gz.size() / 3;
    const Case cases[] = {
        {"200 with Content-Length, one chunk", HttpAnswer::Ok(text), true, 1, true, text, {kRange, kFull, kFull}, true},
        {"200 without progress", HttpAnswer::Ok(text), false, 1, true, text, {kFull}, true},
        {"200 of several chunks", HttpAnswer::Ok(big), true, 1, true, big, {}, false},
        {"200 without Content-Length", noLength, true, 1, true, text, {}, false},
        {"empty body with Content-Length 0", HttpAnswer::Ok(""), true, 1, true, "", {kRange, kFull}, true},
        {"chunked", chunkedAnswer, true, 1, true, text, {}, false},
        {"gzip is stored decoded", gzip, true, 1, true, text, {}, false},
        {"gzip by zlib", HttpAnswer::Ok(gz).With("Content-Encoding: gzip"), true, 1, true, big, {}, false},
        {"chunked gzip", HttpAnswer::Chunked({gz.substr(0, 300), gz.substr(300)}, true, "Content-Encoding: gzip"), true,
         1, true, big, {}, false},
        // Failed downloads leave no local file, whatever arrived of them. (The other statuses and codings run
        // whole, in the fault matrix.)
        {"404 with a body", HttpAnswer::Status(404, "Not Found", "<html>missing</html>"), true, 0, false, "", {kFull}, true},
        {"500 with a body", HttpAnswer::Status(500, "Server Error", "<html>oops</html>"), true, 0, false, "", {kFull}, true},
        {"cut mid-body", cut, true, 0, false, "", {}, false},
        {"reset mid-body", reset, true, 0, false, "", {}, false},
        {"gzip cut after a third", gzipCut, true, 0, false, "", {}, false},
        {"chunked gzip cut before its final chunk", HttpAnswer::Chunked({gz.substr(0, 300)}, false, "Content-Encoding: gzip"),
         true, 0, false, "", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server(kHost);
        ASSERT_TRUE(server.listening());
        server.Serve("/f", c.answer);
        const std::wstring local = TempFile("answer.bin");
        DeleteFileW(local.c_str());
        RecordingBar bar;
        EXPECT_EQ(Fetch(kHost, "/f", local, c.show, bar.hwnd()), c.result);
        std::string stored;
        const bool exists = ReadFileBytes(local, stored);
        EXPECT_EQ(exists, c.fileExpected);
        if (exists) {
            EXPECT_EQ(stored.size(), c.stored.size());
            EXPECT_TRUE(stored == c.stored);
        }
        if (c.checkMessages) {
            EXPECT_TRUE(g_bar == c.messages) << g_bar.size() << " messages";
        } else {
            // Range first, positions never falling, the last one the final 100.
            ASSERT_GE(g_bar.size(), 2u) << g_bar.size() << " messages";
            EXPECT_TRUE(g_bar.front() == kRange);
            EXPECT_TRUE(g_bar.back() == kFull);
            for (size_t i = 2; i + 1 < g_bar.size(); ++i) EXPECT_GE(g_bar[i].w, g_bar[i - 1].w);
            if (c.result == 1 && std::string(c.name) == "200 of several chunks") {
                EXPECT_GE(g_bar.size(), 2u + 3u);  // at least three chunks of at most 4096 bytes
                EXPECT_EQ(g_bar[g_bar.size() - 2].w, 100u);
            }
        }
    }
}

// A Korean name reaches the server as its code page 949 bytes, percent-encoded, whatever the system's code
// page: this test runs twice, under code page 949 and (EXPECT_ACP=1252) under 1252.
TEST(Download, KoreanNamesGoOutAsTheirCodePage949BytesOnEverySystem) {
    if (const char* acp = std::getenv("EXPECT_ACP")) ASSERT_EQ(GetACP(), std::strtoul(acp, nullptr, 10));
    TestHttpServer server(kHost);
    ASSERT_TRUE(server.listening());
    const std::string target = "/%BE%F7%B5%A5%C0%CC%C6%AE/%BE%F7%B5%A5%C0%CC%C6%AE.dll";
    server.Serve(target, HttpAnswer::Ok("korean"));
    RecordingBar bar;
    const std::wstring local = TempFile("korean.bin");
    EXPECT_EQ(Fetch(kHost, "/업데이트/업데이트.dll", local, false, bar.hwnd()), 1);
    EXPECT_EQ(server.Targets(), std::vector<std::string>{target});
    EXPECT_EQ(ReadAll(local), "korean");
}

TEST(Download, RedirectsAreFollowedAFewTimesAndBodiesAreBounded) {
    TestHttpServer server(kHost), other("127.0.0.22");
    ASSERT_TRUE(server.listening() && other.listening());
    const auto redirect = [](const std::string& to) { return HttpAnswer::Status(302, "Found", "").With("Location: " + to); };
    server.Serve("/moved", redirect("/db/a.dll"));
    server.Serve("/db/a.dll", HttpAnswer::Ok("a"));
    server.Serve("/loop", redirect("/loop"));
    server.Serve("/ping", redirect("http://127.0.0.22/pong"));
    other.Serve("/pong", redirect("http://127.0.0.21/ping"));
    const std::string big(1024 * 1024 + 1, 'b');  // one byte past the bound
    server.Serve("/big", HttpAnswer::Ok(big));
    server.Serve("/bomb", HttpAnswer::Ok(Compressed(big, 31)).With("Content-Encoding: gzip"));
    const struct {
        const char* object;
        std::uint64_t maxBytes;
        int result;
        size_t requests;  // to both servers
    } cases[] = {
        {"/moved", 0, 1, 2},
        {"/loop", 0, 0, 11},  // the first request and ten redirects
        {"/ping", 0, 0, 11},
        {"/big", 1024 * 1024, 0, 1},
        {"/bomb", 1024 * 1024, 0, 1},  // counted after decoding
        {"/big", 0, 1, 1},
    };
    size_t before = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.object);
        RecordingBar bar;
        DownloadRequest r;
        r.server = kHost;
        r.object = c.object;
        r.localFile = Utf8(TempFile("redirected.bin"));
        r.maxBytes = c.maxBytes;
        DeleteFileW(Utf16(r.localFile).c_str());
        EXPECT_EQ(Viewed(r, bar.hwnd()), c.result);
        const size_t now = server.Requests().size() + other.Requests().size();
        EXPECT_EQ(now - before, c.requests);
        before = now;
        EXPECT_EQ(GetFileAttributesW(Utf16(r.localFile).c_str()) != INVALID_FILE_ATTRIBUTES, c.result == 1);
    }
}

TEST(Download, LocalFailuresAndTheNetwork) {
    TestHttpServer server(kHost);
    ASSERT_TRUE(server.listening());
    server.Serve("/f", HttpAnswer::Ok("new bytes"));

    {
        SCOPED_TRACE("refused connection: nothing sent, no file");
        RecordingBar bar;
        const std::wstring local = TempFile("refused.bin");
        DeleteFileW(local.c_str());
        EXPECT_EQ(Fetch(kNobody, "/f", local, true, bar.hwnd()), 0);
        EXPECT_EQ(GetFileAttributesW(local.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(g_bar.empty());
    }
    {
        SCOPED_TRACE("local path in a missing folder: nothing read, final 100 still sent");
        RecordingBar bar;
        EXPECT_EQ(Fetch(kHost, "/f", L"C:\\no such folder\\x.bin", true, bar.hwnd()), 0);
        EXPECT_TRUE(g_bar == (std::vector<BarMessage>{kRange, kFull}));
    }
    {
        SCOPED_TRACE("an existing local file is truncated, not appended to");
        RecordingBar bar;
        const std::wstring local = TempFile("existing.bin");
        WriteAll(local, std::string(20000, 'o'));
        EXPECT_EQ(Fetch(kHost, "/f", local, false, bar.hwnd()), 1);
        std::string stored;
        ASSERT_TRUE(ReadFileBytes(local, stored));
        EXPECT_EQ(stored, "new bytes");
    }
}

// A call that throws on its own thread has failed; it never takes the process down.
TEST(Download, AThrowingDetachedCallFailsQuietly) {
    EXPECT_EQ(RunDetached<int>([]() -> int { throw std::runtime_error("thrown"); }, CStopSignal(), -1), 0);
    ScopedHandle started = StartDetached([] { throw std::bad_alloc(); });
    ASSERT_TRUE(started);
    EXPECT_EQ(WaitForSingleObject(started.get(), 5000), WAIT_OBJECT_0);
}

DWORD WINAPI RaiseAfter300ms(LPVOID p) {
    Sleep(300);
    static_cast<CStopSignal*>(p)->Raise();
    return 0;
}

TEST(Download, AStalledServerDoesNotHoldUpAStop) {
    TestHttpServer server(kHost);
    ASSERT_TRUE(server.listening());
    HttpAnswer stall;
    stall.stall = true;
    server.Serve("/stall", stall);
    HttpAnswer slow = HttpAnswer::Ok(Pattern(200000));
    slow.delayPerKiB = 50;
    server.Serve("/slow", slow);
    for (const char* object : {"/stall", "/slow"}) {
        SCOPED_TRACE(object);
        CStopSignal stop;
        DownloadRequest r;
        r.server = kHost;
        r.object = object;
        r.localFile = Utf8(TempFile("stalled.bin"));
        HANDLE raiser = CreateThread(nullptr, 0, &RaiseAfter300ms, &stop, 0, nullptr);
        const DWORD t0 = GetTickCount();
        const int result = RunDetached<int>([r, stop] { return Download(r, nullptr, stop).ok ? 1 : 0; }, stop, -7);
        const DWORD took = GetTickCount() - t0;
        EXPECT_EQ(result, -7);
        EXPECT_LT(took, 600u);
        WaitForSingleObject(raiser, 2000);
        CloseHandle(raiser);
    }
}

}  // namespace
