#include "linerig.h"
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace quendril::test {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Redirect& redirect) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    // O_NOCTTY: a pseudo-terminal given as stdin must not become the child's controlling tty.
    const std::pair<const std::string*, int> files[] = {{&redirect.in, O_RDONLY},
        {&redirect.out, O_WRONLY | O_CREAT | O_TRUNC}, {&redirect.err, O_WRONLY | O_CREAT | O_TRUNC}};
    for (int fd = 0; fd < 3; ++fd)
        if (!files[fd].first->empty())
            posix_spawn_file_actions_addopen(&actions, fd, files[fd].first->c_str(), files[fd].second | O_NOCTTY, 0644);
    int rc = posix_spawn(&pid_, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    stop();
    pid_ = std::exchange(other.pid_, -1);
    status_ = other.status_;
    return *this;
}

bool ChildProcess::reap(int options) {
    if (status_) return true;
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, options) != pid_) return false;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    return true;
}

bool ChildProcess::running() { return pid_ > 0 && !reap(WNOHANG); }

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    for (auto deadline = Clock::now() + timeout; !reap(WNOHANG); std::this_thread::sleep_for(5ms))
        if (pid_ <= 0 || Clock::now() >= deadline) return std::nullopt;
    return status_;
}

int ChildProcess::stop() {
    if (pid_ <= 0) return status_.value_or(-1);
    if (!status_) {
        ::kill(-pid_, SIGTERM);
        // Until the child is reaped its pid cannot be reused, so the group is still ours.
        siginfo_t info{};
        for (auto deadline = Clock::now() + 3s; Clock::now() < deadline; std::this_thread::sleep_for(5ms)) {
            info.si_pid = 0;
            if (::waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_) break;
        }
        ::kill(-pid_, SIGKILL);
        reap(0);
    }
    pid_ = -1;
    return status_.value_or(-1);
}

LineRig::LineRig(const LineSettings& s) {
    dir_ = (std::filesystem::temp_directory_path() / "quendril-line-XXXXXX").string();
    if (!::mkdtemp(dir_.data())) throw std::runtime_error("mkdtemp failed");
    auto real = [](double v) { return (std::ostringstream() << v).str(); };
    // --exit-with-parent: a test killed outright must not leave the line running.
    std::vector<std::string> argv = {QUENDRIL_LINEEMU_BIN, "--a", pathA(), "--b", pathB(), "--ready-file",
        dir_ + "/ready", "--stats", dir_ + "/stats", "--exit-with-parent", "--baud", std::to_string(s.baud), "--data",
        std::to_string(s.dataBits), "--parity", s.parity, "--stop", std::to_string(s.stopBits), "--latency-ab",
        real(s.latencyAbMs), "--latency-ba", real(s.latencyBaMs), "--ber", real(s.bitErrorRate), "--drop",
        real(s.dropRate), "--seed", std::to_string(s.seed)};
    if (!s.outage.empty()) argv.insert(argv.end(), {"--outage", s.outage});
    try {
        lineemu_ = ChildProcess(argv, {"/dev/null", dir_ + "/lineemu.out", dir_ + "/lineemu.err"});
        for (auto deadline = Clock::now() + 10s; !std::filesystem::exists(dir_ + "/ready");
             std::this_thread::sleep_for(2ms)) {
            if (!lineemu_.running()) {
                std::ifstream err(dir_ + "/lineemu.err");
                throw std::runtime_error("lineemu did not start: " + (std::ostringstream() << err.rdbuf()).str());
            }
            if (Clock::now() > deadline) throw std::runtime_error("lineemu not ready after 10 s");
        }
    } catch (...) {
        lineemu_.stop();
        std::filesystem::remove_all(dir_);
        throw;
    }
}

ScopedEnv::~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second) ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else ::unsetenv(it->first.c_str());
    }
}

ScopedEnv& ScopedEnv::set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
    return *this;
}

LineRig::~LineRig() {
    stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void LineRig::exportComPort(int port) { env_.set("QUENDRIL_COM" + std::to_string(port), pathA()); }

void LineRig::startHtsim(const std::string& fleetFile, const std::vector<std::string>& extraArgs) {
    std::vector<std::string> argv = {QUENDRIL_HTSIM_BIN, "--device", pathB(), "--fleet", fleetFile};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    htsim_ = ChildProcess(argv, {"/dev/null", dir_ + "/htsim.log", dir_ + "/htsim.log"});
}

std::map<std::string, uint64_t> LineRig::stop() {
    htsim_.stop();
    lineemu_.stop();
    std::map<std::string, uint64_t> counters;
    std::ifstream in(dir_ + "/stats");
    for (std::string line; std::getline(in, line);)
        if (auto eq = line.find('='); eq != std::string::npos)
            counters[line.substr(0, eq)] = std::strtoull(line.c_str() + eq + 1, nullptr, 10);
    return counters;
}
}  // namespace quendril::test
