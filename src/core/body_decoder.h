#pragma once
// Undoes the content coding of an HTTP body while it arrives, with zlib: gzip, and deflate in both
// the zlib format the standard names and the raw form some servers send. A body counts as whole only
// when the coding's own end was reached (gzip's CRC and length, zlib's checksum) and nothing follows
// it. Memory stays fixed whatever the body's size: one zlib state and one output buffer per download.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/http.h"

namespace core {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // false stops the decoding (a write failed, or more arrived than is wanted).
    virtual bool Write(const char* data, std::size_t size) = 0;
};

// Passes at most bound bytes on to next: a write that would go past it is refused whole, so reading can
// stop at the first byte too many (after decoding, for a compressed body).
class BoundedSink : public ByteSink {
public:
    BoundedSink(ByteSink& next, std::uint64_t bound) : m_next(next), m_bound(bound) {}
    bool Write(const char* data, std::size_t size) override {
        if (size > m_bound - m_passed) {
            m_overran = true;
            return false;
        }
        m_passed += size;
        return m_next.Write(data, size);
    }
    std::uint64_t passed() const { return m_passed; }
    bool overran() const { return m_overran; }  // a write went past the bound

private:
    ByteSink& m_next;
    std::uint64_t m_bound;
    std::uint64_t m_passed = 0;
    bool m_overran = false;
};

// The most body bytes an answer coded so may take for an object of at most decodedBound bytes: the object
// itself when it is not compressed; otherwise zlib's bound for compressing it (what a compressor that falls
// back to stored blocks never exceeds) plus a margin of a 256th and 64 KiB for the gzip header's own fields.
// A compressed body that goes on past it (empty stored blocks, say, which decode to nothing) never ends.
std::uint64_t RawBodyBound(ContentCoding coding, std::uint64_t decodedBound);

class BodyDecoder {
public:
    // coding must not be Unsupported.
    explicit BodyDecoder(ContentCoding coding);
    ~BodyDecoder();
    BodyDecoder(const BodyDecoder&) = delete;
    BodyDecoder& operator=(const BodyDecoder&) = delete;

    // Decodes the next bytes of the body into sink. false: the body is corrupt, holds bytes after its
    // end, or the sink refused.
    bool Feed(const char* data, std::size_t size, ByteSink& sink);
    // After the last byte: true only when the coded stream ended properly.
    bool Finish(ByteSink& sink);

private:
    struct Stream;
    bool Start(ByteSink& sink);
    bool Inflate(const unsigned char* data, std::size_t size, ByteSink& sink);

    ContentCoding m_coding;
    std::unique_ptr<Stream> m_stream;  // zlib's state, made once the coding's form is known
    unsigned char m_head[2] = {};      // first bytes of a deflate body, held until its form is known
    std::size_t m_headSize = 0;
    bool m_ended = false;
    bool m_failed = false;
};

}  // namespace core
