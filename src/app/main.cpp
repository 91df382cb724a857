#include "app/UpdaterApp.h"

CUpdaterApp theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    // The window procedures and the run's threads catch what they throw (the run's log tells it); whatever
    // is thrown outside them, before the dialog or after it, ends the program quietly instead of with the
    // runtime's abort message, which would wait for a click on an unattended machine.
    try {
        return theApp.Run();
    } catch (...) {
        return 1;
    }
}
