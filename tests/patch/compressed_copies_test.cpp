// Packs whose lines name compressed copies: the launcher fetches the copy, inflates it as it writes
// and hashes what it inflated, on every road a raw file takes; a copy that lies fails the file as a
// raw file's failures do, with nothing installed.
#include "patch/patch_run.h"
#include "portable/patch/compressed_copy.h"
#include "portable/patch/zlib_stream.h"

namespace {

std::string Deflated(const std::string& content) {
    std::string copy;
    EXPECT_TRUE(ZlibCompress(content.data(), content.size(), 6, copy));
    return copy;
}

// Content that compresses: text-like lines with some variety.
std::string Compressible(std::size_t size, int seed) {
    std::string text;
    for (int line = 0; text.size() < size; ++line)
        text += "entry " + std::to_string(line * seed % 9973) + " = value of row " +
                std::to_string(line) + "\n";
    text.resize(size);
    return text;
}

class CompressedCopies : public PatchRun {
  protected:
    // Publishes the raw file and `copy` served as its compressed copy; the line names a copy of
    // `listedCopy` (the honest one unless a test lies about it).
    std::string PublishWithCopy(const std::string& relPath, const std::string& content,
                                const std::string& copy, const std::string& listedCopy) {
        EXPECT_TRUE(ServeFile(Wide(ns + "/files/" + CompressedCopyPath(relPath)), copy));
        const std::string line = Publish(relPath, content);
        return line.substr(0, line.size() - 1) + "\tZLIB\t" + std::to_string(listedCopy.size()) +
               "\t" + Sha256Hex(listedCopy) + "\n";
    }
    std::string PublishCompressed(const std::string& relPath, const std::string& content) {
        const std::string copy = Deflated(content);
        return PublishWithCopy(relPath, content, copy, copy);
    }
    std::size_t RequestsFor(const std::string& suffix) const {
        std::size_t count = 0;
        for (const LoggedRequest& request : FileRequests())
            count += request.path.size() >= suffix.size() &&
                     request.path.compare(request.path.size() - suffix.size(), suffix.size(),
                                          suffix) == 0;
        return count;
    }
};

}  // namespace

// Whole, several in flight, with retries over a line that cuts, and a full check: the copy is
// fetched instead of the file, the installed file is the published one, and the file bar ends
// full as it does for a raw file.
TEST_F(CompressedCopies, EveryRoadFetchesTheCopyAndInstallsTheFile) {
    struct Road {
        const char* name;
        int inFlight;
        int retries;
        const char* fault;  // on the copy's path
        bool fullCheck;
    } roads[] = {
        {"whole", 1, 0, nullptr, false},
        {"in flight", 3, 0, nullptr, false},
        {"retries over cuts", 1, 3, "rangecut", false},
        {"full check", 1, 0, nullptr, true},
    };
    const std::string content = Compressible(400000, 7);
    ASSERT_LT(Deflated(content).size(), content.size() / 2);
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        ns = std::string("road-") + road.name[0] + road.name[1];
        status.manifestUrl = ManifestAt();
        install = temp / Wide(ns);  // a folder of its own for each road
        ASSERT_TRUE(::CreateDirectoryW(install.c_str(), nullptr));
        status.installDir = install;
        status.downloadsInFlight = road.inFlight;
        status.downloadRetries = road.retries;
        const std::string other = PatternBytes(5000, 70);
        ServeManifest(PublishCompressed("data/a.txt", content) + Publish("b.pak", other) +
                      PublishCompressed("data/c.txt", Compressible(90000, 3)));
        if (road.fault != nullptr) {
            ASSERT_TRUE(ServeFile(Wide(ns + "/files/data/a.txt.zlib.fault"), road.fault));
        }
        if (road.fullCheck)
            Install("data/a.txt", content);
        Run(road.fullCheck);
        ExpectEnd(PatchPhase::Updated, kUpdated);
        EXPECT_TRUE(ReadFileBytes(Local("data/a.txt")) == content);
        EXPECT_TRUE(ReadFileBytes(Local("b.pak")) == other);
        EXPECT_EQ(RequestsFor("/data/a.txt"), 0u) << "the raw file was fetched";
        EXPECT_GE(RequestsFor("/data/a.txt.zlib"), road.fault != nullptr ? 2u : 1u);
        EXPECT_EQ(status.fileProgress.load(), 1.0);
        EXPECT_FALSE(PathExists(Local("data/a.txt.part")));
    }
}

