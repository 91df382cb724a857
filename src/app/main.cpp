#include "app/UpdaterApp.h"

CUpdaterApp theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return theApp.Run(); }
