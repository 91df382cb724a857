#pragma once
// What a run tells about itself: the outcome of a download with its cause, and the lines of the run's log.
// Portable, so the words a support engineer reads are tested natively.
#include <cstddef>
#include <cstdint>
#include <string>

namespace core {

enum class DownloadFailure {
    None,
    Stopped,              // the dialog closed
    UnsendableName,       // the target is no code page 949 text
    NoConnection,         // the platform gave an error before any answer (error)
    BrokenOff,            // the connection failed while the body came (error, bytes)
    Status,               // an answer other than "200 OK" (status)
    NoHeaders,            // bytes without an HTTP header
    UnsupportedEncoding,  // a Content-Encoding other than gzip or deflate (detail)
    BadLength,            // a Content-Length that is no number (detail)
    TooLarge,             // more than the bound (expected = the bound)
    LocalFile,            // the local copy could not be made (error)
    WriteFailed,          // the local copy could not be written (error)
    CutShort,             // fewer bytes than announced (bytes of expected)
    Corrupt,              // a compressed body damaged or without its end
    DigestMismatch,       // the bytes' SHA-256 is not the listed one
    LongerThanListed,     // more bytes than the entry's size (expected = the size); reading stopped there
    ShorterThanListed,    // fewer bytes than the entry's size (decoded of expected)
    VolumeFull,           // it would leave the download folder's volume too little room (expected = the bound)
    TooSlow,              // fewer than 4096 bytes arrived in the floor's window, 60 s (bytes)
    NotWholeInTime,       // not whole within the time it was given (expected = the milliseconds, bytes)
    NoHash,               // the platform cannot compute SHA-256
    TooManyRedirects,
    BadRedirect,          // a Location the updater does not follow (detail)
    BadRange,             // a 206 that is not the rest asked for (detail: its Content-Range or Content-Encoding)
    NoRanges,             // the whole object where ranges were asked for: the server serves no ranges
    EndlessAnswer,        // the body went on past what any answer to the request can take (expected = that bound)
};

// Whether what arrived before a download failed this way may be kept to resume from: the bytes were
// right as far as they went (the connection broke, the server stalled, the run was stopped).
bool KeepsWhatArrived(DownloadFailure failure);

struct DownloadOutcome {
    bool ok = false;
    bool sent = false;  // a request went out
    DownloadFailure failure = DownloadFailure::None;
    unsigned long status = 0;    // the last HTTP status seen
    unsigned long error = 0;     // the platform's error code, where one caused the failure
    std::uint64_t bytes = 0;     // body bytes received (before decoding)
    std::uint64_t expected = 0;  // what the answer announced, or the bound that was passed
    std::uint64_t decoded = 0;   // bytes of the object itself (after decoding)
    std::string detail;          // a header value worth showing
    std::int64_t retryAfter = -1;  // the seconds a 503 or 429 asked the client to wait (Retry-After); -1: none
    std::uint64_t rangeFrom = 0;   // the byte the request asked the rest from (kept by an earlier attempt); 0: all
    bool resumed = false;          // the answer was that rest (206): decoded counts the kept bytes too
    std::uint64_t kept = 0;        // bytes kept after a failure for a later attempt to resume from
    std::uint32_t floorWindowMs = 60000;  // the floor's window: 4096 bytes in any this many ms
};

// What follows a failed download: the same host asked again once the wait a 503 or 429 asked for has
// passed (at most waitLeft seconds: what is left of the file's kMaxRetryAfterSeconds over all its hosts), or
// at once for the whole file when the rest of a kept part was refused or the part proved wrong (each once:
// mayAskAgain); else the next host where one is left.
// WholeFile: a download of what lets a file come by blocks failed: the file comes whole instead.
// PlainName: the host has no by-hash name (404): it is asked for the plain name.
enum class NextAttempt { None, SameHostLater, WholeAgain, NextHost, WholeFile, PlainName };
constexpr std::int64_t kMaxRetryAfterSeconds = 60;
NextAttempt NextAttemptAfter(const DownloadOutcome& outcome, bool mayAskAgain, bool otherHostLeft,
                             std::int64_t waitLeft = kMaxRetryAfterSeconds);

// The cause of a failed download in a support engineer's words; errorText is the platform's text for
// outcome.error ("error 12029: ..."), or empty for the code alone.
std::string DescribeDownloadFailure(const DownloadOutcome& outcome, const std::string& errorText);

// The address a request went to, as a person would type it: "http://host/object", or the object itself
// when it is an absolute URL already.
std::string DisplayUrl(const std::string& host, const std::string& object);

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
// One line of the log: "YYYY-MM-DD hh:mm:ss.mmm LEVEL text" and CR LF. Control characters in text become
// blanks, so no text can forge a line of its own.
std::string FormatLogLine(const LocalTime& t, const char* level, const std::string& text);

// The end of a log that is at most keep bytes and starts at the start of a line (empty when no line
// start lies within it).
std::string KeepLastLines(const std::string& log, std::size_t keep);

}  // namespace core
