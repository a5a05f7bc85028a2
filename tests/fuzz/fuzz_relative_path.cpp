// Manifest paths: the rule that decides what the launcher may write below its folder.
#include <vector>

#include "fuzz_support.h"
#include "portable/patch/case_fold.h"
#include "portable/patch/relative_path.h"

namespace {

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> names(1);
    for (const char c : path) {
        if (c == '\\' || c == '/')
            names.emplace_back();
        else
            names.back().push_back(c);
    }
    return names;
}

// Counted on its own, without the rule's code: does any step climb above the folder?
bool LeavesFolder(const std::string& path) {
    long depth = 0;
    for (const std::string& name : Split(path)) {
        if (name == "..")
            --depth;
        else if (!name.empty() && name != ".")
            ++depth;
        if (depth < 0)
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = Bytes(data, size);
    const PathFault fault = CheckRelativePath(path);
    const std::string lexical = LexicalRelativePath(path);
    Require(IsSafeRelativePath(path) == (fault == PathFault::None), "one verdict");

    if (fault != PathFault::None) {
        Require(lexical.empty(), "a refused path has no place in the folder");
        Require(CollisionKey(path) != CollisionKey("x"), "a refused path collides with no file");
    } else {
        Require(!LeavesFolder(path), "no accepted path leaves the folder");
        Require(!lexical.empty(), "an accepted path names a file");
        Require(lexical.find_first_of(":/") == std::string::npos, "lexical path is plain");
        for (const char c : lexical)
            Require(static_cast<unsigned char>(c) >= 0x20, "no control character is accepted");
        for (const std::string& name : Split(lexical))
            Require(!name.empty() && name != "." && name != "..", "lexical path has no steps");
        Require(CheckRelativePath(lexical) == PathFault::None, "lexical path is accepted too");
        Require(LexicalRelativePath(lexical) == lexical, "lexical path is a fixed point");
        Require(CollisionKey(path) == CollisionKey(lexical), "one key for one place");
    }

    const std::string folded = FoldCaseUtf8(path);
    Require(FoldCaseUtf8(folded) == folded, "case folding is idempotent");
    return 0;
}
