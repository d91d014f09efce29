// Shell command lines for the tests of the package, the demo and the command line.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace quendril::test {

struct CommandResult {
    int status = -1;
    std::string output;  // standard output and error
};

inline std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline CommandResult runCommand(const std::string& command) {
    CommandResult r;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    char buf[4096];
    for (std::size_t n; pipe && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) r.output.append(buf, n);
    const int status = pipe ? ::pclose(pipe) : -1;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace quendril::test
