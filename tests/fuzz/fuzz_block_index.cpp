// The block index published beside a large file: any bytes.
#include "fuzz_support.h"
#include "portable/patch/block_index.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body = Bytes(data, size);
    BlockIndex index;
    std::string error;
    if (!ParseBlockIndex(body, index, error)) {
        Require(!error.empty(), "a refusal names its reason");
        return 0;
    }
    Require(index.blockSize >= kMinBlockSize && index.blockSize <= kMaxBlockSize &&
                (index.blockSize & (index.blockSize - 1)) == 0,
            "block size is a power of two in range");
    Require(index.blocks.size() == BlockCountFor(index.fileSize, index.blockSize),
            "block count follows from the file size");
    Require(index.blocks.size() <= kMaxBlockCount, "block count is bounded");
    Require(body.size() == kBlockIndexHeaderSize + index.blocks.size() * kBlockRecordSize,
            "nothing before or after the records");
    Require(FormatBlockIndex(index) == body, "an accepted index is written back byte for byte");
    return 0;
}
