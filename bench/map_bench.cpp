// Measures the publishing tool's block map of a file: map_bench FILE [MAP] prints the map's wall and CPU time
// (the file read first, as publish reads it), its size and the process's peak resident memory; with MAP,
// writes the map there.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

#include "release_tool.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: map_bench FILE [MAP]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) return 2;
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    const std::string map = release_tool::BlockMap(bytes);
    const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (argc == 3 && !(std::ofstream(argv[2], std::ios::binary) << map)) return 2;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("result=%d wall=%.4f cpu=%.4f size=%zu map=%zu peak_rss=%ld\n", map.empty() ? 0 : 1, wall, cpu, bytes.size(),
                map.size(), usage.ru_maxrss * 1024L);
    return map.empty() ? 1 : 0;
}
