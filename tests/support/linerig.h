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
// A child process in its own process group, stopped with SIGTERM (then
// SIGKILL) together with whatever it started when it goes out of scope.
class ChildProcess {
public:
    struct Redirect { std::string in, out, err; };  // empty: inherit
    ChildProcess() = default;
    ChildProcess(const std::vector<std::string>& argv, const Redirect& redirect = {});
    ~ChildProcess() { stop(); }
    ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the exit; empty when the time ran out (the child keeps running).
    std::optional<int> wait(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL after three seconds; the exit status (128 + signal if killed).
    int stop();
private:
    bool reap(int options);
    pid_t pid_ = -1;
    std::optional<int> status_;
};

struct LineSettings {
    uint32_t baud = 115200;
    int dataBits = 8;
    std::string parity = "none";  // none, odd, even
    int stopBits = 1;
    double latencyAbMs = 0, latencyBaMs = 0;
    double bitErrorRate = 0, dropRate = 0;
    uint64_t seed = 1;
    std::string outage;  // "START_MS:LEN_MS", empty for none
    // Characters per second the line carries at most.
    double charRate() const { return double(baud) / (1 + dataBits + (parity == "none" ? 0 : 1) + stopBits); }
};

// Environment variables set for a scope and the children started in it;
// each is restored (or removed) when the scope ends.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ScopedEnv& set(const std::string& name, const std::string& value);

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
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
    // Lets the library open side a as COM port `port` (restored on destruction).
    void exportComPort(int port = 0);
    // Starts htsim on side b; output goes to htsim.log in dir().
    void startHtsim(const std::string& fleetFile, const std::vector<std::string>& extraArgs = {});
    ChildProcess& htsim() { return htsim_; }
    // Stops lineemu (and htsim) and returns lineemu's counters ("ab_bits_flipped", ...).
    std::map<std::string, uint64_t> stop();
private:
    std::string dir_;
    ChildProcess lineemu_, htsim_;
    ScopedEnv env_;
};
}  // namespace quendril::test
