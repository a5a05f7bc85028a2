// A launcher whose window is gone while one of its threads never returns: the exit guard must
// end it anyway. usage: exit_guard_probe
#include <windows.h>

#include <thread>

#include "app/shutdown.h"

int wmain() {
    ArmExitGuard();
    std::thread stuck([] { ::Sleep(INFINITE); });
    StartExitCountdown();
    stuck.join();
    return 0;
}
