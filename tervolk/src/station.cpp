#include "station.h"

#include <algorithm>

namespace tvk {

BoxStation::~BoxStation() { endJob(false); }

uint64_t BoxStation::jobBytes() const {
    if (reader_) return reader_->bytesRead();
    if (writer_) return writer_->bytesStored();
    return 0;
}

void BoxStation::endJob(bool ok) {
    if (inJob() && !reported_) {
        size_t files = reader_ ? reader_->filesSent() : writer_->filesStored();
        reportEnd(ok, files, jobBytes());
    }
    sender_.reset();
    reader_.reset();
    receiver_.reset();
    writer_.reset();
    reported_ = false;
    peerFailed_ = false;
}

void BoxStation::reportEnd(bool ok, size_t files, uint64_t bytes) {
    terminal_.jobEnded(ok, files, bytes);
    if (sender_) terminal_.framesResent(sender_->stats().framesResent);
    else if (receiver_) terminal_.framesResent(receiver_->resentSeen);
}

bool BoxStation::windowOnTheLine(const Link& link) const { return Clock::now() < link.lineIdleAt(); }

void BoxStation::checkWatchdog(const Link& link) {
    if (inJob() && Clock::now() > link.progressDeadline(lastHeard_)) endJob(false);
}

Got BoxStation::answer(Link& link, FrameType type, std::vector<uint8_t> payload) {
    return answerSeq(link, type, 0, std::move(payload));
}

Got BoxStation::answerSeq(Link& link, FrameType type, uint16_t seq, std::vector<uint8_t> payload) {
    Frame f;
    f.seq = seq;
    f.addr = addr_;
    f.type = type;
    f.pf = true;
    f.payload = std::move(payload);
    return link.send(f);
}

Got BoxStation::reject(Link& link) {
    if (versionOne_) return answer(link, FrameType::Reject);
    return answer(link, FrameType::Reject, encodeHello({kProtocolVersion, 0}, false));
}

Got BoxStation::sendNext(Link& link) {
    if (sender_->finished()) {
        if (!reported_) {
            reportEnd(reader_->status() == 0 && !peerFailed_, reader_->filesSent(), reader_->bytesRead());
            reported_ = true;
        }
        return answer(link, FrameType::Done);
    }
    // The master's abort or release, or the terminal leaving the line,
    // cuts the window short.
    Got g = sender_->sendWindow(link, [&] {
        Frame in;
        while (link.poll(in)) {
            if (in.addr == addr_ && (in.type == FrameType::Abort || in.type == FrameType::Disc)) {
                pending_ = std::move(in);
                return true;
            }
        }
        return !terminal_.present(jobBytes());
    });
    if (!pending_) return g;
    Frame in = std::move(*pending_);
    pending_.reset();
    return handle(link, in);
}

Got BoxStation::onStart(Link& link, const Frame& f) {
    StartJob job;
    if (!decodeStart(f.payload, job) || (versionOne_ && job.version > 1)) return reject(link);
    // What the master can take, and the version to answer in.
    const uint8_t features = versionOne_ ? 0 : job.features;
    if (job.dir == 0) {
        // A repeated START of the same job resends what is missing; a
        // duplicate of the same START, or one sent before our window
        // reached the master, is ignored.
        if (sender_)
            return f.seq == lastToken_ || windowOnTheLine(link) ? Got::Frame : (lastToken_ = f.seq, sendNext(link));
        endJob(false);
        lastToken_ = f.seq;
        masterVersionTwo_ = job.version >= 2 && !versionOne_;
        auto files = terminal_.filesToSend();
        if (!files) return reject(link);
        reader_ = std::make_unique<BatchReader>(std::move(*files), progress_);
        if (features & kFeaturePacked) reader_->pack();
        sender_ = std::make_unique<WindowSender>(*reader_, addr_, link.timers(), (features & kFeatureProtected) != 0);
        return sendNext(link);
    }
    endJob(false);
    masterVersionTwo_ = job.version >= 2 && !versionOne_;
    auto dir = terminal_.receiveDir(job);
    if (!dir) return reject(link);
    writer_ = std::make_unique<BatchWriter>(*dir, progress_);
    receiver_ = std::make_unique<WindowReceiver>(*writer_);
    return answer(link, FrameType::Ready,
                  masterVersionTwo_ ? encodeHello({kProtocolVersion, kAllFeatures}) : std::vector<uint8_t>{});
}

Got BoxStation::handle(Link& link, const Frame& f) {
    if (f.addr != addr_ || !terminal_.present(jobBytes())) return Got::Frame;
    lastHeard_ = Clock::now();
    switch (f.type) {
    case FrameType::Poll: {
        // The master polls only between its jobs: a job still held here
        // was given up by it (its release was lost), and must not be taken
        // for the next job's.
        endJob(false);
        bool idle = false;
        auto rec = terminal_.answerPoll(idle);
        if (rec) return answerSeq(link, FrameType::Record, f.seq, encodeRecord(*rec));
        return answerSeq(link, idle ? FrameType::Idle : FrameType::NoTerm, f.seq, {});
    }
    case FrameType::Start:
        return onStart(link, f);
    case FrameType::Rr: {
        AckInfo ack;
        if (!sender_ || !decodeAck(f.payload, ack) || (versionOne_ && f.payload.size() != kAckLen)) return reject(link);
        // A request that arrives while our window is still crossing the
        // line was sent before the master saw it: its acknowledgement would
        // count the frames in flight as lost. The window's final frame
        // brings the next request.
        if (f.seq == lastToken_ || windowOnTheLine(link)) return Got::Frame;
        lastToken_ = f.seq;
        // The master could not store a file: the rest still goes, but the
        // terminal keeps its data.
        if (ack.flags & kAckFailed) peerFailed_ = true;
        sender_->applyAck(ack);
        return sendNext(link);
    }
    case FrameType::Data:
    case FrameType::Frag:
        if (!receiver_) return f.pf ? reject(link) : Got::Frame;
        if (f.type == FrameType::Data) receiver_->onData(f);
        else receiver_->onFrag(f);
        if (receiver_->complete() && !reported_) {
            reportEnd(!writer_->failed(), writer_->filesStored(), writer_->bytesStored());
            reported_ = true;
        }
        if (!f.pf) return Got::Frame;
        [[fallthrough]];
    case FrameType::AckReq:
        if (!receiver_) return reject(link);
        return answerSeq(link, FrameType::Ack, f.seq, encodeAck(receiver_->ack(), masterVersionTwo_));
    case FrameType::Disc:
        endJob(false);
        terminal_.released();
        return answer(link, FrameType::Ua);
    case FrameType::Abort:
        endJob(false);
        return Got::Frame;
    default:
        return Got::Frame;
    }
}

}  // namespace tvk
