// Pictures for painting tests and benchmarks: the project's own files when they exist, else a
// JPEG of the same size made here at run time.
#pragma once

#include "ui/gdi_handles.h"

#include <cstdint>
#include <string>

// A decoded picture and the stream it reads from, which must live as long as the picture.
struct Picture {
    UniqueStream stream;
    UniqueImage image;
    Gdiplus::GpImage* get() const { return image.get(); }
};

// Decodes the bytes (JPEG or PNG) held in memory.
Picture PictureFromBytes(const std::string& bytes);

// 0xAARRGGBB pixels (top-down rows) encoded by GDI+ as "image/png" or "image/jpeg".
std::string EncodePixels(const std::uint32_t* pixels, int width, int height, const wchar_t* mime);

// A width x height JPEG of soft coloured bands and diagonal stripes, encoded by GDI+.
std::string MakeJpegBytes(int width, int height, unsigned seed);

// res/<name> of the source tree when present, else a generated JPEG of width x height.
// `fromSource` tells which one it is.
Picture ProjectPictureOrGenerated(const char* sourceDir, const wchar_t* name, int width, int height,
                                  bool* fromSource);

// Writes 0xAARRGGBB pixels (top-down rows) as a PNG file.
bool SavePng(const std::wstring& path, const std::uint32_t* pixels, int width, int height);
