// One move-only owner for every kind of system handle, and the traits of every kind the launcher
// holds. A traits type names the handle type, its "nothing" value and how to release it, so each
// release happens exactly once on every path.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <winhttp.h>

#include <utility>

#include "ui/gdiplus_include.h"

template <typename Traits>
class UniqueHandle {
  public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Type get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // For APIs that hand a new handle back through an out parameter.
    Type* put() noexcept {
        reset();
        return &value_;
    }

    Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }

    void reset(Type value = Traits::Invalid()) noexcept {
        Type old = std::exchange(value_, value);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

  private:
    Type value_ = Traits::Invalid();
};

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

// WinHTTP sessions, connections and requests alike.
struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::WinHttpCloseHandle(h); }
};
using UniqueInternet = UniqueHandle<InternetHandleTraits>;

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

// COM: interface pointers, and the apartment of the calling thread (true while it must be left).
template <typename Interface>
struct ComTraits {
    using Type = Interface*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { p->Release(); }
};
using UniqueStream = UniqueHandle<ComTraits<IStream>>;

struct ComApartmentTraits {
    using Type = bool;
    static Type Invalid() noexcept { return false; }
    static void Close(Type) noexcept { ::CoUninitialize(); }
};
using UniqueComApartment = UniqueHandle<ComApartmentTraits>;

// GDI: bitmaps and regions (DeleteObject), memory device contexts (DeleteDC).
template <typename T>
struct GdiObjectTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};
using GdiBitmapTraits = GdiObjectTraits<HBITMAP>;
using UniqueGdiBitmap = UniqueHandle<GdiBitmapTraits>;
using UniqueGdiRegion = UniqueHandle<GdiObjectTraits<HRGN>>;

struct MemoryDcTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteDC(h); }
};
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

// GDI+: the library itself (its start-up token), and the flat-API objects the painter creates.
struct GdiplusTokenTraits {
    using Type = ULONG_PTR;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type token) noexcept { Gdiplus::GdiplusShutdown(token); }
};
using UniqueGdiplusToken = UniqueHandle<GdiplusTokenTraits>;

template <typename T, Gdiplus::GpStatus(WINGDIPAPI* Delete)(T*)>
struct GdiplusTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { Delete(p); }
};

// Brushes of every kind are released by one call that takes the base type.
template <typename T>
struct GdiplusBrushTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { Gdiplus::DllExports::GdipDeleteBrush(p); }
};

// Bitmaps and decoded pictures alike.
template <typename T>
struct GdiplusImageTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { Gdiplus::DllExports::GdipDisposeImage(p); }
};

using UniqueGraphics =
    UniqueHandle<GdiplusTraits<Gdiplus::GpGraphics, Gdiplus::DllExports::GdipDeleteGraphics>>;
using UniquePath =
    UniqueHandle<GdiplusTraits<Gdiplus::GpPath, Gdiplus::DllExports::GdipDeletePath>>;
using UniquePen = UniqueHandle<GdiplusTraits<Gdiplus::GpPen, Gdiplus::DllExports::GdipDeletePen>>;
using UniqueRegion =
    UniqueHandle<GdiplusTraits<Gdiplus::GpRegion, Gdiplus::DllExports::GdipDeleteRegion>>;
using UniqueFont =
    UniqueHandle<GdiplusTraits<Gdiplus::GpFont, Gdiplus::DllExports::GdipDeleteFont>>;
using UniqueFontFamily =
    UniqueHandle<GdiplusTraits<Gdiplus::GpFontFamily, Gdiplus::DllExports::GdipDeleteFontFamily>>;
using UniqueStringFormat = UniqueHandle<
    GdiplusTraits<Gdiplus::GpStringFormat, Gdiplus::DllExports::GdipDeleteStringFormat>>;
using UniqueSolidFill = UniqueHandle<GdiplusBrushTraits<Gdiplus::GpSolidFill>>;
using UniqueLineBrush = UniqueHandle<GdiplusBrushTraits<Gdiplus::GpLineGradient>>;
using UniquePathGradient = UniqueHandle<GdiplusBrushTraits<Gdiplus::GpPathGradient>>;
using UniqueBitmap = UniqueHandle<GdiplusImageTraits<Gdiplus::GpBitmap>>;
using UniqueImage = UniqueHandle<GdiplusImageTraits<Gdiplus::GpImage>>;
