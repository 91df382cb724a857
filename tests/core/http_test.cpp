#include "core/http.h"

#include <gtest/gtest.h>

#include "core/body_decoder.h"
#include "compressed.h"

namespace {

TEST(HttpAnswers, OnlyOkDeliversTheObjectAndRedirectsAreKnown) {
    for (unsigned long s : {0ul, 201ul, 204ul, 206ul, 299ul, 302ul, 404ul}) EXPECT_FALSE(core::IsObjectStatus(s)) << s;
    EXPECT_TRUE(core::IsObjectStatus(200));
    EXPECT_TRUE(core::IsObjectStatus(206, true));   // the rest a resumed download asked for
    EXPECT_FALSE(core::IsObjectStatus(204, true));
    for (unsigned long s : {301ul, 302ul, 303ul, 307ul, 308ul}) EXPECT_TRUE(core::IsRedirectStatus(s)) << s;
    for (unsigned long s : {200ul, 300ul, 304ul, 305ul, 306ul}) EXPECT_FALSE(core::IsRedirectStatus(s)) << s;
}

TEST(HttpAnswers, AResumedDownloadAsksForTheRestOfTheSameFile) {
    EXPECT_EQ(core::RangeHeaders(2097152, "\"5f3a-2dc6c0\""), "Range: bytes=2097152-\r\nIf-Range: \"5f3a-2dc6c0\"\r\n");
    const struct {
        const char *etag, *lastModified, *validator;
    } validators[] = {
        {"\"5f3a-2dc6c0\"", "Wed, 09 Dec 2026 07:00:00 GMT", "\"5f3a-2dc6c0\""},      // a strong ETag first
        {"W/\"5f3a\"", "Wed, 09 Dec 2026 07:00:00 GMT", "Wed, 09 Dec 2026 07:00:00 GMT"},  // a weak one may not
        {"", "Wed, 09 Dec 2026 07:00:00 GMT", "Wed, 09 Dec 2026 07:00:00 GMT"},
        {"5f3a", "", ""},                                                             // not quoted: no ETag
        {"\"a\r\nX: y\"", "", ""},                                                      // nothing a header can hide in
        {"", "Wed, 09 Dec 2026\r\nX: y", ""},
        {"", "", ""},                                                                 // nothing to resume against
    };
    for (const auto& v : validators) EXPECT_EQ(core::ResumeValidator(v.etag, v.lastModified), v.validator) << v.etag;
    const struct {
        const char* range;
        bool rest;
    } ranges[] = {
        {"bytes 2097152-3145727/3145728", true}, {" bytes 2097152-3145727/3145728 ", true},
        {"bytes 0-3145727/3145728", false},        // the whole file again: not what is appended
        {"bytes 2097152-3145726/3145728", false},  // one byte short of the end
        {"bytes 2097152-3145727/*", false},        {"bytes 2097152-3145727/3145729", false},
        {"items 2097152-3145727/3145728", false},  {"bytes 2097152/3145728", false},
        {"", false},
    };
    for (const auto& r : ranges) EXPECT_EQ(core::IsRestOf(r.range, 2097152, 3145728), r.rest) << r.range;
}

TEST(HttpAnswers, ContentLengthIsReadWhole) {
    const struct {
        const char* text;
        bool ok;
        std::uint64_t value;
    } cases[] = {
        {"0", true, 0},
        {"4294967306", true, 4294967306ull},  // past 32 bits: must not wrap to 10
        {" 12 ", true, 12},
        {"18446744073709551615", true, UINT64_MAX},
        {"18446744073709551616", false, 0},  // one past
        {"99999999999999999999", false, 0},  // 20 digits, far past
        {"12\r", false, 0},                  // a CR is no blank
        {"", false, 0},
        {"-5", false, 0},
        {"+5", false, 0},
        {"12abc", false, 0},
        {"1 2", false, 0},
        {"0x10", false, 0},
    };
    for (const auto& c : cases) {
        std::uint64_t v = 99;
        EXPECT_EQ(core::ParseContentLength(c.text, v), c.ok) << c.text;
        if (c.ok) EXPECT_EQ(v, c.value) << c.text;
    }
}

TEST(HttpAnswers, ContentEncodings) {
    using C = core::ContentCoding;
    const struct {
        const char* value;
        C coding;
    } cases[] = {{"", C::Identity},       {"identity", C::Identity},   {"gzip", C::Gzip},       {"GZIP", C::Gzip},
                 {"x-gzip", C::Gzip},     {" deflate ", C::Deflate},   {"br", C::Unsupported},  {"zstd", C::Unsupported},
                 {"compress", C::Unsupported}, {"gzip, gzip", C::Unsupported}, {"gzip,br", C::Unsupported}};
    for (const auto& c : cases) EXPECT_EQ(core::ClassifyContentEncoding(c.value), c.coding) << c.value;
}

TEST(HttpAnswers, AnAnswerWithoutHeadersIsNoHttpAnswer) {
    EXPECT_TRUE(core::HasHeaderLines("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n"));
    EXPECT_FALSE(core::HasHeaderLines("HTTP/1.0 200 OK\r\n\r\n"));
    EXPECT_FALSE(core::HasHeaderLines("HTTP/1.0 200 OK"));
    EXPECT_FALSE(core::HasHeaderLines(""));
}

TEST(HttpRedirects, WhereALocationLeads) {
    const struct {
        const char* location;
        bool ok;
        const char* host;
        unsigned short port;
        const char* object;
    } cases[] = {
        {"/other/x.dll", true, "h", 80, "/other/x.dll"},
        {"y.dll", true, "h", 80, "/db/y.dll"},
        {"sub/y.dll", true, "h", 80, "/db/sub/y.dll"},
        {"http://mirror.example/db/a.dll", true, "mirror.example", 80, "/db/a.dll"},
        {"HTTP://mirror.example:8080/a", true, "mirror.example", 8080, "/a"},
        {"http://mirror.example", true, "mirror.example", 80, "/"},
        {"http://mirror.example?x", true, "mirror.example", 80, "/?x"},
        {"https://mirror.example/a", false, "", 0, ""},
        {"ftp://mirror.example/a", false, "", 0, ""},
        {"//mirror.example/a", false, "", 0, ""},
        {"http://user:pw@mirror.example/a", false, "", 0, ""},
        {"http://user@mirror.example/a", false, "", 0, ""},  // no port to mistake: the credentials rule alone
        {"http://mirror.example:65535/a", true, "mirror.example", 65535, "/a"},
        {"http://mirror.example:65536/a", false, "", 0, ""},
        {"http://mirror.example:0/a", false, "", 0, ""},
        {"http://mirror.example:99999/a", false, "", 0, ""},
        {"http:///a", false, "", 0, ""},
        {"/a\r\nHost: evil", false, "", 0, ""},
        {"", false, "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        core::RedirectTarget t;
        ASSERT_EQ(core::ResolveRedirect("h", 80, "/db/a.dll?v=1", c.location, t), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(t.host, c.host);
        EXPECT_EQ(t.port, c.port);
        EXPECT_EQ(t.object, c.object);
    }
}

TEST(HttpAnswers, RetryAfterInSecondsOrAsADate) {
    const std::int64_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    const struct {
        const char* value;
        bool ok;
        std::int64_t seconds;
    } cases[] = {
        {"2", true, 2},
        {" 120 ", true, 120},
        {"0", true, 0},
        {"Sun, 06 Nov 1994 08:49:39 GMT", true, 2},
        {"Sun, 06 Nov 1994 08:49:37 GMT", true, 0},
        {"Sat, 05 Nov 1994 08:49:37 GMT", true, 0},  // already past: at once
        {"Mon, 06 Dec 1994 08:49:37 GMT", true, 30 * 86400},
        {"Sun, 06 Nov 1994 08:49:39 UTC", false, 0},
        {"Sun, 06 Foo 1994 08:49:39 GMT", false, 0},
        {"Sun, 31 Nov 1994 08:49:39 GMT", false, 0},
        {"Sunday, 06-Nov-94 08:49:39 GMT", true, 2},  // RFC 850's form: 94 is 1994, the latest not 50 years ahead
        {"Friday, 06-Nov-20 08:49:37 GMT", true, 9497 * 86400LL},  // 2020: not more than 50 years ahead
        {"Sun Nov  6 08:49:39 1994", true, 2},         // asctime's form
        {"Sun Nov 16 08:49:37 1994", true, 10 * 86400},
        {"Sunday, 06-Nov-94 08:49:39 UTC", false, 0},
        {"Sun Nov  6 08:49:39 94", false, 0},
        {"-1", false, 0},
        {"1.5", false, 0},
        {"99999999999", false, 0},  // no wait anyone means
        {"", false, 0},
    };
    for (const auto& c : cases) {
        std::int64_t seconds = -1;
        EXPECT_EQ(core::ParseRetryAfter(c.value, now, seconds), c.ok) << c.value;
        if (c.ok) EXPECT_EQ(seconds, c.seconds) << c.value;
    }
}

TEST(HttpAnswers, ADownloadOfUnknownSizeLeavesTheVolumeItsRoom) {
    const std::uint64_t GiB = std::uint64_t{1} << 30;
    const struct {
        std::uint64_t freeBytes, totalBytes, bound;
    } cases[] = {
        {2 * 1024 * 1024, 2 * 1024 * 1024, 2 * 1024 * 1024 - 209715},  // a small volume keeps a tenth
        {100 * GiB, 500 * GiB, 99 * GiB},                                // a large one keeps 1 GiB
        {10 * GiB, 10 * GiB, 9 * GiB},                                   // a tenth is exactly 1 GiB
        {GiB / 2, 500 * GiB, 0},                                         // already below: nothing
        {0, 0, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(core::FreeSpaceBound(c.freeBytes, c.totalBytes), c.bound) << c.freeBytes;
}

TEST(HttpAnswers, ADownloadKeepsMovingOrFails) {
    const struct {
        const char* name;
        std::uint32_t start;
        std::vector<std::pair<std::uint64_t, std::uint32_t>> reads;  // bytes so far, at time
        bool holds;  // after the last read
    } cases[] = {
        {"fast", 0, {{4096, 10}, {8192, 20}, {1 << 20, 30000}}, true},
        {"nothing for just under a minute", 0, {{0, 59999}}, true},
        {"nothing for a minute", 0, {{0, 60000}}, false},
        {"a trickle: one byte every 4 s", 0, {{1, 4000}, {2, 8000}, {15, 60000}}, false},
        {"4095 bytes in a minute", 0, {{4095, 59000}, {4095, 60000}}, false},
        {"4096 bytes, then silence again for a minute", 0, {{4096, 50000}, {4097, 109999}}, true},
        {"4096 bytes, then a trickle past a minute", 0, {{4096, 50000}, {4100, 110000}}, false},
        {"the clock wraps", 0xFFFFF000u, {{10, 0xFFFFFFFFu}, {20, 50000}}, true},
        {"the clock wraps, a minute passes", 0xFFFFF000u, {{10, 60000}}, false},
    };
    for (const auto& c : cases) {
        core::ProgressFloor floor(core::kFloorBytes, core::kFloorWindowMs, c.start);
        bool holds = true;
        for (const auto& r : c.reads) holds = floor.Holds(r.first, r.second);
        EXPECT_EQ(holds, c.holds) << c.name;
    }
}

// Seen from the thread that waits for it: the floor's moment and the whole-time bound, whatever the wrap.
TEST(HttpAnswers, AWatchedDownloadIsGivenUpWhenItsTimeHasCome) {
    using F = core::DownloadFailure;
    const std::uint32_t never = 0;
    const std::uint32_t at90 = 90000, at30 = 30000, wrapped = 0x00001000u;
    const struct {
        const char* name;
        std::uint32_t now, moveDue;
        const std::uint32_t* wholeDue;
        F failure;
        std::uint32_t waitMs;  // when it goes on
    } cases[] = {
        {"headers still coming, floor ahead", 10000, 60000, nullptr, F::None, 50000},
        {"the floor's moment has come", 60000, 60000, nullptr, F::TooSlow, never},
        {"the floor's moment is past", 75000, 60000, &at90, F::TooSlow, never},
        {"the whole-time bound is nearer", 50000, 110000, &at90, F::None, 40000},
        {"the whole-time bound has come", 90000, 110000, &at90, F::NotWholeInTime, never},
        {"the floor is nearer than the bound", 10000, 20000, &at90, F::None, 10000},
        {"a bound already behind the start", 40000, 100000, &at30, F::NotWholeInTime, never},
        {"both at once: the bound of the whole is the cause", 90000, 90000, &at90, F::NotWholeInTime, never},
        {"the clock wraps before the floor's moment", 0xFFFFF000u, wrapped, nullptr, F::None, 0x2000u},
        {"the clock wrapped past the floor's moment", 0x00002000u, wrapped, nullptr, F::TooSlow, never},
    };
    for (const auto& c : cases) {
        std::uint32_t waitMs = never;
        EXPECT_EQ(core::Overdue(c.now, c.moveDue, c.wholeDue, waitMs), c.failure) << c.name;
        if (c.failure == F::None) EXPECT_EQ(waitMs, c.waitMs) << c.name;
    }
}

TEST(HttpTargets, HighBytesArePercentEncoded) {
    // "업데이트" in code page 949, as a version-info file lists it.
    EXPECT_EQ(core::PercentEncodeHighBytes("/k/\xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE.dll"), "/k/%BE%F7%B5%A5%C0%CC%C6%AE.dll");
    EXPECT_EQ(core::PercentEncodeHighBytes("http://h/update/db//a b%20.gdb"), "http://h/update/db//a b%20.gdb");
    EXPECT_EQ(core::PercentEncodeHighBytes("\x80\xFF"), "%80%FF");
}

struct StringSink : core::ByteSink {
    std::string data;
    bool Write(const char* p, std::size_t n) override {
        data.append(p, n);
        return true;
    }
};

TEST(BodyDecoder, WholeBodiesDecodeAndCutOrCorruptOnesFail) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += static_cast<char>('a' + (i * 7 + i / 13) % 26);
    const std::string gzip = Compressed(text, 15 + 16), zlib = Compressed(text, 15), raw = Compressed(text, -15);
    std::string corruptCrc = gzip;
    corruptCrc[corruptCrc.size() - 6] ^= 1;
    std::string corruptData = zlib;
    corruptData[zlib.size() / 2] ^= 0x55;
    using C = core::ContentCoding;
    const struct {
        const char* name;
        C coding;
        std::string body;
        bool whole;
    } cases[] = {
        {"identity", C::Identity, text, true},
        {"empty identity", C::Identity, "", true},
        {"gzip", C::Gzip, gzip, true},
        {"deflate in the zlib format", C::Deflate, zlib, true},
        {"raw deflate", C::Deflate, raw, true},
        {"gzip cut after a third", C::Gzip, gzip.substr(0, gzip.size() / 3), false},
        {"gzip without its trailer", C::Gzip, gzip.substr(0, gzip.size() - 8), false},
        {"gzip with a wrong CRC", C::Gzip, corruptCrc, false},
        {"gzip with bytes after its end", C::Gzip, gzip + "x", false},
        {"zlib cut short", C::Deflate, zlib.substr(0, zlib.size() - 2), false},
        {"zlib with a changed byte", C::Deflate, corruptData, false},
        {"raw deflate cut short", C::Deflate, raw.substr(0, raw.size() / 2), false},
        {"empty gzip", C::Gzip, "", false},
        {"one byte of deflate", C::Deflate, "x", false},
        {"plain text called gzip", C::Gzip, text, false},
        {"an encoding the program cannot undo", C::Unsupported, text, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Fed in pieces of every size from 1 byte to a whole 4096-byte chunk.
        for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
            core::BodyDecoder decoder(c.coding);
            StringSink sink;
            bool ok = true;
            for (std::size_t off = 0; ok && off < c.body.size(); off += piece) {
                ok = decoder.Feed(c.body.data() + off, std::min(piece, c.body.size() - off), sink);
            }
            ok = ok && decoder.Finish(sink);
            EXPECT_EQ(ok, c.whole) << "pieces of " << piece;
            if (c.whole) EXPECT_TRUE(sink.data == (c.body.empty() ? "" : text)) << "pieces of " << piece;
        }
    }
}

// A bound on the decoded bytes, fed in pieces: exactly the bound passes, one byte past it stops the
// decoding there, and a bomb stops within one output buffer of it.
TEST(BodyDecoder, TheBoundStopsAtTheFirstByteTooMany) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += static_cast<char>('a' + (i * 7 + i / 13) % 26);
    const std::string big(3 * 1024 * 1024, 'x');  // a few KiB compressed, megabytes decoded
    using C = core::ContentCoding;
    const struct {
        const char* name;
        C coding;
        std::string body;
        std::uint64_t bound;
        bool whole, overran;
    } cases[] = {
        {"identity, exactly the bound", C::Identity, text, text.size(), true, false},
        {"identity, one byte past", C::Identity, text, text.size() - 1, false, true},
        {"identity, one byte short", C::Identity, text, text.size() + 1, true, false},  // the size check's part
        {"gzip, exactly the bound", C::Gzip, Compressed(text, 31), text.size(), true, false},
        {"gzip, one byte past", C::Gzip, Compressed(text, 31), text.size() - 1, false, true},
        {"raw deflate, one byte past", C::Deflate, Compressed(text, -15), text.size() - 1, false, true},
        {"a gzip bomb of 3 MiB against 1 MiB", C::Gzip, Compressed(big, 31), 1024 * 1024, false, true},
        {"a bound of nothing", C::Identity, "x", 0, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
            core::BodyDecoder decoder(c.coding);
            StringSink written;
            core::BoundedSink sink(written, c.bound);
            bool ok = true;
            for (std::size_t off = 0; ok && off < c.body.size(); off += piece) {
                ok = decoder.Feed(c.body.data() + off, std::min(piece, c.body.size() - off), sink);
            }
            ok = ok && decoder.Finish(sink);
            EXPECT_EQ(ok, c.whole) << "pieces of " << piece;
            EXPECT_EQ(sink.overran(), c.overran) << "pieces of " << piece;
            EXPECT_EQ(sink.passed(), written.data.size());
            EXPECT_LE(written.data.size(), c.bound) << "nothing past the bound reached the file";
        }
    }
}

// A compressed body may take what compressing the most it may decode to takes, and no more: every coding of
// incompressible bytes fits, an endless run of empty stored blocks (which decode to nothing) does not.
TEST(BodyDecoder, ACompressedBodyIsBoundedByWhatItCanDecodeTo) {
    std::string noise(300000, '\0');
    unsigned x = 1;
    for (char& c : noise) c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
    for (int windowBits : {31, 15, -15}) {
        const std::string body = Compressed(noise, windowBits);
        EXPECT_LE(body.size(), core::RawBodyBound(core::ContentCoding::Gzip, noise.size())) << windowBits;
    }
    EXPECT_EQ(core::RawBodyBound(core::ContentCoding::Identity, 20000), 20000u);
    // 20000 bytes listed: an endless body is given up within about 90 KB of empty blocks.
    EXPECT_LT(core::RawBodyBound(core::ContentCoding::Gzip, 20000), 90000u);
    EXPECT_EQ(core::RawBodyBound(core::ContentCoding::Deflate, UINT64_MAX), UINT64_MAX) << "no wrap past the largest bound";
}

}  // namespace
