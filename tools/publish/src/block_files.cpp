#include "block_files.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "input_file.h"
#include "portable/net/sha256.h"

namespace talvora {

bool BuildBlockIndex(const std::filesystem::path& path, BlockIndex& index, std::string& error) {
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    index = BlockIndex();
    index.fileSize = size;
    index.blockSize = ChooseBlockSize(size);
    if (index.blockSize == 0) {
        error = "too large for a block index";
        return false;
    }
    InputFile file;
    if (!file.Open(path, error))
        return false;
    const BlockDigestFn strong = BlockDigestFor(index.digestKind);
    Sha256 whole;
    std::vector<unsigned char> block(index.blockSize);
    std::uint64_t done = 0;
    for (;;) {
        std::size_t have = 0;
        while (have < block.size()) {
            const long long got = file.Read(block.data() + have, block.size() - have, error);
            if (got < 0)
                return false;
            if (got == 0)
                break;
            have += static_cast<std::size_t>(got);
        }
        if (have == 0)
            break;
        BlockSum sum;
        sum.weak = ComputeRollingSum(block.data(), have).Value();
        if (!strong(block.data(), have, sum.strong) || !whole.Update(block.data(), have)) {
            error = "SHA-256 failed";
            return false;
        }
        index.blocks.push_back(sum);
        done += have;
    }
    if (done != size || index.blocks.size() != BlockCountFor(size, index.blockSize)) {
        error = "changed while being read";
        return false;
    }
    if (!whole.Finish(index.fileSha256)) {
        error = "SHA-256 failed";
        return false;
    }
    return true;
}

bool IsBlockIndexFile(const std::filesystem::path& path) {
    InputFile file;
    std::string error;
    char magic[8] = {};
    if (!file.Open(path, error) || file.Read(magic, sizeof magic, error) != 8)
        return false;
    BlockIndex probe;
    std::string header = FormatBlockIndex(probe);
    return std::memcmp(magic, header.data(), sizeof magic) == 0;
}

}  // namespace talvora
