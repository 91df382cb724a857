#include "core/run_report.h"

#include <cstdio>

#include "core/text.h"

namespace core {

namespace {

std::string WithError(const char* what, const DownloadOutcome& o, const std::string& errorText) {
    return std::string(what) + " (" + (errorText.empty() ? "error " + std::to_string(o.error) : errorText) + ")";
}

// Which copy was wrong, for a body that came compressed (detail: its Content-Encoding).
std::string CompressedCopy(const DownloadOutcome& o) {
    return o.detail.empty() ? std::string()
                            : " (it came compressed, " + o.detail + ": the server's compressed copy, NAME.gz beside it, is not of this file)";
}

}  // namespace

std::string DescribeDownloadFailure(const DownloadOutcome& o, const std::string& errorText) {
    switch (o.failure) {
    case DownloadFailure::None: return "no failure";
    case DownloadFailure::Stopped: return "stopped: the dialog was closed";
    case DownloadFailure::UnsendableName: return "the name cannot be sent: it is no code page 949 text";
    case DownloadFailure::NoConnection: return WithError("no answer from the server", o, errorText);
    case DownloadFailure::BrokenOff:
        return WithError(("the connection broke off after " + std::to_string(o.bytes) + " bytes of the body").c_str(), o,
                         errorText);
    case DownloadFailure::Status:
        return "the server answered HTTP " + std::to_string(o.status) + " instead of 200 OK";
    case DownloadFailure::NoHeaders: return "the answer has no HTTP header: this is no web server's answer";
    case DownloadFailure::UnsupportedEncoding:
        return "the server sent Content-Encoding \"" + o.detail + "\", which the updater does not decode";
    case DownloadFailure::BadLength: return "the server sent an unreadable Content-Length \"" + o.detail + "\"";
    case DownloadFailure::TooLarge:
        return "the file is larger than the " + std::to_string(o.expected) + " bytes a version-info file may have";
    case DownloadFailure::LocalFile: return WithError("the local copy could not be created", o, errorText);
    case DownloadFailure::WriteFailed: return WithError("the local copy could not be written", o, errorText);
    case DownloadFailure::CutShort:
        return "the body was cut short: " + std::to_string(o.bytes) + " of " + std::to_string(o.expected) +
               " bytes arrived";
    case DownloadFailure::Corrupt:
        return "the compressed body is damaged or cut short (its own checks failed after " + std::to_string(o.bytes) +
               " bytes)";
    case DownloadFailure::DigestMismatch:
        return "the file's SHA-256 is not the one the version-info file lists (" + std::to_string(o.bytes) +
               " bytes arrived): it is not the published file" + CompressedCopy(o);
    case DownloadFailure::LongerThanListed:
        return "the file is longer than the " + std::to_string(o.expected) +
               " bytes the version-info file lists: reading stopped there, it is not the published file" + CompressedCopy(o);
    case DownloadFailure::ShorterThanListed:
        return "the file is " + std::to_string(o.decoded) + " bytes, not the " + std::to_string(o.expected) +
               " the version-info file lists: it is not the published file" + CompressedCopy(o);
    case DownloadFailure::VolumeFull:
        return "the file would not fit: only " + std::to_string(o.expected) +
               " bytes may be written before the download folder's volume is left with less than 1 GiB or a tenth of it free";
    case DownloadFailure::TooSlow:
        return "the server sent fewer than 4096 bytes in " + std::to_string(o.floorWindowMs / 1000) + " s (" + std::to_string(o.bytes) +
               " bytes arrived): too slow, given up";
    case DownloadFailure::NotWholeInTime:
        return "the file did not arrive whole within " + std::to_string(o.expected / 1000) + " s (" +
               std::to_string(o.bytes) + " bytes arrived)";
    case DownloadFailure::NoHash: return "this system cannot compute SHA-256 (CNG), so the file cannot be checked";
    case DownloadFailure::TooManyRedirects: return "the server redirected more than 10 times";
    case DownloadFailure::BadRedirect: return "the server redirected to \"" + o.detail + "\", which the updater does not follow";
    case DownloadFailure::NoRanges: return "the server sent the whole file instead of the ranges asked for: it serves no ranges";
    case DownloadFailure::EndlessAnswer:
        return "the answer went on past " + std::to_string(o.expected) + " bytes, more than any answer to the request takes";
    case DownloadFailure::BadRange:
        return "the server's partial answer (" + o.detail + ") is not " +
               (o.rangeFrom ? "the rest of the file from byte " + std::to_string(o.rangeFrom) : std::string("what was asked for"));
    }
    return "unknown failure";
}

bool KeepsWhatArrived(DownloadFailure failure) {
    return failure == DownloadFailure::BrokenOff || failure == DownloadFailure::CutShort || failure == DownloadFailure::TooSlow ||
           failure == DownloadFailure::NotWholeInTime || failure == DownloadFailure::Stopped;
}

NextAttempt NextAttemptAfter(const DownloadOutcome& o, bool mayAskAgain, bool otherHostLeft, std::int64_t waitLeft) {
    if (o.ok || o.failure == DownloadFailure::Stopped) return NextAttempt::None;
    const bool comeBack = o.failure == DownloadFailure::Status && (o.status == 503 || o.status == 429);
    const std::int64_t mayWait = waitLeft < kMaxRetryAfterSeconds ? waitLeft : kMaxRetryAfterSeconds;
    if (comeBack && mayAskAgain && o.retryAfter >= 0 && o.retryAfter <= mayWait) return NextAttempt::SameHostLater;
    // The kept part was refused (416) or proved wrong: it is gone, and the whole file may well be right.
    const bool partWrong = o.failure == DownloadFailure::BadRange || (o.failure == DownloadFailure::Status && o.status == 416) ||
                           (o.resumed && !KeepsWhatArrived(o.failure) && o.failure != DownloadFailure::Status);
    if (o.rangeFrom && partWrong && mayAskAgain) return NextAttempt::WholeAgain;
    return otherHostLeft ? NextAttempt::NextHost : NextAttempt::None;
}

std::string DisplayUrl(const std::string& host, const std::string& object) {
    if (object.compare(0, 7, "http://") == 0) return object;
    return "http://" + host + (object.compare(0, 1, "/") == 0 ? "" : "/") + object;
}

std::string FormatLogLine(const LocalTime& t, const char* level, const std::string& text) {
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.millisecond);
    std::string line = stamp;
    line += level;
    line += ' ';
    for (const char c : text) line += IsControlCharacter(c) ? ' ' : c;
    line += "\r\n";
    return line;
}

std::string KeepLastLines(const std::string& log, std::size_t keep) {
    if (log.size() <= keep) return log;
    const std::size_t from = log.size() - keep;
    // The first line that starts within the kept part: right after a line end at or after from - 1.
    const std::size_t end = from == 0 ? std::string::npos : log.find('\n', from - 1);
    if (end == std::string::npos || end + 1 >= log.size()) return std::string();
    return log.substr(end + 1);
}

}  // namespace core
