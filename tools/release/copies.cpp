#include "copies.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include <zlib.h>

#include "description.h"

namespace release_tool {

bool Gzip(const std::string& bytes, std::string& gz) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    gz.resize(deflateBound(&z, bytes.size()) + 32);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(&gz[0]);
    z.avail_out = static_cast<uInt>(gz.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    gz.resize(z.total_out);
    deflateEnd(&z);
    return done;
}

bool Gunzip(const std::string& gz, std::string& bytes) {
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
    z.avail_in = static_cast<uInt>(gz.size());
    bytes.clear();
    char piece[64 * 1024];
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(piece);
        z.avail_out = sizeof piece;
        status = inflate(&z, Z_NO_FLUSH);
        bytes.append(piece, sizeof piece - z.avail_out);
        if (status == Z_BUF_ERROR && z.avail_in == 0) break;  // cut short
    }
    inflateEnd(&z);
    return status == Z_STREAM_END && z.avail_in == 0;
}

bool HoldsBytes(const std::string& path, const std::string& bytes) {
    std::string held;
    return IsRegularFile(path) && ReadFile(path, held) && held == bytes;
}

bool MakeByHashName(const std::string& name, const std::string& source) {
    // A link made by an earlier publish is the file itself: nothing to read.
    struct stat a{}, b{};
    if (::stat(name.c_str(), &a) == 0 && ::stat(source.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) return true;
    std::string bytes;
    if (!ReadFile(source, bytes)) return false;
    if (HoldsBytes(name, bytes)) return true;
    std::error_code ignored;
    std::filesystem::create_directories(Folder(name), ignored);
    // A hard link costs no room; beside the name, then renamed over it, so the server never serves a part.
    const std::string temp = name + ".publishing";
    std::remove(temp.c_str());
    if (::link(source.c_str(), temp.c_str()) == 0) {
        if (std::rename(temp.c_str(), name.c_str()) == 0) return true;
        std::remove(temp.c_str());
        return false;
    }
    return WriteAtomically(name, bytes);
}

}  // namespace release_tool
