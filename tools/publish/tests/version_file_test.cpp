#include <gtest/gtest.h>

#include <sstream>

#include "commands.h"
#include "test_support.h"
#include "version_file.h"

namespace fs = std::filesystem;
using talvora::LauncherOptions;
using namespace talvora_test;

namespace {

const std::string kExeDigest = "141300fdf59de67c128e83d72650dfa650d5397332d0d6004ee5f6b47626d10b";

struct Outcome {
    int code;
    std::string err;
};

Outcome Publish(const LauncherOptions& options) {
    std::ostringstream out, err;
    const int code = talvora::RunLauncher(options, out, err);
    return {code, err.str()};
}

class LauncherFile : public ::testing::Test {
  protected:
    void SetUp() override { WriteFile(exe_, "MZ fake launcher\n"); }

    LauncherOptions Opts() {
        LauncherOptions options;
        options.exe = exe_;
        options.version = 3;
        options.url = "https://patch.example/pack/Talvora.exe";
        options.out = out_ / "launcher_version.txt";
        return options;
    }

    void ExpectRefused(const LauncherOptions& options, const std::string& reason) {
        const Outcome outcome = Publish(options);
        EXPECT_EQ(outcome.code, 1);
        EXPECT_NE(outcome.err.find(reason), std::string::npos) << outcome.err;
        EXPECT_EQ(ReadFile(out_ / "launcher_version.txt"), "OLD\n");
        EXPECT_EQ(ListNames(out_), std::vector<std::string>{"launcher_version.txt"});
    }

    ScratchDir dir_;
    fs::path exe_ = dir_ / "Talvora.exe";
    fs::path out_ = dir_ / "out";
};

}  // namespace

TEST_F(LauncherFile, WritesVersionDigestAndUrl) {
    fs::create_directories(out_);
    const Outcome outcome = Publish(Opts());
    ASSERT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(ReadFile(out_ / "launcher_version.txt"),
              "VERSION\t3\nSHA256\t" + kExeDigest +
                  "\nURL\thttps://patch.example/pack/Talvora.exe\nSIZE\t17\n");
    EXPECT_EQ(ListNames(out_), std::vector<std::string>{"launcher_version.txt"});
}

TEST_F(LauncherFile, WarnsWhenExeIsNoWindowsProgram) {
    fs::create_directories(out_);
    WriteFile(exe_, "#!/bin/sh\n");
    const Outcome outcome = Publish(Opts());
    EXPECT_EQ(outcome.code, 0);
    EXPECT_NE(outcome.err.find("'MZ'"), std::string::npos);
}

TEST_F(LauncherFile, RefusalsLeaveTheOldFile) {
    WriteFile(out_ / "launcher_version.txt", "OLD\n");
    LauncherOptions options = Opts();
    for (const long long version : {0LL, -1LL, 2147483648LL}) {
        options.version = version;
        ExpectRefused(options, "version");
    }
    options = Opts();
    options.url = "";
    ExpectRefused(options, "URL is empty");
    for (const char* url : {"http://h/a\tb.exe", "http://h/a.exe\r", "http://h/a\n.exe"}) {
        options.url = url;
        ExpectRefused(options, "TAB, CR or LF");
    }
    options.url = "file:///C:/x.exe";
    ExpectRefused(options, "http://");

    options = Opts();
    options.exe = dir_ / "missing.exe";
    ExpectRefused(options, "'" + options.exe.string() + "': no such file");
    options.exe = dir_.path();
    ExpectRefused(options, "not a regular file");
}
