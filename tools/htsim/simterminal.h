// One simulated terminal: plays its box's script of jobs.
#pragma once

#include <string>

#include "fleet.h"
#include "station.h"

namespace htsim {

struct Counters {
    size_t jobsOk = 0, jobsFailed = 0;
    size_t filesSent = 0, filesReceived = 0;
    uint64_t bytesSent = 0, bytesReceived = 0;
    size_t framesResent = 0;
};

class SimTerminal final : public tvk::Terminal {
public:
    explicit SimTerminal(BoxDesc desc);

    std::optional<tvk::Record> answerPoll(bool& idle) override;
    std::optional<std::vector<tvk::SourceFile>> filesToSend() override;
    std::optional<std::string> receiveDir(const tvk::StartJob& job) override;
    void jobEnded(bool ok, size_t files, uint64_t bytes) override;
    void framesResent(size_t count) override { counters_.framesResent += count; }
    void released() override;
    bool present(uint64_t jobBytes) override;

    const BoxDesc& desc() const { return desc_; }
    const Counters& counters() const { return counters_; }
    // Every job of the script is done.
    bool finished() const { return next_ >= desc_.jobs.size(); }
    std::string summary() const;

private:
    const Job* current() const { return finished() ? nullptr : &desc_.jobs[next_]; }
    void advance();

    BoxDesc desc_;
    size_t next_ = 0;
    int doneOfCurrent = 0;
    int polls_ = 0;
    bool vanished_ = false;
    bool endReported_ = false;
    bool installed_ = false;        // the install completed; its release is awaited
    bool installReported_ = false;  // and its report has been given
    Counters counters_;
};

}  // namespace htsim
