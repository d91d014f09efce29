// The directories a transfer target may touch: "in" receives, "out" holds
// the files to send. Both sit alone in a private root, so anything written
// beside them, a partial file left behind or a changed source file shows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "linescript.h"

namespace fuzzline {

class Jail {
public:
    Jail();
    ~Jail();
    Jail(const Jail&) = delete;
    Jail& operator=(const Jail&) = delete;

    std::string in() const { return (root_ / "in").string(); }
    std::string out() const { return (root_ / "out").string(); }
    // Aborts when a rule is broken, then empties "in" for the next input.
    void checkAndReset();

private:
    std::filesystem::path root_;
};

// One input of a transfer target: its first byte is the mode (sevenBit
// marks a 7-bit line), the rest a script. run gets the mode, the line kind,
// the records and the jail; the jail's rules are checked afterwards.
template <class Run>
int runInJail(const uint8_t* data, size_t size, uint8_t sevenBit, Run run) {
    static Jail jail;
    if (size == 0) return 0;
    run(data[0], (data[0] & sevenBit) != 0, parseScript(data + 1, size - 1), jail);
    jail.checkAndReset();
    return 0;
}

}  // namespace fuzzline
