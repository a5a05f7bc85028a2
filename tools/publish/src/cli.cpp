#include "cli.h"

#include <CLI/CLI.hpp>

#include <climits>

#include "text.h"

namespace talvora {

namespace {

const char* const kUsage =
    "usage: talvora-publish manifest CLIENT_DIR --base URL [--version V] [--if-missing GLOB]...\n"
    "                                [--separator slash|backslash] [--out FILE] [--jobs N]\n"
    "                                [--blocks-min BYTES] [--compress [--compress-min-saving P]]\n"
    "                                [--sign-key KEY [--expires 30d|DATE]]\n"
    "       talvora-publish launcher EXE --version N --url URL [--out FILE]\n"
    "                                [--sign-key KEY [--expires 30d|DATE]]\n"
    "       talvora-publish keygen --out KEY.pem\n"
    "       talvora-publish verify FILE --key PUB.pem [--key PUB.pem] [--sig FILE.sig]\n"
    "       talvora-publish [COMMAND] --help\n";

const char* const kIntro = R"(Writes the two files the Talvora launcher reads from the patch server.
)";

const char* const kManifestNotes = R"(
manifest CLIENT_DIR --base URL
  Walks CLIENT_DIR and writes patch_manifest.txt (or --out FILE): a VERSION
  line, a BASE line, then one line per regular file (hidden ones included;
  empty folders are not listed): the path relative to CLIENT_DIR with '/'
  between names ('\' with --separator backslash, for hosts that rewrite it),
  its size, its SHA-256 in lower-case hex, and IFMISSING for files the
  launcher fetches only when they are absent.
  Files of at least --blocks-min BYTES (default 4194304, 4 MiB; 0: none)
  that are not IFMISSING get a block index written beside them in
  CLIENT_DIR, FILE.blocks, and the field BLOCKS on their line: a launcher
  holding an older copy then fetches only the changed blocks with HTTP Range
  requests (any static server does). Older launchers ignore the field.
  Upload the indexes with the files; indexes found in CLIENT_DIR are never
  listed themselves.
  With --compress, each file that is neither IFMISSING nor BLOCKS (and at most
  512 MiB) is compressed with zlib, and when the copy saves at least
  --compress-min-saving percent (default 5) it is written beside the file as
  FILE.zlib and named on its line (ZLIB, the copy's size and SHA-256); files
  that do not shrink stay raw, and a copy of an earlier run that no longer
  pays is removed. Launchers that know the field fetch the copy and inflate
  it; older ones fetch the raw file, which stays published beside it. Upload
  the copies with the files. Copies found in CLIENT_DIR (FILE.zlib beside
  FILE, one whole zlib stream) are never listed themselves; with --compress a
  file at another's copy name is refused.
  Lines end with LF and are sorted byte-wise by path; names are written in
  UTF-8 as they are on disk. The output file is left out when it lies inside
  CLIENT_DIR. A progress bar is drawn on stderr when it is a terminal.

  GLOB (--if-missing) is matched against the whole path with '/' between
  names ('\' in GLOB counts as '/'):
    *    any run of characters within one name
    ?    one character other than '/'
    **   any run of characters, across folders
    **/  zero or more folders ("**/x.cfg" matches x.cfg too)
  No character classes; case-sensitive. A GLOB that matches no file gives a
  warning. The launcher fetches each file from the --base URL followed by its
  path, with no separator added, so the URL should end with '/' (a warning
  says so).

  Refused (error naming each entry, nothing written, exit 1), because the
  launcher would refuse them, fail on them or fetch the wrong file:
    - a name that is empty, '.' or '..', not valid UTF-8, or contains TAB, CR,
      LF or another control character, ':', '\', < > " | ? *, '#' or '%'
      (the launcher puts paths into URLs unescaped);
    - a name ending with a dot or a space, or a Windows device name (CON,
      PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 and COM or LPT with
      a superscript 1, 2 or 3, with or without extension);
    - two paths that differ only in the case of letters (any alphabet, as
      Windows compares names), or a file and a folder with such names;
    - a symbolic link that is broken, points outside CLIENT_DIR or points to
      a folder (a link to a file inside CLIENT_DIR is published as a copy of
      that file under the link's name);
    - anything that is neither a regular file nor a folder;
    - a folder without any file (the launcher rejects an empty manifest).

)";

const char* const kLauncherNotes = R"(
launcher EXE --version N --url URL
  Writes launcher_version.txt (or --out FILE) with the lines
  VERSION<TAB>N, SHA256<TAB><lower-case hex of EXE>, URL<TAB>URL and
  SIZE<TAB><bytes of EXE>, each ended by LF (launchers that do not know SIZE
  pass over it; newer ones stop a download that grows past it). N must be from 1 to 2147483647; URL must be an http:// or https://
  URL without TAB, CR or LF. EXE must exist (a warning is given when it does
  not start with 'MZ').

)";

const char* const kSigningNotes = R"(
Signing (launchers built with TALVORA_UPDATE_PUBLIC_KEYS require it):
  --sign-key KEY    after the file, write FILE.sig beside it: the DER ECDSA
                    P-256 / SHA-256 signature over the file's bytes, as
                    `openssl dgst -sha256 -sign KEY` writes it; the pair is then
                    checked as it lies on disk. KEY is a PEM P-256 private key
                    (SEC1 or PKCS#8, unencrypted).
  --expires 30d|DATE  add EXPIRES<TAB>YYYY-MM-DDTHH:MM:SSZ after the VERSION
                    line: N days from now, YYYY-MM-DD (midnight UTC) or a full
                    UTC time. Past it the launcher treats the file as unsigned,
                    so that a captured old file stops working. Needs --sign-key.

keygen --out KEY.pem
  Writes a new P-256 private key to KEY.pem (mode 0600; an existing file is
  never overwritten) and its public key to KEY.pub.pem.

verify FILE --key PUB.pem [--key PUB.pem] [--sig FILE.sig]
  Checks FILE.sig over FILE with any of the keys, as the launcher does, and
  reports the EXPIRES moment. Exit 0 only when the launcher would accept it.

)";

const char* const kCommonNotes =
    R"(Both commands write a temporary file beside the output, flush it to disk and
rename it over the output at the end: on any error the temporary file is
removed and an existing output stays as it was.

Exit status: 0 written; 1 refused input or an I/O error; 2 malformed command
line.
)";

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// A decimal integer with an optional sign; values beyond the range of long
// long stick at its ends, so that they are refused as too large or small.
bool ParseInteger(const std::string& text, long long& value) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digits =
        (!text.empty() && (text[0] == '-' || text[0] == '+')) ? text.substr(1) : text;
    if (!IsDigits(digits))
        return false;
    unsigned long long magnitude = 0;
    for (const char c : digits) {
        const auto digit = static_cast<unsigned long long>(c - '0');
        if (magnitude > (ULLONG_MAX - digit) / 10) {
            magnitude = ULLONG_MAX;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    const auto limit = static_cast<unsigned long long>(LLONG_MAX);
    if (negative) {
        value = magnitude > limit ? LLONG_MIN : -static_cast<long long>(magnitude);
    } else {
        value = magnitude > limit ? LLONG_MAX : static_cast<long long>(magnitude);
    }
    return true;
}

const CLI::Validator kFileName(
    [](std::string& value) { return value.empty() ? std::string("needs a file name") : ""; }, "");

// The words as given, before they become paths and numbers.
struct Words {
    std::string clientDir, exe, out, version, separator, signKey, file, signature;
    std::vector<std::string> keys;
};

// --sign-key and --expires, on both commands that write a file.
void AddSigning(CLI::App& command, SigningOptions& options, Words& words) {
    command.add_option("--sign-key", words.signKey, "sign with this private key (PEM, P-256)")
        ->type_name("KEY")
        ->check(kFileName);
    command
        .add_option("--expires", options.expires,
                    "EXPIRES line: Nd, YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ (UTC); needs --sign-key")
        ->type_name("30d|DATE");
}

CLI::App* AddKeygen(CLI::App& app, Words& words) {
    CLI::App* command = app.add_subcommand("keygen", "write a new update signing key pair");
    command->footer(kSigningNotes);
    command->add_option("--out", words.out, "the private key; the public one goes to *.pub.pem")
        ->type_name("KEY.pem")
        ->check(kFileName)
        ->required();
    return command;
}

CLI::App* AddVerify(CLI::App& app, Words& words) {
    CLI::App* command = app.add_subcommand("verify", "check a signed file as the launcher would");
    command->footer(kSigningNotes);
    command->add_option("FILE", words.file, "the signed file")->type_name("FILE")->required();
    command->add_option("--key", words.keys, "a public key (PEM); may be repeated")
        ->type_name("PUB.pem")
        ->check(kFileName)
        ->allow_extra_args(false)
        ->required();
    command->add_option("--sig", words.signature, "the signature (default: FILE.sig)")
        ->type_name("FILE.sig")
        ->check(kFileName);
    return command;
}

// --out FILE: where the command writes, replacing `defaultName`.
void AddOut(CLI::App& command, std::string& out, const std::string& defaultName) {
    command.add_option("--out", out, "output file (default: " + defaultName + ")")
        ->type_name("FILE")
        ->check(kFileName);
}

CLI::App* AddManifest(CLI::App& app, ManifestOptions& options, Words& words) {
    CLI::App* command =
        app.add_subcommand("manifest", "write the patch manifest of a client folder");
    command->footer(std::string(kManifestNotes) + kSigningNotes + kCommonNotes);
    command->add_option("CLIENT_DIR", words.clientDir, "the client folder")
        ->type_name("DIR")
        ->required();
    command->add_option("--base", options.baseUrl, "download base (http:// or https://)")
        ->type_name("URL")
        ->required();
    command
        ->add_option("--version", options.version,
                     "VERSION line text; default: the UTC time, such as 20261207T213000Z")
        ->type_name("V");
    command
        ->add_option("--if-missing", options.ifMissing,
                     "mark files whose path matches GLOB IFMISSING; may be repeated")
        ->type_name("GLOB")
        ->allow_extra_args(false);
    AddOut(*command, words.out, "patch_manifest.txt");
    command
        ->add_option("--separator", words.separator,
                     "between folders in the manifest: slash (default; any web host serves "
                     "it) or backslash")
        ->check(CLI::IsMember({"slash", "backslash"}));
    command->add_option("-j,--jobs", options.jobs, "hashing threads (default: one per core)")
        ->type_name("N")
        ->check(CLI::Range(1u, 256u));
    command
        ->add_option("--blocks-min", options.blocksMin,
                     "block indexes for files of at least BYTES (default 4 MiB; 0: none)")
        ->type_name("BYTES");
    command->add_flag("--compress", options.compress,
                      "write a zlib copy beside each file that shrinks, and name it");
    command
        ->add_option("--compress-min-saving", options.compressMinSaving,
                     "percent a copy must save to be written (default 5)")
        ->type_name("P")
        ->check(CLI::Range(1u, 99u));
    AddSigning(*command, options.signing, words);
    return command;
}

CLI::App* AddLauncher(CLI::App& app, LauncherOptions& options, Words& words) {
    CLI::App* command =
        app.add_subcommand("launcher", "write the launcher version file for a launcher build");
    command->footer(std::string(kLauncherNotes) + kSigningNotes + kCommonNotes);
    command->add_option("EXE", words.exe, "the launcher executable")->type_name("FILE")->required();
    command->add_option("--version", words.version, "its version number, 1 to 2147483647")
        ->type_name("N")
        ->required();
    command->add_option("--url", options.url, "where the launcher downloads it from")
        ->type_name("URL")
        ->required();
    AddOut(*command, words.out, "launcher_version.txt");
    AddSigning(*command, options.signing, words);
    return command;
}

// The words of a parsed command, turned into its options.
void TakeManifestWords(const CLI::App& command, const Words& words, ManifestOptions& options) {
    options.clientDir = PathFromUtf8(words.clientDir);
    options.versionGiven = command.count("--version") > 0;
    options.separator = words.separator == "backslash" ? '\\' : '/';
    if (!words.out.empty())
        options.out = PathFromUtf8(words.out);
    options.signing.signKey = PathFromUtf8(words.signKey);
}

bool TakeLauncherWords(const Words& words, LauncherOptions& options, std::string& error) {
    options.exe = PathFromUtf8(words.exe);
    if (!ParseInteger(words.version, options.version)) {
        error = "--version needs a whole number, not '" + Printable(words.version) + "'";
        return false;
    }
    if (!words.out.empty())
        options.out = PathFromUtf8(words.out);
    options.signing.signKey = PathFromUtf8(words.signKey);
    return true;
}

void TakeVerifyWords(const Words& words, VerifyOptions& options) {
    options.file = PathFromUtf8(words.file);
    options.signature = PathFromUtf8(words.signature);
    for (const std::string& key : words.keys)
        options.keys.push_back(PathFromUtf8(key));
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& result,
                      std::string& error) {
    CLI::App app(kIntro, "talvora-publish");
    app.footer(std::string(kManifestNotes) + kLauncherNotes + kSigningNotes + kCommonNotes);
    app.require_subcommand(1);
    Words words;
    CLI::App* manifest = AddManifest(app, result.manifest, words);
    CLI::App* launcher = AddLauncher(app, result.launcher, words);
    CLI::App* keygen = AddKeygen(app, words);
    CLI::App* verify = AddVerify(app, words);
    if (!args.empty() && !args[0].empty() && args[0][0] != '-' && args[0] != "help" &&
        args[0] != manifest->get_name() && args[0] != launcher->get_name() &&
        args[0] != keygen->get_name() && args[0] != verify->get_name()) {
        error = "unknown command '" + Printable(args[0]) + "'";
        return false;
    }
    if (!args.empty() && args[0] == "help") {
        result.kind = CommandKind::Help;
        result.helpText = app.help();
        return true;
    }
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::CallForHelp&) {
        result.kind = CommandKind::Help;
        result.helpText = app.help();
        return true;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }
    if (manifest->parsed()) {
        result.kind = CommandKind::Manifest;
        TakeManifestWords(*manifest, words, result.manifest);
    } else if (launcher->parsed()) {
        result.kind = CommandKind::Launcher;
        return TakeLauncherWords(words, result.launcher, error);
    } else if (keygen->parsed()) {
        result.kind = CommandKind::Keygen;
        result.keygen.out = PathFromUtf8(words.out);
    } else if (verify->parsed()) {
        result.kind = CommandKind::Verify;
        TakeVerifyWords(words, result.verify);
    }
    return true;
}

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandLine commandLine;
    std::string error;
    if (!ParseCommandLine(args, commandLine, error)) {
        err << "talvora-publish: " << error << "\n" << kUsage << "Try 'talvora-publish --help'.\n";
        return kExitUsage;
    }
    switch (commandLine.kind) {
        case CommandKind::Help:
            out << commandLine.helpText;
            return kExitOk;
        case CommandKind::Manifest:
            commandLine.manifest.progress = true;
            return RunManifest(commandLine.manifest, out, err);
        case CommandKind::Launcher:
            return RunLauncher(commandLine.launcher, out, err);
        case CommandKind::Keygen:
            return RunKeygen(commandLine.keygen, out, err);
        case CommandKind::Verify:
            return RunVerify(commandLine.verify, out, err);
    }
    return kExitUsage;
}

}  // namespace talvora
