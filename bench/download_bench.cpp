// Measures one download of a file on a loopback server.
//   download_bench.exe HOST OBJECT LOCALFILE [DIGEST]  wall time and CPU time of this process; with DIGEST
//                                                      ("sha256:..."), checked as a signed release's entry is
//   download_bench.exe --paints HOST OBJECT LOCALFILE  paints of a current-file bar driven by the download
//                                                      from another thread, against the fill widths it took
//   download_bench.exe --match OLDFILE MAPFILE         where the blocks of MAPFILE's file lie in OLDFILE, as
//                                                      a block update finds them: CPU and wall time, peak
//                                                      working set, blocks found
#include <windows.h>

#include <cstdio>
#include <string>

#include <commctrl.h>

#include <vector>

#include "app/RunView.h"
#include "controls/LabeledProgressCtrl.h"
#include "core/control_layout.h"
#include "core/release.h"
#include "net/download.h"
#include "update/file_blocks.h"
#include "update/update_run.h"

#include <psapi.h>

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

namespace {

class CountingBar : public CLabeledProgressCtrl {
public:
    int paints = 0;
    std::vector<int> positions;

protected:
    LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
        if (msg == WM_PAINT) ++paints;
        if (msg == PBM_SETPOS) positions.push_back(static_cast<int>(w));
        return CLabeledProgressCtrl::WindowProc(msg, w, l);
    }
};

// The dialog's own view of a download, on the current-file bar only.
struct Job {
    DownloadRequest request;
    std::shared_ptr<CDialogRunView> view = std::make_shared<CDialogRunView>();
    int result = 0;
};

DWORD WINAPI DownloadThread(LPVOID p) {
    auto* job = static_cast<Job*>(p);
    CDownloadProgressRelay relay(job->view);
    const core::DownloadOutcome outcome = Download(job->request, &relay, CStopSignal());
    job->view->DownloadEnded(job->request.object, outcome, core::NextAttempt::None);
    job->result = outcome.ok ? 1 : 0;
    return 0;
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

int Paints(const char* host, const char* object, const char* local) {
    InitCommonControls();
    // The dialog's current-file bar is 240 dialog units wide: about 420 pixels.
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 50, 50, 460, 40, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    HWND control = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 20, 13, 420, 14, window,
                                   nullptr, GetModuleHandleW(nullptr), nullptr);
    CountingBar bar;
    bar.SubclassWindow(control);
    bar.SendMessage(PBM_SETRANGE32, 0, 100);
    bar.SendMessage(PBM_SETPOS, 100);
    UpdateWindow(window);
    Pump();
    bar.paints = 0;
    bar.positions.clear();
    Job job;
    job.view->Attach(nullptr, nullptr, control, CStopSignal());
    job.request.showProgress = true;
    job.request.server = host;
    job.request.object = object;
    job.request.localFile = local;
    bar.SendMessage(PBM_SETPOS, 0);  // as the pass does before each file
    HANDLE thread = CreateThread(nullptr, 0, &DownloadThread, &job, 0, nullptr);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) Pump();
    CloseHandle(thread);
    Pump();
    RECT rc;
    GetClientRect(control, &rc);
    int changes = 0;
    int width = core::ProgressFillWidth(100, 0, 100, rc.right);
    for (int pos : bar.positions) {
        const int w = core::ProgressFillWidth(pos, 0, 100, rc.right);
        if (w != width) ++changes;
        width = w;
    }
    std::printf("result=%d positions=%u widths=%d paints=%d\n", job.result, static_cast<unsigned>(bar.positions.size()),
                changes, bar.paints);
    DestroyWindow(window);
    return job.result == 1 ? 0 : 1;
}

int Match(const char* oldFile, const char* mapFile) {
    std::string mapBytes;
    {
        const ScopedFile map(CreateFileA(mapFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size{};
        DWORD n = 0;
        if (!map || !GetFileSizeEx(map.get(), &size)) return 2;
        mapBytes.resize(static_cast<std::size_t>(size.QuadPart));
        if (!ReadFile(map.get(), &mapBytes[0], static_cast<DWORD>(mapBytes.size()), &n, nullptr) || n != mapBytes.size()) return 2;
    }
    std::uint64_t fileSize = 0;  // as the map gives it: the entry's size, in a run
    for (int i = 7; i >= 0; --i) fileSize = fileSize << 8 | static_cast<unsigned char>(mapBytes[8 + static_cast<std::size_t>(i)]);
    core::BlockMap map;
    if (!core::ParseBlockMap(mapBytes, fileSize, map)) return 2;
    const ScopedFile old(CreateFileA(oldFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!old) return 2;
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    const double cpu0 = CpuSeconds();
    QueryPerformanceCounter(&t0);
    std::vector<std::int64_t> found;
    const BlockSearch end = FindMappedBlocks(old.get(), map, CStopSignal(), found);
    QueryPerformanceCounter(&t1);
    std::size_t have = 0;
    for (std::int64_t at : found) have += at >= 0;
    PROCESS_MEMORY_COUNTERS memory{};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("result=%d wall=%.4f cpu=%.4f blocks=%u found=%u peak_ws=%u\n", end == BlockSearch::Done ? 1 : 0,
                static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart), CpuSeconds() - cpu0,
                static_cast<unsigned>(found.size()), static_cast<unsigned>(have), static_cast<unsigned>(memory.PeakWorkingSetSize));
    return end == BlockSearch::Done ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::string(argv[1]) == "--paints") return Paints(argv[2], argv[3], argv[4]);
    if (argc >= 4 && std::string(argv[1]) == "--match") return Match(argv[2], argv[3]);
    if (argc < 4) {
        std::fprintf(stderr, "usage: download_bench HOST OBJECT LOCALFILE\n");
        return 2;
    }
    DownloadRequest r;
    r.server = argv[1];
    r.object = argv[2];
    r.localFile = argv[3];
    if (argc >= 5) r.checkDigest = core::ParseDigestField(argv[4], r.digest);
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    const double cpu0 = CpuSeconds();
    QueryPerformanceCounter(&t0);
    const int result = Download(r, nullptr, CStopSignal()).ok ? 1 : 0;
    QueryPerformanceCounter(&t1);
    const double cpu = CpuSeconds() - cpu0;
    const double wall = static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart);
    std::printf("result=%d wall=%.4f cpu=%.4f\n", result, wall, cpu);
    return result == 1 ? 0 : 1;
}
