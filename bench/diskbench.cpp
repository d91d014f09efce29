// Disk side of a job: throughput and peak memory of the append step of a
// receive and of the LOD/OTR staging of a transmit, for many files and for
// one large file. Each case runs in its own child process so its peak
// resident memory is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>

#include "benchcases.h"
#include "appendjob.h"
#include "run.h"

namespace fs = std::filesystem;
using namespace quendril::bench;
using namespace std::chrono_literals;

namespace {

// The run's displays go nowhere: only the disk is measured.
class NoRunView : public quendril::RunView {
public:
    void dispStatus(int16_t, int16_t, const std::string&) override {}
    void dispHTID(int16_t, const std::string&, int16_t) override {}
    void dispErrStat(const std::string&, int16_t) override {}
    void commInfoOn() override {}
    void commInfoOff() override {}
    void writeScale(int16_t) override {}
    void setIconCaption(int16_t) override {}
    void dispPending(const quendril::PendingJob&) override {}
    void hideErrorPanel() override {}
    void hideScalePanel() override {}
};

struct DiskCase {
    std::string name;
    std::string step;   // "append", "LOD", "OTR", or "copy" (the filesystem's own rate)
    int files;
    uint64_t fileSize;
};

struct Measured {
    double seconds = 0;
    long peakKib = 0;
    long growthKib = 0;
    bool ok = false;
};

long peakRssKib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Writes in small pieces, so setting up a big file does not raise the peak.
void writeRandomFile(const fs::path& path, uint64_t size, uint32_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<uint64_t> block(8192);
    std::ofstream out(path, std::ios::binary);
    for (uint64_t left = size; left > 0;) {
        for (auto& w : block) w = rng();
        auto n = static_cast<std::streamsize>(std::min<uint64_t>(left, block.size() * sizeof(uint64_t)));
        out.write(reinterpret_cast<const char*>(block.data()), n);
        left -= static_cast<uint64_t>(n);
    }
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string fileName(const DiskCase& c, int i) {
    // Half the files are LOD files, so both staging types copy something.
    std::string name = "F";
    name += std::to_string(i);
    name += i % 2 == 0 || c.files == 1 ? ".LOD" : ".DAT";
    return name;
}

// The bytes the step moves.
uint64_t setUp(const DiskCase& c, const fs::path& work) {
    fs::create_directories(work / "src");
    fs::create_directories(work / "dest");
    fs::create_directories(work / "TEMP");
    uint64_t moved = 0;
    for (int i = 0; i < c.files; ++i) {
        std::string name = fileName(c, i);
        writeRandomFile(work / "src" / name, c.fileSize, static_cast<uint32_t>(i));
        if (c.step == "append") writeRandomFile(work / "dest" / name, 1024, 7);
        bool lod = name.ends_with(".LOD");
        if (c.step == "append" || (c.step != "OTR") == lod) moved += c.fileSize;
    }
    return moved;
}

// A bare copy and delete of the LOD files: what the filesystem itself allows.
bool copyReference(const fs::path& work) {
    for (const auto& entry : fs::directory_iterator(work / "src")) {
        if (entry.path().extension() == ".LOD") fs::copy_file(entry.path(), work / "TEMP" / entry.path().filename());
    }
    for (const auto& entry : fs::directory_iterator(work / "TEMP")) fs::remove(entry.path());
    return true;
}

// A failure gives the step up: a Retry/Cancel box is cancelled, an OK box ends.
class GiveUp : public quendril::Prompt {
public:
    quendril::BoxAnswer show(const quendril::Failure&) override { return quendril::kAnswerCancel; }
};

bool runStep(const DiskCase& c, const fs::path& work) {
    if (c.step == "copy") return copyReference(work);
    GiveUp prompt;
    NoRunView view;
    // Staging and appending never touch the line.
    const quendril::TvkTable noLine{};
    quendril::Run run(noLine, view, prompt, (work / "TEMP").string());
    if (c.step == "append") {
        // The received copies, committed as the receive leaves them.
        auto job = quendril::AppendJob::begin(run.files, run.tempDir, "BENCH1", (work / "dest").string());
        if (!job) return false;
        for (const auto& entry : fs::directory_iterator(work / "src")) {
            fs::rename(entry.path(), fs::path(job->dir()) / entry.path().filename());
        }
        return job->commit() && job->append(run.files, run.stop) && fs::is_empty(work / "TEMP");
    }
    quendril::CommInfo info{};
    info.transType = 3;
    quendril::SendSource staged = quendril::stageTransmitFiles(run, info, (work / "src").string(), c.step);
    bool ok = !staged.dir.empty();
    quendril::removeStagedFiles(staged);
    return ok;
}

// Runs the step in a child and gets its figures back through a pipe.
Measured measure(const DiskCase& c, const fs::path& work) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        Measured m;
        long before = peakRssKib();
        auto start = std::chrono::steady_clock::now();
        m.ok = runStep(c, work);
        m.seconds = secondsSince(start);
        m.peakKib = peakRssKib();
        m.growthKib = m.peakKib - before;
        [[maybe_unused]] ssize_t n = ::write(fds[1], &m, sizeof m);
        ::_exit(0);
    }
    ::close(fds[1]);
    Measured m;
    if (pid < 0 || ::read(fds[0], &m, sizeof m) != static_cast<ssize_t>(sizeof m)) m.ok = false;
    ::close(fds[0]);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    return m;
}

std::vector<DiskCase> diskCases(bool quick) {
    const int many = quick ? 100 : 1000;
    const uint64_t big = quick ? 64ull << 20 : 1ull << 30;
    const std::string label = quick ? "64MiB" : "1GiB";
    return {
        {"append " + std::to_string(many) + " x 16KiB", "append", many, 16 * 1024},
        {"append 1 x " + label, "append", 1, big},
        {"LOD staging " + std::to_string(many) + " x 16KiB", "LOD", many, 16 * 1024},
        {"OTR staging " + std::to_string(many) + " x 16KiB", "OTR", many, 16 * 1024},
        {"plain copy " + std::to_string(many / 2) + " x 16KiB (reference)", "copy", many, 16 * 1024},
        {"LOD staging 1 x " + label, "LOD", 1, big},
        {"plain copy 1 x " + label + " (reference)", "copy", 1, big},
    };
}

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "disk.csv", "usage: diskbench [--quick] [--out FILE]\n",
                     [](const BenchOptions& opt) {
                         std::ofstream out(opt.out, std::ios::trunc);
                         out << "step,mib_per_s,peak_rss_kib,rss_growth_kib,status\n";
                         for (const auto& c : diskCases(opt.quick)) {
                             fs::path work = fs::temp_directory_path() / ("quendril-disk-" + std::to_string(::getpid()));
                             fs::remove_all(work);
                             uint64_t bytes = setUp(c, work);
                             // Each step starts with nothing waiting for write-back,
                             // so one case's set-up does not slow the next one's step.
                             ::sync();
                             Measured m = measure(c, work);
                             fs::remove_all(work);
                             double rate = m.seconds > 0 ? static_cast<double>(bytes) / m.seconds / (1 << 20) : 0;
                             out << c.name << ',' << rate << ',' << m.peakKib << ',' << m.growthKib << ','
                                 << (m.ok ? "ok" : "failed") << '\n';
                             std::cout << c.name << ": " << rate << " MiB/s, peak " << m.peakKib << " KiB (+"
                                       << m.growthKib << " KiB)" << (m.ok ? "" : " FAILED") << std::endl;
                         }
                     });
}
