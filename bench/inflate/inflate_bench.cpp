// The cost of inflating compressed copies as they arrive, on real game data.
//   inflate_bench pack FOLDER PACKFILE   deflates every file below FOLDER on its own (level 6) and
//                                        writes the copies (and the sizes of files left raw) to
//                                        PACKFILE; prints the shares
//   inflate_bench run PACKFILE [REPEAT]  inflates every copy with ZlibInflater in 8 KiB pieces
//                                        (what WinHTTP hands over) against zlib's one-shot
//                                        uncompress() in the same process; best of REPEAT
// A copy is kept, as a publisher would keep it, when it saves at least kKeepSaving of its file.
// Times are the process's CPU time, which is what "% of one core" means, so that other work on
// the machine weighs less on them than on wall-clock time. One line per figure; MB is 10^6 bytes.
#include <zlib.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#endif

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "portable/patch/zlib_stream.h"

namespace {

constexpr double kKeepSaving = 0.05;
constexpr std::size_t kPiece = 8192;
constexpr double kLineBytesPerSecond = 100e6 / 8;  // 100 Mbit/s

double CpuSeconds() {
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 1e-7;
#else
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

struct Copy {
    std::uint64_t rawSize = 0;
    std::string stream;
};

bool ReadWhole(const std::filesystem::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in.tellg();
    if (!in || size < 0)
        return false;
    bytes.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    return static_cast<bool>(in.read(&bytes[0], static_cast<std::streamsize>(size)));
}

void PutU64(std::ostream& out, std::uint64_t value) {
    char bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    out.write(bytes, 8);
}

bool GetU64(std::istream& in, std::uint64_t& value) {
    unsigned char bytes[8];
    if (!in.read(reinterpret_cast<char*>(bytes), 8))
        return false;
    value = 0;
    for (int i = 0; i < 8; ++i)
        value |= std::uint64_t{bytes[i]} << (8 * i);
    return true;
}

int Pack(const char* folder, const char* packFile) {
    std::ofstream out(packFile, std::ios::binary);
    std::uint64_t files = 0, raw = 0, allCompressed = 0, keptFiles = 0, keptRaw = 0, keptCopies = 0;
    std::string bytes, stream;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        if (!item.is_regular_file() || item.is_symlink() || !ReadWhole(item.path(), bytes))
            continue;
        if (!ZlibCompress(bytes.data(), bytes.size(), 6, stream))
            break;
        ++files;
        raw += bytes.size();
        allCompressed += stream.size();
        PutU64(out, bytes.size());
        if (static_cast<double>(stream.size()) >
            static_cast<double>(bytes.size()) * (1 - kKeepSaving)) {
            PutU64(out, 0);  // travels raw
            continue;
        }
        ++keptFiles;
        keptRaw += bytes.size();
        keptCopies += stream.size();
        PutU64(out, stream.size());
        out.write(stream.data(), static_cast<std::streamsize>(stream.size()));
    }
    out.close();
    const bool written = !out.fail();
    const double mib = 1024.0 * 1024.0;
    std::printf("files: %llu, raw %.1f MiB, every file deflated %.1f MiB, share %.3f\n",
                static_cast<unsigned long long>(files), raw / mib, allCompressed / mib,
                raw ? static_cast<double>(allCompressed) / raw : 1.0);
    std::printf(
        "copies kept (saving >= %.0f %%): %llu files, %.1f MiB raw as %.1f MiB; pack on "
        "the wire %.1f MiB, share %.3f\n",
        kKeepSaving * 100, static_cast<unsigned long long>(keptFiles), keptRaw / mib,
        keptCopies / mib, (raw - keptRaw + keptCopies) / mib,
        raw ? static_cast<double>(raw - keptRaw + keptCopies) / raw : 1.0);
    return written ? 0 : 1;
}

bool LoadPack(const char* packFile, std::vector<Copy>& copies) {
    std::ifstream in(packFile, std::ios::binary);
    Copy copy;
    std::uint64_t size = 0;
    bool ok = true;
    while (ok && GetU64(in, copy.rawSize)) {
        ok = GetU64(in, size) && size < (1ull << 32);
        copy.stream.resize(static_cast<std::size_t>(ok ? size : 0));
        ok = ok && in.read(&copy.stream[0], static_cast<std::streamsize>(copy.stream.size()));
        copies.push_back(copy);
    }
    return ok && !copies.empty();
}

// Seconds to inflate every copy through the streaming inflater, fed in pieces; false if any
// copy did not come back whole.
bool TimeInflater(const std::vector<Copy>& copies, double& seconds) {
    const double start = CpuSeconds();
    std::uint64_t sum = 0;
    for (const Copy& copy : copies) {
        if (copy.stream.empty())
            continue;
        ZlibInflater inflater(copy.rawSize, [&sum](const char* data, std::size_t size) {
            sum += static_cast<unsigned char>(data[size - 1]);
            return true;
        });
        for (std::size_t at = 0; at < copy.stream.size(); at += kPiece)
            inflater.Feed(copy.stream.data() + at, std::min(kPiece, copy.stream.size() - at));
        if (!inflater.Finish() || inflater.inflated() != copy.rawSize)
            return false;
    }
    seconds = CpuSeconds() - start;
    return sum != 1;  // keeps the sink's work
}

// The same with zlib's one-shot uncompress() into a buffer of the file's size.
bool TimeReference(const std::vector<Copy>& copies, double& seconds) {
    std::vector<Bytef> buffer;
    const double start = CpuSeconds();
    for (const Copy& copy : copies) {
        if (copy.stream.empty())
            continue;
        buffer.resize(static_cast<std::size_t>(copy.rawSize) + 1);
        uLongf length = static_cast<uLongf>(buffer.size());
        if (uncompress(buffer.data(), &length, reinterpret_cast<const Bytef*>(copy.stream.data()),
                       static_cast<uLong>(copy.stream.size())) != Z_OK ||
            length != copy.rawSize)
            return false;
    }
    seconds = CpuSeconds() - start;
    return true;
}

void PrintFigure(const char* name, double compressed, double inflated, double seconds) {
    const double inputRate = compressed / seconds;
    std::printf(
        "%s: %.1f MB/s of copies, %.1f MB/s inflated, %.2f %% of one core per 100 Mbit/s "
        "(goal <= 10 %%)\n",
        name, inputRate / 1e6, inflated / seconds / 1e6, 100.0 * kLineBytesPerSecond / inputRate);
}

int Run(const char* packFile, int repeat) {
    std::vector<Copy> copies;
    if (!LoadPack(packFile, copies)) {
        std::fprintf(stderr, "inflate_bench: cannot read %s\n", packFile);
        return 1;
    }
    double compressed = 0, inflated = 0, wire = 0;
    std::size_t count = 0;
    for (const Copy& copy : copies) {
        wire += static_cast<double>(copy.stream.empty() ? copy.rawSize : copy.stream.size());
        if (copy.stream.empty())
            continue;
        ++count;
        compressed += static_cast<double>(copy.stream.size());
        inflated += static_cast<double>(copy.rawSize);
    }
    double ours = 1e30, reference = 1e30;
    for (int i = 0; i < repeat; ++i) {
        double seconds = 0;
        if (!TimeInflater(copies, seconds))
            return 1;
        ours = std::min(ours, seconds);
        if (!TimeReference(copies, seconds))
            return 1;
        reference = std::min(reference, seconds);
    }
    std::printf("copies: %zu, %.1f MB as %.1f MB inflated\n", count, compressed / 1e6,
                inflated / 1e6);
    PrintFigure("ZlibInflater, 8 KiB pieces, while copies arrive", compressed, inflated, ours);
    PrintFigure("reference uncompress(), while copies arrive", compressed, inflated, reference);
    std::printf("ratio ZlibInflater / uncompress() time: %.3f\n", ours / reference);
    std::printf(
        "ZlibInflater over the whole pack (%.1f MB on the wire): %.2f %% of one core per "
        "100 Mbit/s\n",
        wire / 1e6, 100.0 * kLineBytesPerSecond * ours / wire);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "pack") == 0)
        return Pack(argv[2], argv[3]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "run") == 0)
        return Run(argv[2], argc == 4 ? std::max(1, std::atoi(argv[3])) : 3);
    std::fprintf(stderr, "usage: inflate_bench pack FOLDER PACKFILE | run PACKFILE [REPEAT]\n");
    return 2;
}
