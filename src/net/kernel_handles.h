// Owners of kernel objects: files, find handles, threads, processes, events and mutexes.
#pragma once

#include <windows.h>

#include "portable/unique_handle.h"

// Kernel objects.

// Files and find handles signal failure with INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
using UniqueFile = UniqueHandle<FileHandleTraits>;

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};
using UniqueFind = UniqueHandle<FindHandleTraits>;

// Threads, processes, events, mutexes: failure is a null handle.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

// A mutex this thread owns: released, then closed.
struct HeldMutexTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept {
        ::ReleaseMutex(h);
        ::CloseHandle(h);
    }
};
using HeldMutex = UniqueHandle<HeldMutexTraits>;
