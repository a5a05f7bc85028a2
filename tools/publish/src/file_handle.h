// The publisher's owner of an open file: a HANDLE on Windows, a descriptor elsewhere, closed
// exactly once by its owner. Kept free of platform headers so that users need none.
#pragma once

#include "portable/unique_handle.h"

namespace talvora {

struct FileHandleTraits {
#ifdef _WIN32
    using Type = void*;  // HANDLE; INVALID_HANDLE_VALUE when none is open
#else
    using Type = int;  // -1 when none is open
#endif
    static Type Invalid() noexcept;
    static void Close(Type file) noexcept;
};
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

}  // namespace talvora
