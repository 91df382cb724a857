#include "core/body_decoder.h"

#include <zlib.h>

#include <cstdint>

namespace core {

struct BodyDecoder::Stream {
    z_stream z{};
    bool ready = false;
    unsigned char out[16384];
    ~Stream() {
        if (ready) inflateEnd(&z);
    }
};

namespace {

// The two-byte header of the zlib format: deflate with a window of at most 32 KiB and a check value.
bool IsZlibHeader(unsigned char cmf, unsigned char flg) {
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
}

}  // namespace

std::uint64_t RawBodyBound(ContentCoding coding, std::uint64_t decodedBound) {
    if (coding == ContentCoding::Identity) return decodedBound;
    const std::uint64_t n = decodedBound;
    if (n > UINT64_MAX / 2) return UINT64_MAX;  // no bound worth the name
    // compressBound's formula, in 64 bits (its uLong is 32 bits on Windows), and the margin.
    return n + (n >> 12) + (n >> 14) + (n >> 25) + 13 + n / 256 + 64 * 1024;
}

BodyDecoder::BodyDecoder(ContentCoding coding) : m_coding(coding) {
    if (coding == ContentCoding::Unsupported) m_failed = true;
}

BodyDecoder::~BodyDecoder() = default;

bool BodyDecoder::Start(ByteSink& sink) {
    int windowBits = 15 + 16;  // gzip, with its header and trailer checked
    if (m_coding == ContentCoding::Deflate) windowBits = IsZlibHeader(m_head[0], m_head[1]) ? 15 : -15;
    m_stream.reset(new Stream);
    if (inflateInit2(&m_stream->z, windowBits) != Z_OK) return false;
    m_stream->ready = true;
    const std::size_t held = m_headSize;
    m_headSize = 0;
    return Inflate(m_head, held, sink);
}

bool BodyDecoder::Inflate(const unsigned char* data, std::size_t size, ByteSink& sink) {
    z_stream& z = m_stream->z;
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = static_cast<uInt>(size);
    while (z.avail_in > 0) {
        if (m_ended) return false;  // bytes after the end of the coded stream
        z.next_out = m_stream->out;
        z.avail_out = sizeof m_stream->out;
        const int r = inflate(&z, Z_NO_FLUSH);
        if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) return false;
        const std::size_t produced = sizeof m_stream->out - z.avail_out;
        if (produced > 0 && !sink.Write(reinterpret_cast<const char*>(m_stream->out), produced)) return false;
        if (r == Z_STREAM_END) m_ended = true;
        if (r == Z_BUF_ERROR && produced == 0) return false;  // no progress possible with input left
    }
    // Input used up: output zlib still holds back comes with the next bytes, or at the end.
    return true;
}

bool BodyDecoder::Feed(const char* data, std::size_t size, ByteSink& sink) {
    if (m_failed) return false;
    if (m_coding == ContentCoding::Identity) {
        m_failed = size > 0 && !sink.Write(data, size);
        return !m_failed;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (!m_stream) {
        while (size > 0 && m_headSize < sizeof m_head) {
            m_head[m_headSize++] = *bytes++;
            --size;
        }
        if (m_headSize < sizeof m_head) return true;
        if (!Start(sink)) return !(m_failed = true);
    }
    if (!Inflate(bytes, size, sink)) m_failed = true;
    return !m_failed;
}

bool BodyDecoder::Finish(ByteSink& sink) {
    if (m_failed) return false;
    if (m_coding == ContentCoding::Identity) return true;
    if (!m_stream) {
        // A body of fewer than two bytes is no complete stream of either coding; zlib says so.
        if (m_headSize == 0 || !Start(sink)) return false;
    }
    // Drain what zlib still holds: with no more input, inflate reports the end or that it needs more.
    while (!m_ended) {
        z_stream& z = m_stream->z;
        z.next_in = nullptr;
        z.avail_in = 0;
        z.next_out = m_stream->out;
        z.avail_out = sizeof m_stream->out;
        const int r = inflate(&z, Z_FINISH);
        const std::size_t produced = sizeof m_stream->out - z.avail_out;
        if (produced > 0 && !sink.Write(reinterpret_cast<const char*>(m_stream->out), produced)) return false;
        if (r == Z_STREAM_END) m_ended = true;
        else if (produced == 0) return false;  // cut short: the stream wants bytes that never came
    }
    return true;
}

}  // namespace core
