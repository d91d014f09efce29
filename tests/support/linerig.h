// Test and benchmark rig: runs lineemu (and htsim on side b) in a private
// temporary directory and never leaves a process behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quendril::test {

// A child process, stopped with SIGTERM (then SIGKILL) when it goes out of scope.
class ChildProcess {
public:
    struct Redirect {
        std::string in;   // empty: inherit
        std::string out;  // empty: inherit
        std::string err;  // empty: inherit
    };

    ChildProcess() = default;
    ChildProcess(const std::vector<std::string>& argv, const Redirect& redirect = {});
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the exit; empty when the time ran out (the child keeps running).
    std::optional<int> wait(std::chrono::milliseconds timeout);
    // SIGTERM to its process group, then SIGKILL after `grace`; returns the
    // exit status (128 + signal if killed).
    int stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

private:
    bool reap(int options);
    bool exitedUnreaped();

    pid_t pid_ = -1;
    std::optional<int> status_;
};

struct LineSettings {
    uint32_t baud = 115200;
    int dataBits = 8;
    std::string parity = "none";  // none, odd, even
    int stopBits = 1;
    double latencyAbMs = 0;
    double latencyBaMs = 0;
    double bitErrorRate = 0;
    double dropRate = 0;
    uint64_t seed = 1;
    std::string outage;  // "START_MS:LEN_MS", empty for none

    std::vector<std::string> lineemuArgs() const;
    int bitsPerChar() const { return 1 + dataBits + (parity == "none" ? 0 : 1) + stopBits; }
    // Characters per second the line carries at most.
    double charRate() const { return static_cast<double>(baud) / bitsPerChar(); }
};

class LineRig {
public:
    // Starts lineemu and waits until both ends exist; throws std::runtime_error.
    explicit LineRig(const LineSettings& settings = {});
    ~LineRig();
    LineRig(const LineRig&) = delete;
    LineRig& operator=(const LineRig&) = delete;

    const std::string& dir() const { return dir_; }
    std::string pathA() const { return dir_ + "/a"; }
    std::string pathB() const { return dir_ + "/b"; }
    const LineSettings& settings() const { return settings_; }

    // Lets the library open side a as COM port `port` (restored on destruction).
    void exportComPort(int port = 0);

    // Starts htsim on side b; output goes to htsim.log in dir().
    void startHtsim(const std::string& fleetFile, const std::vector<std::string>& extraArgs = {});
    ChildProcess& htsim() { return htsim_; }

    // Stops lineemu (and htsim) and returns lineemu's counters ("ab_bits_flipped", ...).
    std::map<std::string, uint64_t> stop();

    static std::string lineemuPath();
    static std::string htsimPath();

private:
    void waitReady();

    LineSettings settings_;
    std::string dir_;
    ChildProcess lineemu_;
    ChildProcess htsim_;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnv_;
};

}  // namespace quendril::test
