// The command line of talvora-publish: one subcommand per file it writes, each with its own
// --help.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "commands.h"

namespace talvora {

enum class CommandKind { Help, Manifest, Launcher, Keygen, Verify };

struct CommandLine {
    CommandKind kind = CommandKind::Help;
    std::string helpText;  // for Help: the text asked for
    ManifestOptions manifest;
    LauncherOptions launcher;
    KeygenOptions keygen;
    VerifyOptions verify;
};

// `args` without the program name, as UTF-8. False, with `error`, for a
// command line that does not make sense; values are judged by the commands.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& result,
                      std::string& error);

// The whole program: parse, run, and return the exit code.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace talvora
