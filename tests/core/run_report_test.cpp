// What the log says: a failed download's cause in words, its lines, and how it is shortened.
#include <gtest/gtest.h>

#include "core/run_report.h"

namespace {

using core::DownloadFailure;

TEST(RunReport, EachDownloadFailureNamesItsCause) {
    const auto outcome = [](DownloadFailure f, unsigned long status, std::uint64_t bytes, std::uint64_t expected,
                            const char* detail, std::uint64_t decoded = 0) {
        core::DownloadOutcome o;
        o.decoded = decoded;
        o.failure = f;
        o.status = status;
        o.bytes = bytes;
        o.expected = expected;
        o.detail = detail;
        o.error = 12029;
        return o;
    };
    const struct {
        core::DownloadOutcome outcome;
        std::string errorText;
        std::string said;
    } cases[] = {
        {outcome(DownloadFailure::Status, 404, 0, 0, ""), "", "the server answered HTTP 404 instead of 200 OK"},
        {outcome(DownloadFailure::CutShort, 200, 5000, 20000, ""), "", "the body was cut short: 5000 of 20000 bytes arrived"},
        {outcome(DownloadFailure::NoConnection, 0, 0, 0, ""), "error 12029: cannot connect",
         "no answer from the server (error 12029: cannot connect)"},
        {outcome(DownloadFailure::NoConnection, 0, 0, 0, ""), "", "no answer from the server (error 12029)"},
        {outcome(DownloadFailure::BrokenOff, 200, 4096, 0, ""), "", "the connection broke off after 4096 bytes of the body (error 12029)"},
        {outcome(DownloadFailure::UnsupportedEncoding, 200, 0, 0, "br"), "",
         "the server sent Content-Encoding \"br\", which the updater does not decode"},
        {outcome(DownloadFailure::TooLarge, 200, 0, 1048576, ""), "",
         "the file is larger than the 1048576 bytes a version-info file may have"},
        {outcome(DownloadFailure::TooSlow, 200, 15, 0, ""), "",
         "the server sent fewer than 4096 bytes in 60 s (15 bytes arrived): too slow, given up"},
        {outcome(DownloadFailure::NotWholeInTime, 200, 12288, 60000, ""), "",
         "the file did not arrive whole within 60 s (12288 bytes arrived)"},
        {outcome(DownloadFailure::LongerThanListed, 200, 4097, 4096, ""), "",
         "the file is longer than the 4096 bytes the version-info file lists: reading stopped there, it is not the published file"},
        {outcome(DownloadFailure::DigestMismatch, 200, 20000, 0, ""), "",
         "the file's SHA-256 is not the one the version-info file lists (20000 bytes arrived): it is not the published file"},
        {outcome(DownloadFailure::BadRedirect, 302, 0, 0, "ftp://x/"), "",
         "the server redirected to \"ftp://x/\", which the updater does not follow"},
        {outcome(DownloadFailure::UnsendableName, 0, 0, 0, ""), "", "the name cannot be sent: it is no code page 949 text"},
        {outcome(DownloadFailure::NoHeaders, 0, 0, 0, ""), "", "the answer has no HTTP header: this is no web server's answer"},
        {outcome(DownloadFailure::BadLength, 200, 0, 0, "12x"), "", "the server sent an unreadable Content-Length \"12x\""},
        {outcome(DownloadFailure::LocalFile, 0, 0, 0, ""), "error 12029: x", "the local copy could not be created (error 12029: x)"},
        {outcome(DownloadFailure::WriteFailed, 200, 0, 0, ""), "", "the local copy could not be written (error 12029)"},
        {outcome(DownloadFailure::Corrupt, 200, 300, 0, ""), "",
         "the compressed body is damaged or cut short (its own checks failed after 300 bytes)"},
        // A compressed copy that is not of the listed file is named as the wrong one.
        {outcome(DownloadFailure::DigestMismatch, 200, 900, 0, "Content-Encoding: gzip"), "",
         "the file's SHA-256 is not the one the version-info file lists (900 bytes arrived): it is not the published file "
         "(it came compressed, Content-Encoding: gzip: the server's compressed copy, NAME.gz beside it, is not of this file)"},
        // The object's own length after decoding, not the bytes on the wire.
        {outcome(DownloadFailure::ShorterThanListed, 200, 100, 4096, "", 4000), "",
         "the file is 4000 bytes, not the 4096 the version-info file lists: it is not the published file"},
        {outcome(DownloadFailure::VolumeFull, 200, 0, 777, ""), "",
         "the file would not fit: only 777 bytes may be written before the download folder's volume is left with less "
         "than 1 GiB or a tenth of it free"},
        {outcome(DownloadFailure::NoHash, 200, 0, 0, ""), "", "this system cannot compute SHA-256 (CNG), so the file cannot be checked"},
        {outcome(DownloadFailure::TooManyRedirects, 302, 0, 0, ""), "", "the server redirected more than 10 times"},
        {[&] { auto o = outcome(DownloadFailure::BadRange, 206, 0, 0, "Content-Range: bytes 0-99/100"); o.rangeFrom = 40; return o; }(), "",
         "the server's partial answer (Content-Range: bytes 0-99/100) is not the rest of the file from byte 40"},
        {outcome(DownloadFailure::BadRange, 206, 0, 0, "Content-Range: bytes 0-99/101"), "",
         "the server's partial answer (Content-Range: bytes 0-99/101) is not what was asked for"},
        {outcome(DownloadFailure::NoRanges, 200, 0, 0, ""), "",
         "the server sent the whole file instead of the ranges asked for: it serves no ranges"},
        {outcome(DownloadFailure::EndlessAnswer, 206, 70000, 69632, ""), "",
         "the answer went on past 69632 bytes, more than any answer to the request takes"},
    };
    for (const auto& c : cases) EXPECT_EQ(core::DescribeDownloadFailure(c.outcome, c.errorText), c.said);
}

TEST(RunReport, WhatFollowsAFailedDownload) {
    using N = core::NextAttempt;
    const auto failed = [](DownloadFailure f, unsigned long status, std::int64_t retryAfter, std::uint64_t rangeFrom = 0,
                           bool resumed = false) {
        core::DownloadOutcome o;
        o.failure = f;
        o.status = status;
        o.retryAfter = retryAfter;
        o.rangeFrom = rangeFrom;
        o.resumed = resumed;
        return o;
    };
    const struct {
        const char* name;
        core::DownloadOutcome outcome;
        bool mayAskAgain, otherHostLeft;
        N next;
        std::int64_t waitLeft = core::kMaxRetryAfterSeconds;  // of the file's waits over its hosts
    } cases[] = {
        {"503, Retry-After 2", failed(DownloadFailure::Status, 503, 2), true, false, N::SameHostLater},
        {"429, Retry-After 60", failed(DownloadFailure::Status, 429, 60), true, true, N::SameHostLater},
        {"503, Retry-After 61, a mirror left", failed(DownloadFailure::Status, 503, 61), true, true, N::NextHost},
        {"503, Retry-After 61, none left", failed(DownloadFailure::Status, 503, 61), true, false, N::None},
        {"503 without Retry-After", failed(DownloadFailure::Status, 503, -1), true, true, N::NextHost},
        {"503, Retry-After 30, 30 s of the file's waits left", failed(DownloadFailure::Status, 503, 30), true, true, N::SameHostLater, 30},
        {"503, Retry-After 31, 30 s left: the next host", failed(DownloadFailure::Status, 503, 31), true, true, N::NextHost, 30},
        {"503, Retry-After 0, none left", failed(DownloadFailure::Status, 503, 0), true, false, N::SameHostLater, 0},
        {"503, Retry-After 1, none left", failed(DownloadFailure::Status, 503, 1), true, false, N::None, 0},
        {"503, Retry-After 2, asked again already", failed(DownloadFailure::Status, 503, 2), false, true, N::NextHost},
        {"500 with Retry-After", failed(DownloadFailure::Status, 500, 2), true, false, N::None},
        {"a wrong digest, a mirror left", failed(DownloadFailure::DigestMismatch, 200, -1), true, true, N::NextHost},
        {"a stop, a mirror left", failed(DownloadFailure::Stopped, 0, -1), true, true, N::None},
        // A kept part the server refused or that proved wrong is gone: the whole file, from the same host, once.
        {"416 to a resumed request", failed(DownloadFailure::Status, 416, -1, 100), true, true, N::WholeAgain},
        {"416 to a whole request", failed(DownloadFailure::Status, 416, -1), true, true, N::NextHost},
        {"a 206 that is not the rest", failed(DownloadFailure::BadRange, 206, -1, 100), true, true, N::WholeAgain},
        {"a resumed file with a wrong digest", failed(DownloadFailure::DigestMismatch, 206, -1, 100, true), true, false, N::WholeAgain},
        {"a resumed file too long", failed(DownloadFailure::LongerThanListed, 206, -1, 100, true), true, false, N::WholeAgain},
        {"a resumed file with a wrong digest, asked again already", failed(DownloadFailure::DigestMismatch, 206, -1, 100, true), false, true, N::NextHost},
        {"a resumed file cut again: kept, not asked again now", failed(DownloadFailure::CutShort, 206, -1, 100, true), true, true, N::NextHost},
        {"a 500 to a resumed request", failed(DownloadFailure::Status, 500, -1, 100), true, false, N::None},
        {"the whole file sent instead (200), then a wrong digest", failed(DownloadFailure::DigestMismatch, 200, -1, 100), true, true, N::NextHost},
    };
    for (const auto& c : cases) EXPECT_EQ(core::NextAttemptAfter(c.outcome, c.mayAskAgain, c.otherHostLeft, c.waitLeft), c.next) << c.name;
    core::DownloadOutcome ok;
    ok.ok = true;
    EXPECT_EQ(core::NextAttemptAfter(ok, true, true), N::None);
}

TEST(RunReport, WhatArrivedIsKeptOnlyWhereItWasRightAsFarAsItWent) {
    for (DownloadFailure f : {DownloadFailure::BrokenOff, DownloadFailure::CutShort, DownloadFailure::TooSlow,
                              DownloadFailure::NotWholeInTime, DownloadFailure::Stopped}) {
        EXPECT_TRUE(core::KeepsWhatArrived(f)) << static_cast<int>(f);
    }
    for (DownloadFailure f : {DownloadFailure::DigestMismatch, DownloadFailure::LongerThanListed, DownloadFailure::ShorterThanListed,
                              DownloadFailure::Corrupt, DownloadFailure::BadRange, DownloadFailure::WriteFailed, DownloadFailure::Status}) {
        EXPECT_FALSE(core::KeepsWhatArrived(f)) << static_cast<int>(f);
    }
}

TEST(RunReport, UrlsAsAPersonTypesThem) {
    EXPECT_EQ(core::DisplayUrl("h", "update/db/DBUpdate.ver"), "http://h/update/db/DBUpdate.ver");
    EXPECT_EQ(core::DisplayUrl("h", "/db/a.dll"), "http://h/db/a.dll");
    EXPECT_EQ(core::DisplayUrl("h", "http://other/update/db//a.gdb"), "http://other/update/db//a.gdb");
}

TEST(RunReport, ALogLineIsOneLineWhateverItsText) {
    const core::LocalTime t{2026, 12, 8, 7, 5, 9, 42};
    EXPECT_EQ(core::FormatLogLine(t, "info", "placed 업데이트.dll"), "2026-12-08 07:05:09.042 info placed 업데이트.dll\r\n");
    // A name or header that holds line breaks cannot forge a line of its own.
    EXPECT_EQ(core::FormatLogLine(t, "FAIL", "a\r\n2026-12-08 x\tb\x7f"), "2026-12-08 07:05:09.042 FAIL a  2026-12-08 x b \r\n");
}

TEST(RunReport, AShortenedLogKeepsItsLastWholeLines) {
    const struct {
        std::string log;
        std::size_t keep;
        std::string kept;
    } cases[] = {
        {"one\r\ntwo\r\nthree\r\n", 100, "one\r\ntwo\r\nthree\r\n"},  // fits
        {"one\r\ntwo\r\nthree\r\n", 17, "one\r\ntwo\r\nthree\r\n"},   // exactly the kept size: all of it
        {"one\r\ntwo\r\nthree\r\n", 11, "three\r\n"},         // "wo\r\nthree\r\n" would start mid-line
        {"one\r\ntwo\r\nthree\r\n", 12, "two\r\nthree\r\n"},  // exactly from a line's start
        {"one\r\ntwo\r\nthree\r\n", 13, "two\r\nthree\r\n"},
        {"one\r\ntwo\r\nthree\r\n", 5, ""},                   // no whole line fits
        {"no line end at all", 5, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(core::KeepLastLines(c.log, c.keep), c.kept) << c.keep;
}

}  // namespace
