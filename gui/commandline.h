// What the program's arguments ask for, decided before any window exists so
// that --help and --version work without a display and write no files.
#pragma once

#include <string>

namespace quendril {

enum class Command { Window, Auto, Help, Version, Bad };

struct ParsedCommand {
    Command cmd = Command::Window;
    std::string error;  // one line, for Command::Bad
};

// No arguments opens the window; the one argument AUTO (any letter case)
// runs once unattended; --help and --version stand alone; anything else is bad.
ParsedCommand parseCommandLine(int argc, char** argv);

std::string usageText();
std::string versionText();

// The exit status of a bad command line, the same as a settings error's.
inline constexpr int kBadCommandStatus = 2;

}  // namespace quendril
