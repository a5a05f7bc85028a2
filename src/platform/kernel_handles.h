// Owners of kernel objects: files, find handles, threads, processes, events and mutexes.
#pragma once

#include <windows.h>

#include "portable/unique_handle.h"

// Files and find handles signal failure with INVALID_HANDLE_VALUE, the other kinds with null.
template <auto Release>
struct FileLikeTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { Release(h); }
};
using UniqueFile = UniqueHandle<FileLikeTraits<::CloseHandle>>;
using UniqueFind = UniqueHandle<FileLikeTraits<::FindClose>>;

// Threads, processes, events, mutexes.
using UniqueKernelHandle = UniqueHandle<ReleasedBy<HANDLE, ::CloseHandle>>;

// A mutex this thread owns: released, then closed.
inline void ReleaseAndCloseMutex(HANDLE mutex) noexcept {
    ::ReleaseMutex(mutex);
    ::CloseHandle(mutex);
}
using HeldMutex = UniqueHandle<ReleasedBy<HANDLE, ReleaseAndCloseMutex>>;
