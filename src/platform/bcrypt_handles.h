// Owners of CNG (bcrypt) handles: algorithm providers, hash objects and keys.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "portable/unique_handle.h"

inline void CloseAlgorithmProvider(BCRYPT_ALG_HANDLE provider) noexcept {
    ::BCryptCloseAlgorithmProvider(provider, 0);
}
using UniqueAlgorithm = UniqueHandle<ReleasedBy<BCRYPT_ALG_HANDLE, CloseAlgorithmProvider>>;
using UniqueHash = UniqueHandle<ReleasedBy<BCRYPT_HASH_HANDLE, ::BCryptDestroyHash>>;
using UniqueKey = UniqueHandle<ReleasedBy<BCRYPT_KEY_HANDLE, ::BCryptDestroyKey>>;
