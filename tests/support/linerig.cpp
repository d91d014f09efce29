#include "linerig.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quendril::test {

namespace {

using namespace std::chrono_literals;

int decodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void addRedirect(posix_spawn_file_actions_t& actions, int fd, const std::string& path, int flags) {
    if (!path.empty()) posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), flags, 0644);
}

std::string makeTempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "quendril-line-XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    return templ;
}

std::string formatReal(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Redirect& redirect) {
    if (argv.empty()) throw std::invalid_argument("empty command");
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its own process group, so stopping it also stops whatever it started.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    // O_NOCTTY: a pseudo-terminal given as stdin must not become the child's controlling tty.
    addRedirect(actions, 0, redirect.in, O_RDONLY | O_NOCTTY);
    addRedirect(actions, 1, redirect.out, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY);
    addRedirect(actions, 2, redirect.err, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY);
    int rc = posix_spawn(&pid_, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) stop();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        if (pid_ > 0) stop();
        pid_ = other.pid_;
        status_ = other.status_;
        other.pid_ = -1;
    }
    return *this;
}

bool ChildProcess::reap(int options) {
    if (status_) return true;
    if (pid_ <= 0) return false;
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, options);
    if (r == pid_) {
        status_ = decodeStatus(status);
        return true;
    }
    return false;
}

bool ChildProcess::running() { return pid_ > 0 && !reap(WNOHANG); }

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reap(WNOHANG)) {
        if (pid_ <= 0 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
    return status_;
}

bool ChildProcess::exitedUnreaped() {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid_;
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) return status_.value_or(-1);
    if (!status_) {
        ::kill(-pid_, SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + grace;
        while (!exitedUnreaped() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        // Until it is reaped its pid cannot be reused, so the group is still ours.
        ::kill(-pid_, SIGKILL);
        reap(0);
    }
    pid_ = -1;
    return status_.value_or(-1);
}

std::vector<std::string> LineSettings::lineemuArgs() const {
    std::vector<std::string> args = {
        "--baud", std::to_string(baud), "--data", std::to_string(dataBits),
        "--parity", parity, "--stop", std::to_string(stopBits),
        "--latency-ab", formatReal(latencyAbMs), "--latency-ba", formatReal(latencyBaMs),
        "--ber", formatReal(bitErrorRate), "--drop", formatReal(dropRate),
        "--seed", std::to_string(seed)};
    if (!outage.empty()) {
        args.push_back("--outage");
        args.push_back(outage);
    }
    return args;
}

std::string LineRig::lineemuPath() { return QUENDRIL_LINEEMU_BIN; }
std::string LineRig::htsimPath() { return QUENDRIL_HTSIM_BIN; }

LineRig::LineRig(const LineSettings& settings) : settings_(settings), dir_(makeTempDir()) {
    std::vector<std::string> argv = {lineemuPath(), "--a", pathA(), "--b", pathB(),
                                     "--ready-file", dir_ + "/ready", "--stats", dir_ + "/stats",
                                     // A test killed outright must not leave the line running.
                                     "--exit-with-parent"};
    auto extra = settings_.lineemuArgs();
    argv.insert(argv.end(), extra.begin(), extra.end());
    try {
        lineemu_ = ChildProcess(argv, {"/dev/null", dir_ + "/lineemu.out", dir_ + "/lineemu.err"});
        waitReady();
    } catch (...) {
        lineemu_.stop();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        throw;
    }
}

LineRig::~LineRig() {
    stop();
    for (auto it = savedEnv_.rbegin(); it != savedEnv_.rend(); ++it) {
        if (it->second) ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else ::unsetenv(it->first.c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void LineRig::waitReady() {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!std::filesystem::exists(dir_ + "/ready")) {
        if (!lineemu_.running()) {
            std::ifstream err(dir_ + "/lineemu.err");
            std::stringstream text;
            text << err.rdbuf();
            throw std::runtime_error("lineemu did not start: " + text.str());
        }
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("lineemu not ready after 10 s");
        std::this_thread::sleep_for(2ms);
    }
}

void LineRig::exportComPort(int port) {
    std::string name = "QUENDRIL_COM" + std::to_string(port);
    const char* old = std::getenv(name.c_str());
    savedEnv_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), pathA().c_str(), 1);
}

void LineRig::startHtsim(const std::string& fleetFile, const std::vector<std::string>& extraArgs) {
    std::vector<std::string> argv = {htsimPath(), "--device", pathB(), "--fleet", fleetFile};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    htsim_.stop();
    htsim_ = ChildProcess(argv, {"/dev/null", dir_ + "/htsim.log", dir_ + "/htsim.log"});
}

std::map<std::string, uint64_t> LineRig::stop() {
    htsim_.stop();
    lineemu_.stop();
    std::map<std::string, uint64_t> counters;
    std::ifstream in(dir_ + "/stats");
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        counters[line.substr(0, eq)] = std::strtoull(line.c_str() + eq + 1, nullptr, 10);
    }
    return counters;
}

}  // namespace quendril::test
