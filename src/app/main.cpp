// Entry point of Talvora.exe; everything else lives in the product library.
#include <windows.h>

#include "app/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return RunLauncher(instance);
}
