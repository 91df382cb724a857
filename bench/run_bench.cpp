// Measures whole runs of BrinsoUpdator.exe from outside, as a user's machine would see them.
//   run_bench.exe EXE   start to exit wall time, peak working set, and the dialog's answer times to a
//                       message sent every 5 ms (probe) while the run lasts
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double Now() {
    static LARGE_INTEGER f = [] {
        LARGE_INTEGER v;
        QueryPerformanceFrequency(&v);
        return v;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

struct Search {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK Match(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    wchar_t title[32] = {};
    GetWindowTextW(h, title, 32);
    if (pid == s->pid && IsWindowVisible(h) && std::wstring(title) == L"BrinsoUpdator") {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    std::wstring cmd = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const double t0 = Now();
    if (!CreateProcessW(argv[1], &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1;
    SIZE_T peak = 0;
    std::vector<double> answers;
    HWND dlg = nullptr;
    double nextProbe = 0, shownAt = 0, goneAt = 0;
    while (WaitForSingleObject(pi.hProcess, 1) == WAIT_TIMEOUT) {
        if (dlg && !goneAt && !IsWindowVisible(dlg)) goneAt = Now();
        PROCESS_MEMORY_COUNTERS pmc{};
        pmc.cb = sizeof pmc;
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc)) peak = std::max(peak, pmc.PeakWorkingSetSize);
        if (!dlg) {
            Search s{pi.dwProcessId, nullptr};
            EnumWindows(&Match, reinterpret_cast<LPARAM>(&s));
            dlg = s.found;
            if (dlg) shownAt = Now();
        }
        if (dlg && Now() >= nextProbe) {
            nextProbe = Now() + 0.005;
            const double sent = Now();
            DWORD_PTR r = 0;
            if (SendMessageTimeoutW(dlg, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &r)) answers.push_back((Now() - sent) * 1000.0);
        }
    }
    const double end = Now(), wall = end - t0;
    std::sort(answers.begin(), answers.end());
    const auto pct = [&](double p) { return answers.empty() ? 0.0 : answers[static_cast<size_t>(p * (answers.size() - 1))]; };
    // Where the time went: until the dialog showed, and from its close to the process's end.
    std::printf("wall=%.3f peak_ws=%lu probes=%u p50=%.2f p99=%.2f shown=%.3f closing=%.3f\n", wall,
                static_cast<unsigned long>(peak), static_cast<unsigned>(answers.size()), pct(0.50), pct(0.99),
                shownAt ? shownAt - t0 : 0.0, goneAt ? end - goneAt : 0.0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}
