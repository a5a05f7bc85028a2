#include "cli.h"

#include <climits>

#include "text.h"

namespace talvora {

namespace {

const char* const kUsage =
    "usage: talvora-publish manifest CLIENT_DIR --base URL [--version V] [--if-missing GLOB]...\n"
    "                                [--out FILE] [--jobs N] [--blocks-min BYTES]\n"
    "       talvora-publish launcher EXE --version N --url URL [--out FILE]\n"
    "       talvora-publish --help\n";

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

// Walks the words after the command: options as "--name value" or
// "--name=value", positional words, and "--" before words that start with '-'.
struct ArgReader {
    const std::vector<std::string>& args;
    std::size_t index;
    std::string& error;
    bool optionsEnded = false;

    bool Done() const { return index >= args.size(); }

    // Splits the next word; `name` is empty for a positional word.
    bool Next(std::string& name, std::string& value, bool& hasInlineValue) {
        const std::string& word = args[index++];
        hasInlineValue = false;
        if (!optionsEnded && word == "--") {
            optionsEnded = true;
            name.clear();
            value.clear();
            return false;
        }
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            name.clear();
            value = word;
            return true;
        }
        const std::size_t equals = word.find('=');
        if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
            hasInlineValue = true;
        } else {
            name = word;
            value.clear();
        }
        return true;
    }

    bool Value(const std::string& name, std::string& value, bool hasInlineValue) {
        if (hasInlineValue)
            return true;
        if (Done()) {
            error = name + " needs a value";
            return false;
        }
        value = args[index++];
        return true;
    }
};

bool SetOnce(bool& seen, const std::string& name, std::string& error) {
    if (seen) {
        error = name + " given more than once";
        return false;
    }
    seen = true;
    return true;
}

bool ParseManifest(ArgReader& reader, ManifestOptions& options, std::string& error) {
    bool haveDir = false, haveBase = false, haveOut = false, haveJobs = false;
    bool haveBlocksMin = false;
    while (!reader.Done()) {
        std::string name, value;
        bool inlineValue = false;
        if (!reader.Next(name, value, inlineValue))
            continue;
        if (name.empty()) {
            if (!SetOnce(haveDir, "CLIENT_DIR", error))
                return false;
            options.clientDir = PathFromUtf8(value);
        } else if (name == "--base") {
            if (!SetOnce(haveBase, name, error) || !reader.Value(name, value, inlineValue))
                return false;
            options.baseUrl = value;
        } else if (name == "--version") {
            if (!SetOnce(options.versionGiven, name, error) ||
                !reader.Value(name, value, inlineValue)) {
                return false;
            }
            options.version = value;
        } else if (name == "--if-missing") {
            if (!reader.Value(name, value, inlineValue))
                return false;
            options.ifMissing.push_back(value);
        } else if (name == "--out") {
            if (!SetOnce(haveOut, name, error) || !reader.Value(name, value, inlineValue))
                return false;
            if (value.empty()) {
                error = "--out needs a file name";
                return false;
            }
            options.out = PathFromUtf8(value);
        } else if (name == "--jobs" || name == "-j") {
            if (!SetOnce(haveJobs, name, error) || !reader.Value(name, value, inlineValue))
                return false;
            long long jobs = 0;
            if (!IsDigits(value) || !ParseInteger(value, jobs) || jobs < 1 || jobs > 256) {
                error = "--jobs needs a number from 1 to 256";
                return false;
            }
            options.jobs = static_cast<unsigned>(jobs);
        } else if (name == "--blocks-min") {
            if (!SetOnce(haveBlocksMin, name, error) || !reader.Value(name, value, inlineValue))
                return false;
            long long bytes = 0;
            if (!IsDigits(value) || !ParseInteger(value, bytes) || bytes == LLONG_MAX) {
                error = "--blocks-min needs a number of bytes";
                return false;
            }
            options.blocksMin = static_cast<std::uint64_t>(bytes);
        } else {
            error = "unknown option for manifest: " + Printable(name);
            return false;
        }
    }
    if (!haveDir) {
        error = "manifest needs CLIENT_DIR";
        return false;
    }
    if (!haveBase) {
        error = "manifest needs --base URL";
        return false;
    }
    return true;
}

