// Measures one download of a file on a loopback server: wall time, CPU time of this process, bytes.
//   download_bench.exe HOST OBJECT LOCALFILE
#include <windows.h>

#include <cstdio>
#include <string>

#include "net/download.h"

namespace {

double Seconds(const FILETIME& t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 1e7;
}

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return Seconds(kernel) + Seconds(user);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: download_bench HOST OBJECT LOCALFILE\n");
        return 2;
    }
    DownloadRequest r;
    r.server = argv[1];
    r.object = argv[2];
    r.localFile = argv[3];
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    const double cpu0 = CpuSeconds();
    QueryPerformanceCounter(&t0);
    const int result = Download(r, nullptr, CStopSignal());
    QueryPerformanceCounter(&t1);
    const double cpu = CpuSeconds() - cpu0;
    const double wall = static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart);
    std::printf("result=%d wall=%.4f cpu=%.4f\n", result, wall, cpu);
    return result == 1 ? 0 : 1;
}
