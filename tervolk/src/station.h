// A box's side of the line: answers polls for its terminal and carries out
// the jobs the master starts. The terminal's behaviour comes from outside
// (the fleet simulator's scripts, or a test).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link.h"
#include "stream.h"
#include "transfer.h"
#include "wire.h"

namespace tvk {

class Terminal {
public:
    virtual ~Terminal() = default;
    // Answer to a poll: nullopt while no terminal sits in the box, a record
    // when it asks for a job, otherwise it is idle (set idle to true).
    virtual std::optional<Record> answerPoll(bool& idle) = 0;
    // The files of a send job (the box sends to the master); nullopt refuses.
    virtual std::optional<std::vector<SourceFile>> filesToSend() = 0;
    // The directory a receive job stores into; nullopt refuses.
    virtual std::optional<std::string> receiveDir(const StartJob& job) = 0;
    // The job ended: intact and complete, or not.
    virtual void jobEnded(bool ok, size_t files, uint64_t bytes) = 0;
    // Frames sent again in the job that just ended: by the box, or by the
    // master as far as they reached the box.
    virtual void framesResent(size_t count) { (void)count; }
    virtual void released() {}
    // False once the terminal has gone from the line (it hears nothing).
    virtual bool present(uint64_t jobBytes) {
        (void)jobBytes;
        return true;
    }
};

class BoxStation {
public:
    BoxStation(uint8_t addr, Terminal& terminal, Progress* progress = nullptr)
        : addr_(addr), terminal_(terminal), progress_(progress) {}
    ~BoxStation();

    uint8_t addr() const { return addr_; }
    // Speaks protocol version 1 only, as boxes built before version 2 do:
    // refuses a longer START, says nothing of features, and never packs
    // or protects what it sends.
    void speakVersionOne() { versionOne_ = true; }
    // Handles a frame addressed to this box, answering on the link.
    Got handle(Link& link, const Frame& f);
    // Drops a job the master has not spoken to for lineParamB since the
    // box's own characters left the line.
    void checkWatchdog(const Link& link);
    bool inJob() const { return reader_ || writer_; }

private:
    Got answer(Link& link, FrameType type, std::vector<uint8_t> payload = {});
    Got answerSeq(Link& link, FrameType type, uint16_t seq, std::vector<uint8_t> payload);
    // A version-2 REJECT names its version, so the master does not fall back.
    Got reject(Link& link);
    Got onStart(Link& link, const Frame& f);
    Got sendNext(Link& link);
    uint64_t jobBytes() const;
    // Our characters, written into the driver's buffer, are still going out.
    bool windowOnTheLine(const Link& link) const;
    void endJob(bool ok);
    void reportEnd(bool ok, size_t files, uint64_t bytes);

    uint8_t addr_;
    Terminal& terminal_;
    Progress* progress_;
    std::unique_ptr<BatchReader> reader_;
    std::unique_ptr<WindowSender> sender_;
    std::unique_ptr<BatchWriter> writer_;
    std::unique_ptr<WindowReceiver> receiver_;
    bool reported_ = false;
    bool peerFailed_ = false;  // the master's acknowledgement said a file was not stored
    uint16_t lastToken_ = 0;  // of the last START or RR carried out
    bool versionOne_ = false;
    bool masterVersionTwo_ = false;  // the job's START came in version 2
    std::optional<Frame> pending_;  // an abort or release heard while sending
    Clock::time_point lastHeard_{};
};

}  // namespace tvk
