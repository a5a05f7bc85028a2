#include <gtest/gtest.h>

#include "patch/run_outcome.h"

TEST(DownloadStatusLine, CutAt127Characters) {
    EXPECT_EQ(DownloadStatusLine(2, 14, L"data\\térkép.pak"), L"Letöltés (2/14): data\\térkép.pak");
    const std::wstring prefix = L"Letöltés (1/1): ";
    const std::wstring fits(127 - prefix.size(), L'x');
    EXPECT_EQ(DownloadStatusLine(1, 1, fits), prefix + fits);
    EXPECT_EQ(DownloadStatusLine(1, 1, fits + L"y"), prefix + fits);
    const std::wstring longLine = DownloadStatusLine(123, 456, std::wstring(500, L'é'));
    EXPECT_EQ(longLine.size(), 127u);
    EXPECT_EQ(longLine.substr(0, 22), L"Letöltés (123/456): éé");
}