// A copy that lies: cut short, not a zlib stream, a bomb past the file's size, a copy longer than
// its line says, or one that inflates to other bytes. Each ends as a raw file's failure does, and
// the old file stays.
TEST_F(CompressedCopies, HostileCopiesFailTheFileWithNothingInstalled) {
    const std::string content = Compressible(200000, 11);
    const std::string honest = Deflated(content);
    const std::string bomb = Deflated(std::string(content.size() * 50, 'x'));
    const std::string other = Deflated(Compressible(200000, 13));
    const std::string garbage = PatternBytes(honest.size(), 71);
    struct Case {
        const char* name;
        std::string served;
        std::string listed;
        const char* fault;
        const wchar_t* line;
    } cases[] = {
        {"cut short", honest, honest, "cut", kDownloadError},
        {"listed cut short", honest.substr(0, honest.size() / 2),
         honest.substr(0, honest.size() / 2), nullptr, kDownloadError},
        {"garbage", garbage, garbage, nullptr, kDownloadError},
        {"bomb", bomb, bomb, nullptr, kDownloadError},
        {"longer than listed", honest + "extra", honest, nullptr, kDownloadError},
        {"other bytes", other, other, nullptr, kCorrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ns = std::string("hostile-") + std::to_string(&c - cases);
        status.manifestUrl = ManifestAt();
        Install("a.txt", "the old file");
        ServeManifest(PublishWithCopy("a.txt", content, c.served, c.listed));
        if (c.fault != nullptr) {
            ASSERT_TRUE(ServeFile(Wide(ns + "/files/a.txt.zlib.fault"), c.fault));
        }
        Run(false);
        ExpectEnd(PatchPhase::Failed, std::wstring(c.line) + L"a.txt");
        EXPECT_EQ(ReadFileBytes(Local("a.txt")), "the old file");
        EXPECT_FALSE(PathExists(Local("a.txt.part")));
    }
}

// A compressed transfer broken off by a stop is kept, holding inflated bytes; the next run
// continues it from the file itself with Range, not from the copy.
TEST_F(CompressedCopies, KeptPartOfACopyContinuesFromTheFile) {
    status.downloadRetries = 2;
    const std::string content = PatternBytes(600000, 72) + Compressible(600000, 5);
    ServeManifest(PublishCompressed("a.bin", content));
    ASSERT_TRUE(ServeFile(Wide(ns + "/files/a.bin.zlib.fault"), "stall"));
    StartPatchRun(status, false);
    const auto partSize = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        return ::GetFileAttributesExW(Local("a.bin.part").c_str(), GetFileExInfoStandard, &data)
                   ? data.nFileSizeLow
                   : 0;
    };
    ASSERT_TRUE(WaitFor([&] { return partSize() > 0; }));
    std::this_thread::sleep_for(500ms);
    status.stopRequested.store(true);
    WaitIdle();
    const std::size_t kept = ReadFileBytes(Local("a.bin.part")).size();
    ASSERT_GT(kept, 0u);
    ASSERT_TRUE(content.compare(0, kept, ReadFileBytes(Local("a.bin.part"))) == 0);

    ASSERT_TRUE(
        ::DeleteFileW((TestServerRoot() + L"\\" + Wide(ns + "/files/a.bin.zlib.fault")).c_str()));
    Run(false);
    ExpectEnd(PatchPhase::Updated, kUpdated);
    EXPECT_TRUE(ReadFileBytes(Local("a.bin")) == content);
    const auto requests = FileRequests();
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests.back().path.find("/a.bin"), std::string::npos);
    EXPECT_EQ(requests.back().path.find(".zlib"), std::string::npos);
    EXPECT_EQ(RangeOf(requests.back()), "bytes=" + std::to_string(kept) + "-");
}
