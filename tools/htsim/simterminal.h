// One simulated terminal: plays its box's script of jobs.
#pragma once

#include <string>

#include "fleet.h"
#include "wire.h"

namespace htsim {

struct Counters {
    size_t jobsOk = 0, jobsFailed = 0;
    size_t filesSent = 0, filesReceived = 0;
    uint64_t bytesSent = 0, bytesReceived = 0;
    size_t framesResent = 0;
};

class SimTerminal final {
public:
    explicit SimTerminal(BoxDesc desc);

    // Answer to a poll: nullopt while no terminal sits in the box, a record
    // when it asks for a job, otherwise it is idle (idle set to true).
    std::optional<tvk::Record> answerPoll(bool& idle);
    // The current job when it is a send job (the box sends to the PC).
    const Job* sendJob() const;
    // The directory a receive job of transType stores into; nullopt refuses.
    std::optional<std::string> receiveDir(uint8_t transType);
    // The job ended: intact and complete, or not.
    void jobEnded(bool ok, size_t files, uint64_t bytes);
    // Frames sent again in the job that just ended, in either direction.
    void framesResent(size_t count) { counters_.framesResent += count; }
    void released();
    // False once the terminal has gone from the line (it hears nothing).
    bool present(uint64_t jobBytes);

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
