#include "simterminal.h"

#include <cstring>
#include <filesystem>

#include "stream.h"

namespace htsim {

namespace fs = std::filesystem;

SimTerminal::SimTerminal(BoxDesc desc) : desc_(std::move(desc)) {}

bool SimTerminal::present(uint64_t jobBytes) {
    if (desc_.vanishAfter && jobBytes >= desc_.vanishAfter) vanished_ = true;
    return !vanished_;
}

std::optional<tvk::Record> SimTerminal::answerPoll(bool& idle) {
    if (desc_.id.empty() || polls_++ < desc_.appearAfter) return std::nullopt;
    const Job* job = current();
    idle = true;
    // After an install the terminal reports it once (its end, of type 15)
    // and then waits, idle, for the release that ends it.
    if (!job || installReported_) return std::nullopt;
    tvk::Record r;
    std::memset(r.htId, ' ', sizeof r.htId);
    std::memcpy(r.htId, desc_.id.data(), desc_.id.size());
    std::memset(r.aux1, '0', sizeof r.aux1);
    std::memcpy(r.aux1, desc_.rev.data(), desc_.rev.size());
    r.transType = uint8_t(job->transType);
    switch (job->kind) {
    case JobKind::Send: {
        r.transDir = 0;
        bool ok = false;
        for (const auto& f : tvk::listSendFiles(job->dir, ok)) {
            ++r.fileCount;
            r.totalSize += f.size;
        }
        break;
    }
    case JobKind::Recv:
        r.transDir = 1;
        break;
    case JobKind::Install:
        r.transDir = installed_ ? 255 : 1;
        r.transType = 15;
        installReported_ = installed_;
        break;
    case JobKind::End:
        r.transDir = 255;
        endReported_ = true;
        break;
    }
    return r;
}

const Job* SimTerminal::sendJob() const {
    const Job* job = current();
    return job && job->kind == JobKind::Send ? job : nullptr;
}

std::optional<std::string> SimTerminal::receiveDir(uint8_t transType) {
    const Job* cur = current();
    if (!cur || (cur->kind != JobKind::Recv && cur->kind != JobKind::Install)) return std::nullopt;
    fs::path dir = fs::path(desc_.dir) / (transType == 15 ? "app" : "recv");
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir.string();
}

void SimTerminal::jobEnded(bool ok, size_t files, uint64_t bytes) {
    const Job* job = current();
    if (!job) return;
    if (!ok) {
        ++counters_.jobsFailed;
        return;
    }
    ++counters_.jobsOk;
    if (job->kind == JobKind::Install) {
        installed_ = true;
        counters_.filesReceived += files;
        counters_.bytesReceived += bytes;
        return;
    }
    if (job->kind == JobKind::Send) {
        counters_.filesSent += files;
        counters_.bytesSent += bytes;
    } else {
        counters_.filesReceived += files;
        counters_.bytesReceived += bytes;
    }
    advance();
}

void SimTerminal::released() {
    // The end of work counts as done once the PC has heard it and let go.
    const Job* job = current();
    if (job && ((job->kind == JobKind::End && endReported_) || installed_)) advance();
}

void SimTerminal::advance() {
    endReported_ = installed_ = installReported_ = false;
    if (++doneOfCurrent < desc_.jobs[next_].repeat) return;
    doneOfCurrent = 0;
    ++next_;
}

std::string SimTerminal::summary() const {
    char line[256];
    std::snprintf(line, sizeof line,
                  "box %d %s: jobs ok %zu failed %zu; sent %zu files %llu bytes; received %zu files %llu bytes; "
                  "resent %zu frames%s",
                  desc_.box, desc_.id.empty() ? "(empty)" : desc_.id.c_str(), counters_.jobsOk, counters_.jobsFailed,
                  counters_.filesSent, static_cast<unsigned long long>(counters_.bytesSent), counters_.filesReceived,
                  static_cast<unsigned long long>(counters_.bytesReceived), counters_.framesResent,
                  vanished_ ? "; vanished" : "");
    return line;
}

}  // namespace htsim
