// Owners of CNG (bcrypt) handles.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "portable/unique_handle.h"

// CNG: algorithm providers, hash objects and keys.
struct AlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
using UniqueAlgorithm = UniqueHandle<AlgorithmTraits>;

struct HashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptDestroyHash(h); }
};
using UniqueHash = UniqueHandle<HashTraits>;

struct KeyTraits {
    using Type = BCRYPT_KEY_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptDestroyKey(h); }
};
using UniqueKey = UniqueHandle<KeyTraits>;
