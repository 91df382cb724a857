// The least a windowed program does under the same Wine: a window titled as the updater's dialog, shown,
// then closed. run_bench.exe measures it as it measures a run, for the start and end that are not ours.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const HWND w = CreateWindowExW(0, L"STATIC", L"BrinsoUpdator", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300,
                                   nullptr, nullptr, instance, nullptr);
    UpdateWindow(w);
    MSG msg;
    for (int i = 0; i < 50 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageW(&msg);
    Sleep(100);  // long enough for the measuring program to see it (scripts/bench.sh takes it off)
    DestroyWindow(w);
    return 0;
}
