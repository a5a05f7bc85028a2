#include "support/pictures.h"

#include "support/test_files.h"

#include <shlwapi.h>

#include <cstdint>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

bool EncoderFor(const wchar_t* mime, CLSID* clsid) {
    UINT count = 0;
    UINT bytes = 0;
    if (GdipGetImageEncodersSize(&count, &bytes) != Ok || bytes == 0)
        return false;
    std::vector<BYTE> buffer(bytes);
    auto* codecs = reinterpret_cast<ImageCodecInfo*>(buffer.data());
    if (GdipGetImageEncoders(count, bytes, codecs) != Ok)
        return false;
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(codecs[i].MimeType) == mime) {
            *clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

std::string StreamBytes(IStream* stream) {
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)))
        return std::string();
    std::string bytes(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG got = 0;
    if (!bytes.empty())
        stream->Read(&bytes[0], static_cast<ULONG>(bytes.size()), &got);
    bytes.resize(got);
    return bytes;
}

std::string Encode(GpImage* image, const wchar_t* mime) {
    CLSID clsid;
    if (!EncoderFor(mime, &clsid))
        return std::string();
    UniqueStream stream(::SHCreateMemStream(nullptr, 0));
    if (!stream)
        return std::string();
    if (GdipSaveImageToStream(image, stream.get(), &clsid, nullptr) != Ok)
        return std::string();
    return StreamBytes(stream.get());
}

}  // namespace

Picture PictureFromBytes(const std::string& bytes) {
    Picture picture;
    picture.stream.reset(::SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()),
                                             static_cast<UINT>(bytes.size())));
    if (!picture.stream)
        return picture;
    if (GdipLoadImageFromStream(picture.stream.get(), picture.image.put()) != Ok) {
        picture.image.reset();
    }
    return picture;
}

std::string EncodePixels(const std::uint32_t* pixels, int width, int height, const wchar_t* mime) {
    UniqueBitmap bitmap;
    if (GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppARGB,
                                  reinterpret_cast<BYTE*>(const_cast<std::uint32_t*>(pixels)),
                                  bitmap.put()) != Ok) {
        return std::string();
    }
    return Encode(bitmap.get(), mime);
}

std::string MakeJpegBytes(int width, int height, unsigned seed) {
    std::vector<std::uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned r = (x * 255 / width + seed * 37) & 0xFF;
            const unsigned g = (y * 200 / height + ((x + y) / 24 % 2) * 40) & 0xFF;
            const unsigned b = ((x ^ y) * 3 / 8 + seed) & 0xFF;
            pixels[static_cast<size_t>(y) * width + x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    return EncodePixels(pixels.data(), width, height, L"image/jpeg");
}

Picture ProjectPictureOrGenerated(const char* sourceDir, const wchar_t* name, int width, int height,
                                  bool* fromSource) {
    const std::string bytes = ReadFileBytes(BuildPath(sourceDir) + L"\\res\\" + name);
    if (!bytes.empty()) {
        Picture picture = PictureFromBytes(bytes);
        if (picture.image) {
            if (fromSource)
                *fromSource = true;
            return picture;
        }
    }
    if (fromSource)
        *fromSource = false;
    return PictureFromBytes(MakeJpegBytes(width, height, static_cast<unsigned>(width)));
}

bool SavePng(const std::wstring& path, const std::uint32_t* pixels, int width, int height) {
    UniqueBitmap bitmap;
    if (GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppARGB,
                                  reinterpret_cast<BYTE*>(const_cast<std::uint32_t*>(pixels)),
                                  bitmap.put()) != Ok) {
        return false;
    }
    CLSID clsid;
    return EncoderFor(L"image/png", &clsid) &&
           GdipSaveImageToFile(bitmap.get(), path.c_str(), &clsid, nullptr) == Ok;
}
