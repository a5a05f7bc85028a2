// Unicode simple case folding, for telling apart names that Windows takes for one file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A run of code points folded by one offset: first, first + stride, ... up to last.
struct CaseFoldRun {
    char32_t first;
    char32_t last;
    std::int32_t delta;
    std::uint8_t stride;
};

// The generated table (case_fold_table.cpp), sorted and without overlaps.
extern const CaseFoldRun kCaseFoldRuns[];
extern const std::size_t kCaseFoldRunCount;

// The simple case folding of one code point (itself when it has none).
char32_t FoldCase(char32_t codePoint);

// Every code point of UTF-8 text folded; malformed bytes read as U+FFFD.
std::string FoldCaseUtf8(const std::string& text);