bool ParseLauncher(ArgReader& reader, LauncherOptions& options, std::string& error) {
    bool haveExe = false, haveVersion = false, haveUrl = false, haveOut = false;
    while (!reader.Done()) {
        std::string name, value;
        bool inlineValue = false;
        if (!reader.Next(name, value, inlineValue))
            continue;
        if (name.empty()) {
            if (!SetOnce(haveExe, "EXE", error))
                return false;
            options.exe = PathFromUtf8(value);
        } else if (name == "--version") {
            if (!SetOnce(haveVersion, name, error) || !reader.Value(name, value, inlineValue))
                return false;
            if (!ParseInteger(value, options.version)) {
                error = "--version needs a whole number, not '" + Printable(value) + "'";
                return false;
            }
        } else if (name == "--url") {
            if (!SetOnce(haveUrl, name, error) || !reader.Value(name, value, inlineValue))
                return false;
            options.url = value;
        } else if (name == "--out") {
            if (!SetOnce(haveOut, name, error) || !reader.Value(name, value, inlineValue))
                return false;
            if (value.empty()) {
                error = "--out needs a file name";
                return false;
            }
            options.out = PathFromUtf8(value);
        } else {
            error = "unknown option for launcher: " + Printable(name);
            return false;
        }
    }
    if (!haveExe) {
        error = "launcher needs EXE";
        return false;
    }
    if (!haveVersion) {
        error = "launcher needs --version N";
        return false;
    }
    if (!haveUrl) {
        error = "launcher needs --url URL";
        return false;
    }
    return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& result,
                      std::string& error) {
    if (args.empty()) {
        error = "no command given";
        return false;
    }
    const std::string& command = args[0];
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        if (arg == "--help" || arg == "-h") {
            result.kind = CommandKind::Help;
            return true;
        }
    }
    ArgReader reader{args, 1, error};
    if (command == "help") {
        result.kind = CommandKind::Help;
        return true;
    }
    if (command == "manifest") {
        result.kind = CommandKind::Manifest;
        return ParseManifest(reader, result.manifest, error);
    }
    if (command == "launcher") {
        result.kind = CommandKind::Launcher;
        return ParseLauncher(reader, result.launcher, error);
    }
    error = "unknown command '" + Printable(command) + "'";
    return false;
}

std::string HelpText() {
    return std::string(kUsage) +
           R"(
Writes the two files the Talvora launcher reads from the patch server.

manifest CLIENT_DIR --base URL
  Walks CLIENT_DIR and writes patch_manifest.txt (or --out FILE): a VERSION
  line, a BASE line, then one line per regular file (hidden ones included;
  empty folders are not listed): the path relative to CLIENT_DIR with '\'
  between names, its size, its SHA-256 in lower-case hex, and IFMISSING for
  files the launcher fetches only when they are absent.
  Lines end with LF and are sorted byte-wise by path; names are written in
  UTF-8 as they are on disk. The output file is left out when it lies inside
  CLIENT_DIR. A progress bar is drawn on stderr when it is a terminal.

  --base URL        download base (http:// or https://). The launcher fetches
                    each file from URL followed by its path, with no separator
                    added, so URL should end with '/' (a warning says so).
  --version V       text of the VERSION line; default: the current UTC time,
                    e.g. 20261207T213000Z. Give it for reproducible output.
  --if-missing GLOB mark files whose relative path matches GLOB IFMISSING;
                    may be repeated. GLOB is matched against the whole path
                    with '/' between names ('\' in GLOB counts as '/'):
                      *    any run of characters within one name
                      ?    one character other than '/'
                      **   any run of characters, across folders
                      **/  zero or more folders ("**/x.cfg" matches x.cfg too)
                    No character classes; case-sensitive. A GLOB that matches
                    no file gives a warning.
  --jobs N          hashing threads (default: one per core).
  --blocks-min BYTES
                    files of at least BYTES (default 4194304, 4 MiB; 0: none)
                    that are not IFMISSING get a block index written beside
                    them in CLIENT_DIR, FILE.blocks, and the field BLOCKS on
                    their line: a launcher holding an older copy then fetches
                    only the changed blocks, with HTTP Range requests (any
                    static server does). Older launchers ignore the field.
                    Indexes found in CLIENT_DIR are never listed themselves.

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

launcher EXE --version N --url URL
  Writes launcher_version.txt (or --out FILE) with the lines
  VERSION<TAB>N, SHA256<TAB><lower-case hex of EXE>, URL<TAB>URL, each ended
  by LF. N must be from 1 to 2147483647; URL must be an http:// or https://
  URL without TAB, CR or LF. EXE must exist (a warning is given when it does
  not start with 'MZ').

Both commands write a temporary file beside the output, flush it to disk and
rename it over the output at the end: on any error the temporary file is
removed and an existing output stays as it was.

Exit status: 0 written; 1 refused input or an I/O error; 2 malformed command
line.
)";
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
            out << HelpText();
            return kExitOk;
        case CommandKind::Manifest:
            commandLine.manifest.progress = true;
            return RunManifest(commandLine.manifest, out, err);
        case CommandKind::Launcher:
            return RunLauncher(commandLine.launcher, out, err);
    }
    return kExitUsage;
}

}  // namespace talvora
