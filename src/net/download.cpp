#include "net/download.h"

#include <ctime>
#include <memory>
#include <optional>

#include "core/block_map.h"
#include "core/body_decoder.h"
#include "core/http.h"
#include "core/progress.h"
#include "core/text.h"
#include "framework/cng.h"
#include "framework/file.h"
#include "framework/handles.h"
#include "framework/internet.h"
#include "framework/win_text.h"
#include "net/kept_part.h"

const char kRequestHeaders[] =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, application/msword, "
    "application/vnd.ms-powerpoint, */*\r\n"
    "Accept-Encoding: gzip, deflate\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
    "\r\n";
static_assert(sizeof kRequestHeaders - 1 == kRequestHeadersLength, "the header block is 290 bytes");

namespace {

constexpr DWORD kChunkPauseMs = 10;

// The request target as the server must see it: names in code page 949 whatever the system's code page,
// their bytes percent-encoded so that no conversion on the way can change them.
bool RequestTarget(const std::string& utf8, std::string& target) {
    std::string bytes;
    if (!EncodeCodePage(kRequestTargetCodePage, utf8, bytes)) return false;
    target = core::PercentEncodeHighBytes(bytes);
    return true;
}

using core::DownloadFailure;

bool Fail(core::DownloadOutcome& o, DownloadFailure failure, DWORD error = 0) {
    o.failure = failure;
    o.error = error;
    return false;
}

// The decoded body into the local file, hashed on its way when a digest is to be checked. A failed write
// is written into the outcome.
class FileSink : public core::ByteSink {
public:
    FileSink(HANDLE file, CSha256* hash, core::DownloadOutcome& outcome) : m_file(file), m_hash(hash), m_outcome(outcome) {}
    bool Write(const char* data, std::size_t size) override {
        if (m_hash) m_hash->Update(data, size);
        DWORD n = 0;
        if (::WriteFile(m_file, data, static_cast<DWORD>(size), &n, nullptr) && n == size) return true;
        return Fail(m_outcome, DownloadFailure::WriteFailed, ::GetLastError());
    }

private:
    HANDLE m_file;
    CSha256* m_hash;
    core::DownloadOutcome& m_outcome;
};

// The decoder gave up: past the bound (the failure the bound stands for, told as named), a write failed
// (already said), or the coding was broken.
bool DecoderFailed(const core::BoundedSink& bounded, DownloadFailure pastBound, std::uint64_t named, core::DownloadOutcome& o) {
    o.decoded = bounded.passed();
    if (bounded.overran()) {
        o.expected = named;
        return Fail(o, pastBound);
    }
    return o.failure == DownloadFailure::None ? Fail(o, DownloadFailure::Corrupt) : false;
}

// The most a body may decode to, and the failure going past it is: a listed file is exactly its size (less
// what a kept part holds of it); anything else within the bound passed, or, without one, within what its
// volume can spare, so an endless body never fills the system volume.
struct DecodedBound {
    std::uint64_t bytes;
    DownloadFailure past;
};
DecodedBound DecodedBoundOf(const DownloadRequest& request, std::uint64_t kept) {
    if (request.checkSize) return {request.size - kept, DownloadFailure::LongerThanListed};
    if (request.maxBytes) return {request.maxBytes, DownloadFailure::TooLarge};
    const std::string folder = request.localFile.substr(0, request.localFile.find_last_of('\\') + 1);
    ULARGE_INTEGER freeBytes{}, totalBytes{};
    // Unknown: the write itself fails when the volume is full.
    if (!::GetDiskFreeSpaceExW(Wide(folder).c_str(), &freeBytes, &totalBytes, nullptr)) return {UINT64_MAX, DownloadFailure::VolumeFull};
    return {core::FreeSpaceBound(freeBytes.QuadPart, totalBytes.QuadPart), DownloadFailure::VolumeFull};
}

// The first bytes of out, which a kept part holds, read back into hash (when there is one to check).
bool ReadBackKept(HANDLE out, std::uint64_t bytes, CSha256* hash, core::DownloadOutcome& o) {
    char before[kDownloadChunk];
    for (std::uint64_t left = bytes; left > 0;) {
        DWORD n = 0;
        if (!::ReadFile(out, before, static_cast<DWORD>(left < sizeof before ? left : sizeof before), &n, nullptr) || n == 0) {
            return Fail(o, DownloadFailure::LocalFile, n ? ::GetLastError() : ERROR_HANDLE_EOF);
        }
        if (hash) hash->Update(before, n);
        left -= n;
    }
    return true;
}

// Where a body goes: the local file, or the kept part (appended to when the answer is its rest).
struct BodyTarget {
    std::string path;
    bool isPart = false;
    std::uint64_t from = 0;  // bytes of the object already in the part
};

// The body as it arrives, each piece handed to take (false: the outcome says why, and reading ends): paced
// (a chunk, then 10 ms), kept moving, whole within its time, told to the observer as done + body bytes of
// total. A stop ends it at once.
template <typename Take>
bool ReadPaced(CHttpFile& file, const DownloadRequest& request, IDownloadProgress* progress, const CStopSignal& stop,
               DWORD requestedAt, core::DownloadOutcome& o, std::uint64_t done, double total, Take&& take) {
    char buffer[kDownloadChunk] = {};
    CSteadyPause pause(kChunkPauseMs);
    const bool show = request.showProgress && progress;
    // A trickle never holds the run: each read returns what has arrived, and the body must keep moving.
    core::ProgressFloor floor(core::kFloorBytes, kSlowServerMs, requestedAt);
    for (;;) {
        // Only what has arrived: a read of a whole chunk would wait for all of it, and a stop would wait
        // with it.
        const DWORD available = file.GetLength();
        const UINT n = file.Read(buffer, available > 0 && available < kDownloadChunk ? available : kDownloadChunk);
        if (n == 0) return true;
        o.bytes += n;
        if (!take(static_cast<const char*>(buffer), static_cast<std::size_t>(n))) return false;
        if (stop.Raised()) return Fail(o, DownloadFailure::Stopped);
        const DWORD now = ::GetTickCount();
        // The bound of the whole first: where both run out together, it is the more telling cause.
        if (request.wholeWithinMs && now - requestedAt >= request.wholeWithinMs) {
            o.expected = request.wholeWithinMs;
            return Fail(o, DownloadFailure::NotWholeInTime);
        }
        if (!floor.Holds(o.bytes, now)) {
            o.floorWindowMs = kSlowServerMs;
            return Fail(o, DownloadFailure::TooSlow);
        }
        if (progress) progress->Moved(o.bytes, floor.DueMs());
        if (show) progress->Received(core::DownloadPercent(static_cast<double>(done + o.bytes), total));
        if (!pause.Pause(stop)) return Fail(o, DownloadFailure::Stopped);
    }
}

// What every answer's body needs of its headers: that there are some, its coding, and its length (a
// Content-Length that is no number fails).
struct AnswerHeads {
    CString encoding;
    core::ContentCoding coding = core::ContentCoding::Identity;
    bool haveLength = false;
    std::uint64_t contentLength = 0;
};
bool ReadAnswerHeads(CHttpFile& file, core::DownloadOutcome& o, AnswerHeads& h) {
    CString raw, lengthText;
    if (!file.QueryInfo(HTTP_QUERY_RAW_HEADERS_CRLF, raw) || !core::HasHeaderLines(raw.str())) {
        return Fail(o, DownloadFailure::NoHeaders);
    }
    file.QueryInfo(HTTP_QUERY_CONTENT_ENCODING, h.encoding);  // none: the body is the object itself
    h.coding = core::ClassifyContentEncoding(h.encoding.str());
    h.haveLength = file.QueryInfo(HTTP_QUERY_CONTENT_LENGTH, lengthText) != FALSE;
    if (h.haveLength && !core::ParseContentLength(lengthText.str(), h.contentLength)) {
        o.detail = lengthText.str();
        return Fail(o, DownloadFailure::BadLength);
    }
    return true;
}

// Writes a range's bytes into the local copy where they belong, within the object.
struct RangeWriter {
    HANDLE out;
    std::uint64_t size;
    core::DownloadOutcome& o;
    bool operator()(std::uint64_t at, const char* data, std::size_t n) const {
        if (at > size || n > size - at) {
            o.detail = "a part past the file's end";
            return Fail(o, DownloadFailure::BadRange);
        }
        if (!WriteAt(out, at, data, static_cast<DWORD>(n))) return Fail(o, DownloadFailure::WriteFailed, ::GetLastError());
        o.decoded += n;
        return true;
    }
};

// The parts of a multipart/byteranges answer: as many as ranges were asked for, and not a byte more than
// they and their headers take.
bool ReadRangeParts(CHttpFile& file, const DownloadRequest& request, IDownloadProgress* progress, const CStopSignal& stop,
                    DWORD requestedAt, core::DownloadOutcome& o, const CString& type, const std::string& boundary,
                    const RangeWriter& write, double total) {
    const std::uint64_t bound = core::RangeAnswerBound(request.ranges, boundary.size());
    core::ByteRangesReader parts(boundary, request.size, request.ranges.size(), write);
    const bool read = ReadPaced(file, request, progress, stop, requestedAt, o, 0, total, [&](const char* data, std::size_t size) {
        if (o.bytes > bound) {
            o.expected = bound;
            return Fail(o, DownloadFailure::EndlessAnswer);
        }
        if (parts.Feed(data, size)) return true;
        if (o.failure != DownloadFailure::None) return false;
        o.detail = "Content-Type: " + type.str();
        return Fail(o, DownloadFailure::BadRange);
    });
    return read && (parts.Finish() || Fail(o, DownloadFailure::CutShort));
}

// The one part of a single-range answer, where its Content-Range puts it.
bool ReadRangePart(CHttpFile& file, const DownloadRequest& request, IDownloadProgress* progress, const CStopSignal& stop,
                   DWORD requestedAt, core::DownloadOutcome& o, const RangeWriter& write, double total) {
    CString range;
    file.QueryInfo(HTTP_QUERY_CONTENT_RANGE, range);
    core::ByteRange part;
    if (!core::ParseContentRange(range.str(), request.size, part)) {
        o.detail = "Content-Range: " + range.str();
        return Fail(o, DownloadFailure::BadRange);
    }
    std::uint64_t at = part.first;
    const bool read = ReadPaced(file, request, progress, stop, requestedAt, o, 0, total, [&](const char* data, std::size_t size) {
        if (size > part.end - at) {
            o.detail = "Content-Range: " + range.str();
            return Fail(o, DownloadFailure::BadRange);
        }
        at += size;
        return write(at - size, data, size);
    });
    if (!read) return false;
    if (at != part.end) {
        o.expected = part.end - part.first;
        return Fail(o, DownloadFailure::CutShort);
    }
    return true;
}

// The ranges a request asked of the object: a 206 answer's part (Content-Range) or parts
// (multipart/byteranges), each written into the local copy, which is there already, where it belongs.
bool ReceiveRanges(CHttpFile& file, const DownloadRequest& request, IDownloadProgress* progress, const CStopSignal& stop,
                   DWORD requestedAt, core::DownloadOutcome& o) {
    AnswerHeads heads;
    if (!ReadAnswerHeads(file, o, heads)) return false;
    if (o.status != 206) return Fail(o, DownloadFailure::NoRanges);  // the whole object: the server serves no ranges
    if (heads.coding != core::ContentCoding::Identity) {
        o.detail = "Content-Encoding: " + heads.encoding.str();
        return Fail(o, DownloadFailure::BadRange);
    }
    const ScopedFile out = OpenToWrite(Wide(request.localFile), kShareAll);
    if (!out) return Fail(o, DownloadFailure::LocalFile, ::GetLastError());
    if (request.showProgress && progress) progress->BodyStarted();
    const RangeWriter write{out.get(), request.size, o};
    const double total = static_cast<double>(heads.haveLength ? heads.contentLength : 0);
    CString type;
    file.QueryInfo(HTTP_QUERY_CONTENT_TYPE, type);
    std::string boundary;
    const bool read = core::ByteRangesBoundary(type.str(), boundary)
                          ? ReadRangeParts(file, request, progress, stop, requestedAt, o, type, boundary, write, total)
                          : ReadRangePart(file, request, progress, stop, requestedAt, o, write, total);
    if (!read) return false;
    if (heads.haveLength && o.bytes != heads.contentLength) {
        o.expected = heads.contentLength;
        return Fail(o, DownloadFailure::CutShort);
    }
    return true;
}

// Where the body of an answer to a whole request goes: for the "206" rest of the kept part, exactly that as
// it stands on the server (the part holds the file's own bytes), appended to the part; for a whole answer,
// the part begun anew when the answer is uncompressed and has a validator (kept as it comes, in case it
// breaks off), else the local file.
bool ChooseBodyTarget(CHttpFile& file, const DownloadRequest& request, const AnswerHeads& heads, core::DownloadOutcome& o,
                      CKeptPart& kept, BodyTarget& target) {
    if (o.status == 206) {
        CString range;
        file.QueryInfo(HTTP_QUERY_CONTENT_RANGE, range);
        if (heads.coding != core::ContentCoding::Identity || !core::IsRestOf(range.str(), kept.From(), request.size)) {
            o.detail = heads.coding != core::ContentCoding::Identity ? "Content-Encoding: " + heads.encoding.str()
                                                                     : "Content-Range: " + range.str();
            return Fail(o, DownloadFailure::BadRange);
        }
        o.resumed = true;
        target = {kept.Path(), true, kept.From()};
        return true;
    }
    CString etag, lastModified;
    file.QueryInfo(HTTP_QUERY_ETAG, etag);
    file.QueryInfo(HTTP_QUERY_LAST_MODIFIED, lastModified);
    const bool intoPart = kept.Wanted() && heads.coding == core::ContentCoding::Identity &&
                          kept.StartAnew(core::ResumeValidator(etag.str(), lastModified.str()));
    if (!intoPart) kept.Drop();  // a whole answer supersedes what was kept
    target = {intoPart ? kept.Path() : request.localFile, intoPart, 0};
    return true;
}

// The body decoded into out (which holds target.from bytes of the object already), within the decoded bound
// and the raw bound that follows from it; then checked: its length, its size, its digest.
bool ReadDecoded(CHttpFile& file, const DownloadRequest& request, IDownloadProgress* progress, const CStopSignal& stop,
                 DWORD requestedAt, core::DownloadOutcome& o, HANDLE out, const AnswerHeads& heads, const BodyTarget& target,
                 const DecodedBound& decoded, double total) {
    std::optional<CSha256> hash;  // one per download, never per chunk
    if (request.checkDigest) hash.emplace();
    // The kept bytes count as they are read back; what follows them is appended.
    if (!ReadBackKept(out, target.from, hash ? &*hash : nullptr, o)) return false;
    FileSink written(out, hash ? &*hash : nullptr, o);
    core::BoundedSink sink(written, decoded.bytes);
    core::BodyDecoder decoder(heads.coding);
    // A compressed body that is not the listed file says so: the server's compressed copy is wrong, not the file.
    if (heads.coding != core::ContentCoding::Identity) o.detail = "Content-Encoding: " + heads.encoding.str();
    // A compressed body is bounded by what compressing the most it may decode to takes: one that decodes to
    // nothing for ever (empty stored blocks) ends there.
    const std::uint64_t rawBound = core::RawBodyBound(heads.coding, decoded.bytes);
    const std::uint64_t named = target.from + decoded.bytes;
    if (!ReadPaced(file, request, progress, stop, requestedAt, o, target.from, total, [&](const char* data, std::size_t size) {
            if (heads.coding != core::ContentCoding::Identity && o.bytes > rawBound) {  // (uncompressed: the sink's bound)
                o.expected = rawBound;
                return Fail(o, DownloadFailure::EndlessAnswer);
            }
            return decoder.Feed(data, size, sink) || DecoderFailed(sink, decoded.past, named, o);
        })) {
        return false;
    }
    // The platform ends a body cut off by the server as if it were complete: the count tells for a body
    // with a length, the coding's own end for a compressed one.
    if (heads.haveLength && o.bytes != heads.contentLength) {
        o.expected = heads.contentLength;
        return Fail(o, DownloadFailure::CutShort);
    }
    if (!decoder.Finish(sink)) return DecoderFailed(sink, decoded.past, named, o);
    o.decoded = target.from + sink.passed();
    if (request.checkSize && o.decoded != request.size) {
        o.expected = request.size;
        return Fail(o, DownloadFailure::ShorterThanListed);
    }
    // Where the platform cannot hash, a digest cannot be checked: the download fails.
    core::Sha256Digest got;
    if (hash && !hash->Finish(got)) return Fail(o, DownloadFailure::NoHash);
    if (hash && got != request.digest) return Fail(o, DownloadFailure::DigestMismatch);
    return true;
}

// The body of a "200 OK" answer, or the "206" rest of the kept part, into the local file or the part. true
// when all of it arrived, decoded and was written; otherwise the outcome says why. target tells where the
// body went ("": nowhere, nothing was made).
bool ReceiveBody(CHttpFile& file, const DownloadRequest& request, IDownloadProgress* progress, const CStopSignal& stop,
                 DWORD requestedAt, core::DownloadOutcome& o, CKeptPart& kept, BodyTarget& target) {
    AnswerHeads heads;
    if (!ReadAnswerHeads(file, o, heads)) return false;
    if (heads.coding == core::ContentCoding::Unsupported) {
        o.detail = heads.encoding.str();
        return Fail(o, DownloadFailure::UnsupportedEncoding);
    }
    if (!ChooseBodyTarget(file, request, heads, o, kept, target)) return false;
    const DecodedBound decoded = DecodedBoundOf(request, target.from);
    if (heads.haveLength && heads.coding == core::ContentCoding::Identity && heads.contentLength > decoded.bytes) {
        o.expected = target.from + decoded.bytes;
        return Fail(o, decoded.past);
    }
    // Shared for deletion: the pass removes its temp copies when it ends, even one a stopped download
    // still holds open.
    const ScopedFile out = target.from ? OpenToWrite(Wide(target.path), kShareAll)
                                       : CreateAnew(Wide(target.path), GENERIC_READ | GENERIC_WRITE, kShareAll);
    const DWORD createError = ::GetLastError();
    const double total = static_cast<double>(heads.haveLength ? heads.contentLength : file.GetLength()) +
                         static_cast<double>(target.from);
    if (request.showProgress && progress) progress->BodyStarted();
    if (!out) {
        target.path.clear();  // nothing made
        return Fail(o, DownloadFailure::LocalFile, createError);
    }
    if (stop.Raised()) return Fail(o, DownloadFailure::Stopped);  // given up while the headers came
    return ReadDecoded(file, request, progress, stop, requestedAt, o, out.get(), heads, target, decoded, total);
}

// Asks the server (following its redirects, up to a bound) and receives the answer's body into the local
// file, the kept part (body) or, for ranges, the local copy.
bool Exchange(CInternetSession& session, const DownloadRequest& request, IDownloadProgress* progress, const CStopSignal& stop,
              const std::string& headers, bool ranged, core::DownloadOutcome& o, CKeptPart& kept, BodyTarget& body) {
    core::RedirectTarget at;
    at.host = request.server;
    if (!RequestTarget(request.object, at.object)) return Fail(o, DownloadFailure::UnsendableName);
    const DWORD requestedAt = ::GetTickCount();
    const DWORD fresh = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
    // Redirects are followed here, not by the platform, so that a loop of them ends.
    for (int redirects = 0;; ++redirects) {
        if (stop.Raised()) return Fail(o, DownloadFailure::Stopped);
        const auto connection = session.GetHttpConnection(at.host.c_str(), at.port, nullptr, nullptr);
        const auto file = connection->OpenRequest(request.verb, at.object.c_str(), nullptr, 1, nullptr, nullptr,
                                                  INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                                      (request.fresh || ranged ? fresh : 0));
        SetWindowsTimeouts(file->GetHandle());
        file->SendRequest(headers.data(), static_cast<DWORD>(headers.size()), request.optional.data(),
                          static_cast<DWORD>(request.optional.size()));
        o.sent = true;
        if (!file->QueryInfo(HTTP_QUERY_STATUS_CODE, o.status)) return Fail(o, DownloadFailure::NoHeaders);
        if (core::IsRedirectStatus(o.status)) {
            if (redirects == core::kMaxRedirects) return Fail(o, DownloadFailure::TooManyRedirects);
            CString location;
            std::string target;
            core::RedirectTarget next;
            file->QueryInfo(HTTP_QUERY_LOCATION, location);
            if (!RequestTarget(location.str(), target) || !core::ResolveRedirect(at.host, at.port, at.object, target, next)) {
                o.detail = location.str();
                return Fail(o, DownloadFailure::BadRedirect);
            }
            at = next;
            continue;
        }
        // An error answer's body is not the object: nothing is stored.
        if (!core::IsObjectStatus(o.status, ranged)) {
            // "Come back later", and when: a wait the run may keep.
            CString retry;
            std::int64_t seconds = 0;
            if ((o.status == 503 || o.status == 429) && file->QueryInfo(HTTP_QUERY_RETRY_AFTER, retry) &&
                core::ParseRetryAfter(retry.str(), static_cast<std::int64_t>(std::time(nullptr)), seconds)) {
                o.retryAfter = seconds;
            }
            return Fail(o, DownloadFailure::Status);
        }
        return request.ranges.empty() ? ReceiveBody(*file, request, progress, stop, requestedAt, o, kept, body)
                                      : ReceiveRanges(*file, request, progress, stop, requestedAt, o);
    }
}

// The headers of the request: the program's own, and "no-cache" for a fresh copy (asked of every cache on
// the way too); the rest of a kept part as long as it is the same file; ranges of the file itself (a server
// that keeps a compressed copy beside it, nginx's gzip_static, would otherwise answer with ranges of that).
std::string RequestHeaders(const DownloadRequest& request, const CKeptPart& kept) {
    std::string headers(kRequestHeaders, kRequestHeadersLength - 2);
    if (request.fresh) headers += "Cache-Control: no-cache\r\n";
    if (kept.From()) headers += core::RangeHeaders(kept.From(), kept.Validator());
    if (!request.ranges.empty()) {
        const std::string compressed = "Accept-Encoding: gzip, deflate\r\n";
        headers.replace(headers.find(compressed), compressed.size(), "Accept-Encoding: identity\r\n");
        headers += "Range: " + core::RangesHeaderValue(request.ranges) + "\r\n";
    }
    return headers + "\r\n";
}

// After the exchange: a whole and right part becomes the local file; a part right as far as it went is kept,
// one proved wrong or refused goes; whatever arrived of a failed whole body goes.
void SettleKeptPart(const DownloadRequest& request, core::DownloadOutcome& o, CKeptPart& kept, const BodyTarget& body) {
    if (o.ok && body.isPart &&
        !::MoveFileExW(Wide(body.path).c_str(), Wide(request.localFile).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        o.ok = false;
        Fail(o, DownloadFailure::LocalFile, ::GetLastError());
    }
    if (o.ok) {
        kept.Drop();
    } else if (body.isPart && core::KeepsWhatArrived(o.failure)) {
        o.kept = FileSize(body.path);  // right as far as it went
    } else if (body.isPart || o.failure == DownloadFailure::BadRange || (o.status == 416 && kept.From())) {
        kept.Drop();  // proved wrong, or refused
    } else {
        o.kept = kept.From();  // untouched by an attempt that never reached it
        if (!body.path.empty()) ::DeleteFileW(Wide(body.path).c_str());
    }
}

}  // namespace

void SetWindowsTimeouts(HINTERNET handle) {
    // Wine's own waits are longer, and a server that goes silent must never hold the run (and the
    // stopped product) for longer than this.
    const DWORD timeouts[][2] = {{INTERNET_OPTION_CONNECT_TIMEOUT, kSlowServerMs},
                                 {INTERNET_OPTION_SEND_TIMEOUT, kSlowServerMs / 2},
                                 {INTERNET_OPTION_RECEIVE_TIMEOUT, kSlowServerMs / 2}};
    for (const auto& t : timeouts) {
        DWORD value = t[1];
        ::InternetSetOptionW(handle, t[0], &value, sizeof value);
    }
}

core::DownloadOutcome Download(const DownloadRequest& request, IDownloadProgress* progress, const CStopSignal& stop) {
    core::DownloadOutcome o;
    std::unique_ptr<CInternetSession> session;
    try {
        session = std::make_unique<CInternetSession>(nullptr, 1, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    } catch (const CInternetException& e) {
        Fail(o, DownloadFailure::NoConnection, e.m_dwError);
        return o;
    }
    SetWindowsTimeouts(session->GetHandle());
    CKeptPart kept(request);
    o.rangeFrom = kept.From();
    BodyTarget body;
    try {
        o.ok = Exchange(*session, request, progress, stop, RequestHeaders(request, kept), kept.From() || !request.ranges.empty(), o,
                        kept, body);
    } catch (const CInternetException& e) {
        o.ok = false;
        // An answer had begun (its status was read): the connection broke off under it.
        Fail(o, stop.Raised() ? DownloadFailure::Stopped : o.status ? DownloadFailure::BrokenOff : DownloadFailure::NoConnection,
             e.m_dwError);
    }
    session->Close();
    SettleKeptPart(request, o, kept, body);
    return o;
}
