#include <gtest/gtest.h>

#include <sstream>

#include "cli.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace talvora_test;

namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome Cli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = talvora::RunCommandLine(args, out, err);
    return {code, out.str(), err.str()};
}

}  // namespace

TEST(CommandLine, MalformedLinesExitWithUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"publish"},
        {"manifest"},
        {"manifest", "dir"},
        {"manifest", "--base", "http://h/"},
        {"manifest", "dir", "other", "--base", "http://h/"},
        {"manifest", "dir", "--base", "http://h/", "--base", "http://g/"},
        {"manifest", "dir", "--base"},
        {"manifest", "dir", "--base", "http://h/", "--jobs", "0"},
        {"manifest", "dir", "--base", "http://h/", "--colour"},
        {"manifest", "dir", "--base", "http://h/", "--separator", "colon"},
        {"launcher", "x.exe", "--url", "http://h/x.exe"},
        {"launcher", "x.exe", "--version", "2"},
        {"launcher", "x.exe", "--version", "two", "--url", "http://h/x.exe"},
        {"launcher", "x.exe", "--version", "2x", "--url", "http://h/x.exe"},
    };
    for (const auto& args : cases) {
        const Outcome outcome = Cli(args);
        EXPECT_EQ(outcome.code, 2) << ::testing::PrintToString(args);
        EXPECT_NE(outcome.err.find("usage:"), std::string::npos);
        EXPECT_EQ(outcome.out, "");
    }
}

TEST(CommandLine, HelpDescribesBothCommandsAndEachCommandItself) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"help"}}) {
        const Outcome outcome = Cli(args);
        EXPECT_EQ(outcome.code, 0);
        EXPECT_NE(outcome.out.find("manifest CLIENT_DIR --base URL"), std::string::npos);
        EXPECT_NE(outcome.out.find("launcher EXE --version N --url URL"), std::string::npos);
    }
    const Outcome manifest = Cli({"manifest", "-h"});
    EXPECT_EQ(manifest.code, 0);
    EXPECT_NE(manifest.out.find("--if-missing GLOB"), std::string::npos);
    EXPECT_EQ(manifest.out.find("--url"), std::string::npos);
    const Outcome launcher = Cli({"launcher", "x.exe", "--help"});
    EXPECT_EQ(launcher.code, 0);
    EXPECT_NE(launcher.out.find("--url URL"), std::string::npos);
    EXPECT_EQ(launcher.out.find("--if-missing"), std::string::npos);
}

TEST(CommandLine, ManifestOptionsReachTheCommand) {
    talvora::CommandLine line;
    std::string error;
    // After "--" every word is positional, options included.
    EXPECT_FALSE(
        talvora::ParseCommandLine({"manifest", "--", "-client", "--base=http://h/"}, line, error));
    EXPECT_NE(error, "");

    line = talvora::CommandLine();
    error.clear();
    ASSERT_TRUE(talvora::ParseCommandLine(
        {"manifest", "--if-missing", "a/*", "--base=http://h/", "--if-missing=**/b", "-j", "3",
         "--out", "m.txt", "--version", "", "--", "-client"},
        line, error))
        << error;
    EXPECT_EQ(line.kind, talvora::CommandKind::Manifest);
    EXPECT_EQ(line.manifest.clientDir, fs::path("-client"));
    EXPECT_EQ(line.manifest.baseUrl, "http://h/");
    EXPECT_EQ(line.manifest.ifMissing, (std::vector<std::string>{"a/*", "**/b"}));
    EXPECT_EQ(line.manifest.jobs, 3u);
    EXPECT_EQ(line.manifest.out, fs::path("m.txt"));
    EXPECT_TRUE(line.manifest.versionGiven);
    EXPECT_EQ(line.manifest.version, "");
    EXPECT_EQ(line.manifest.separator, '/');

    line = talvora::CommandLine();
    ASSERT_TRUE(talvora::ParseCommandLine(
        {"manifest", "c", "--base", "http://h/", "--separator", "backslash"}, line, error));
    EXPECT_EQ(line.manifest.separator, '\\');
    EXPECT_FALSE(line.manifest.versionGiven);
}

// The words of the other commands reach their options too, the signing ones on both commands
// that write a file.
TEST(CommandLine, EachCommandsWordsReachItsOptions) {
    talvora::CommandLine line;
    std::string error;
    ASSERT_TRUE(talvora::ParseCommandLine(
        {"manifest", "c", "--base", "http://h/", "--sign-key", "m.pem", "--expires", "30d"}, line,
        error))
        << error;
    EXPECT_EQ(line.manifest.signing.signKey, fs::path("m.pem"));
    EXPECT_EQ(line.manifest.signing.expires, "30d");

    line = talvora::CommandLine();
    ASSERT_TRUE(talvora::ParseCommandLine(
        {"launcher", "L.exe", "--version", "7", "--url", "http://h/L.exe", "--out", "v.txt",
         "--sign-key", "l.pem", "--expires", "2031-01-01"},
        line, error))
        << error;
    EXPECT_EQ(line.kind, talvora::CommandKind::Launcher);
    EXPECT_EQ(line.launcher.exe, fs::path("L.exe"));
    EXPECT_EQ(line.launcher.version, 7);
    EXPECT_EQ(line.launcher.url, "http://h/L.exe");
    EXPECT_EQ(line.launcher.out, fs::path("v.txt"));
    EXPECT_EQ(line.launcher.signing.signKey, fs::path("l.pem"));
    EXPECT_EQ(line.launcher.signing.expires, "2031-01-01");

    line = talvora::CommandLine();
    ASSERT_TRUE(talvora::ParseCommandLine({"keygen", "--out", "k.pem"}, line, error)) << error;
    EXPECT_EQ(line.kind, talvora::CommandKind::Keygen);
    EXPECT_EQ(line.keygen.out, fs::path("k.pem"));

    line = talvora::CommandLine();
    ASSERT_TRUE(talvora::ParseCommandLine(
        {"verify", "f.txt", "--key", "a.pub", "--key", "b.pub", "--sig", "f.sig"}, line, error))
        << error;
    EXPECT_EQ(line.kind, talvora::CommandKind::Verify);
    EXPECT_EQ(line.verify.file, fs::path("f.txt"));
    EXPECT_EQ(line.verify.signature, fs::path("f.sig"));
    EXPECT_EQ(line.verify.keys, (std::vector<fs::path>{"a.pub", "b.pub"}));
}

TEST(CommandLine, LauncherRefusalIsExitOneNotUsage) {
    ScratchDir dir;
    WriteFile(dir / "L.exe", "MZ");
    const std::string exe = (dir / "L.exe").string();
    const std::string out = (dir / "v.txt").string();
    EXPECT_EQ(
        Cli({"launcher", exe, "--version", "0", "--url", "http://h/L.exe", "--out", out}).code, 1);
    EXPECT_EQ(Cli({"launcher", exe, "--version", "-4", "--url=http://h/L.exe", "--out", out}).code,
              1);
    EXPECT_EQ(Cli({"launcher", exe, "--version=99999999999999999999", "--url=http://h/L.exe",
                   "--out", out})
                  .code,
              1);
    EXPECT_FALSE(fs::exists(dir / "v.txt"));

    const Outcome ok =
        Cli({"launcher", exe, "--version=2", "--url=http://h/L.exe", "--out=" + out});
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_EQ(ReadFile(dir / "v.txt").substr(0, 17), "VERSION\t2\nSHA256\t");
    EXPECT_NE(ok.out.find("wrote"), std::string::npos);
}
