#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>

#include "platform/exe_location.h"
#include "app/shutdown.h"
#include "platform/kernel_handles.h"

// Whatever still runs, a process whose window is gone ends within the bound, and not before it:
// the clean-up that a normal end does in that time must not be cut short.
TEST(ExitGuard, EndsAProcessWithAThreadThatNeverReturns) {
    std::wstring command = L"\"" + ExeDirectory() + L"\\exit_guard_probe.exe\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &started));
    UniqueKernelHandle process(started.hProcess);
    UniqueKernelHandle thread(started.hThread);
    const bool ended = ::WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0;
    const auto took = std::chrono::steady_clock::now() - start;
    if (!ended)
        ::TerminateProcess(process.get(), 99);
    ASSERT_TRUE(ended) << "the probe was still running after 60 s";
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, static_cast<DWORD>(kForcedExitCode));
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), kExitBoundMs);
}
