#include "portable/patch/case_fold.h"

#include <algorithm>

#include "portable/net/utf8.h"

char32_t FoldCase(char32_t codePoint) {
    const CaseFoldRun* end = kCaseFoldRuns + kCaseFoldRunCount;
    const CaseFoldRun* run = std::lower_bound(
        kCaseFoldRuns, end, codePoint, [](const CaseFoldRun& r, char32_t c) { return r.last < c; });
    if (run == end || codePoint < run->first || (codePoint - run->first) % run->stride != 0)
        return codePoint;
    return static_cast<char32_t>(static_cast<std::int64_t>(codePoint) + run->delta);
}

std::string FoldCaseUtf8(const std::string& text) {
    std::string folded;
    folded.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();)
        AppendUtf8(folded, FoldCase(NextCodePoint(text, pos)));
    return folded;
}
