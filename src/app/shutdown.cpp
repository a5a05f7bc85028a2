#include "app/shutdown.h"

#include <chrono>

#include "platform/kernel_handles.h"

bool gRunAbandoned = false;

namespace {

// Both live as long as the process: the guard thread waits on the event until the end.
UniqueKernelHandle gCountdown;
UniqueKernelHandle gGuardThread;

DWORD WINAPI GuardExit(void* countdown) {
    ::WaitForSingleObject(static_cast<HANDLE>(countdown), INFINITE);
    ::Sleep(kExitBoundMs);
    ForceExit();
}

}  // namespace

bool StopPatchRun(PatchStatus& status, DWORD graceMs) {
    status.stopRequested.exchange(true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    // Clearing busy is the run's last write; after it the thread only returns.
    while (status.busy.load()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            if (status.workerThread.joinable())
                status.workerThread.detach();
            return false;
        }
        ::Sleep(10);
    }
    if (status.workerThread.joinable())
        status.workerThread.join();
    return true;
}

void ArmExitGuard() {
    if (gGuardThread)
        return;
    gCountdown.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!gCountdown)
        return;
    gGuardThread.reset(::CreateThread(nullptr, 0, GuardExit, gCountdown.get(), 0, nullptr));
}

void StartExitCountdown() {
    if (gGuardThread)
        ::SetEvent(gCountdown.get());
}

void ForceExit() {
    // Not ExitProcess: it would run every library's detach code after the other threads are
    // gone, and a lock one of them held then waits forever.
    for (;;)
        ::TerminateProcess(::GetCurrentProcess(), kForcedExitCode);
}
