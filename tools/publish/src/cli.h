// The command line of talvora-publish.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "commands.h"

namespace talvora {

enum class CommandKind { Help, Manifest, Launcher, Keygen, Verify };

struct CommandLine {
    CommandKind kind = CommandKind::Help;
    ManifestOptions manifest;
    LauncherOptions launcher;
    KeygenOptions keygen;
    VerifyOptions verify;
};

// `args` without the program name, as UTF-8. False, with `error`, for a
// command line that does not make sense; values are judged by the commands.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& result,
                      std::string& error);

std::string HelpText();

// The whole program: parse, run, and return the exit code.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace talvora
