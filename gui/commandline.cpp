#include "commandline.h"

#include <string_view>
#include <utility>

#include "version.h"

namespace quendril {

namespace {

bool isAuto(std::string_view arg) {
    if (arg.size() != 4) return false;
    // Byte-wise, as the window's own check, so no locale changes the answer.
    for (std::size_t i = 0; i < 4; ++i) {
        char c = arg[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != "AUTO"[i]) return false;
    }
    return true;
}

ParsedCommand bad(std::string error) { return {Command::Bad, "quendril: " + std::move(error)}; }

}  // namespace

ParsedCommand parseCommandLine(int argc, char** argv) {
    if (argc <= 1) return {Command::Window, {}};
    // An unknown option is named first wherever it stands: it is the likelier mistake.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with('-') && arg != "--help" && arg != "--version") {
            return bad("unknown option '" + std::string(arg) + "'");
        }
    }
    const std::string_view first = argv[1];
    const Command asked = first == "--help"      ? Command::Help
                          : first == "--version" ? Command::Version
                          : isAuto(first)        ? Command::Auto
                                                 : Command::Bad;
    if (argc == 2 && asked != Command::Bad) return {asked, {}};
    const std::string stray = asked == Command::Bad ? argv[1] : argv[2];
    return bad("unexpected argument '" + stray + "' (AUTO, --help and --version stand alone)");
}

std::string usageText() {
    return "usage: quendril [AUTO | --help | --version]\n"
           "'quendril' opens the window in the current folder, its working folder.\n"
           "'quendril AUTO' runs Execute unattended until a terminal ends its work,\n"
           "prints a table of the jobs, and exits with a status:\n"
           "0 every job done, 1 some job failed, 2 settings or ID file error (also a bad\n"
           "command line), 3 the line could not be opened or was lost, 4 a local file\n"
           "error, 130 or 143 stopped by SIGINT or SIGTERM.\n";
}

std::string versionText() {
    return "quendril " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRevision) + "\n";
}

}  // namespace quendril
