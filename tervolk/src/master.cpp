#include "master.h"

#include <sys/statvfs.h>

#include <algorithm>

#include "tervolk.h"
#include "transfer.h"

namespace tvk {

namespace {

Frame control(uint8_t addr, FrameType type, std::vector<uint8_t> payload = {}) {
    Frame f;
    f.addr = addr;
    f.type = type;
    f.pf = true;
    f.payload = std::move(payload);
    return f;
}

// Counts the retries of one job: lineParamC turns in a row that brought no
// answer or no progress end it, and so does lineParamB of silence from the
// box after the master's own characters have left the line.
class RetryBudget {
public:
    explicit RetryBudget(const Link& link) : link_(link), lastHeard_(Clock::now()) {}
    void progress() { misses_ = 0; }
    void heard() { lastHeard_ = Clock::now(); }
    // The first retry follows at once (a lost final frame costs only
    // lineParamA); further ones are spread over lineParamB, so that a line
    // that stalls for a while is not given up after a few lineParamA.
    Clock::duration retrySpacing() const {
        return misses_ == 0 ? Clock::duration{} : Ms(link_.timers().progressMs / (link_.timers().retries + 1));
    }
    // Another retry is allowed.
    bool miss() {
        ++misses_;
        return misses_ <= link_.timers().retries && Clock::now() <= link_.progressDeadline(lastHeard_);
    }

private:
    const Link& link_;
    int misses_ = 0;
    Clock::time_point lastHeard_;
};

// How long a release after a stop may wait behind the box's stale data.
constexpr auto kHurriedRelease = std::chrono::seconds(1);

// Tells the box at once, even while a stop is pending.
void abortJob(Link& link, uint8_t addr) { link.send(control(addr, FrameType::Abort), true); }

int stopped(Link& link, uint8_t addr) {
    abortJob(link, addr);
    return TVK_ESTOPPED;
}

int failed(uint32_t& status, uint32_t bits, int code = TVK_EFAIL) {
    status |= bits;
    return code;
}

// Waits for a frame of addr whose type is one of wanted and that accept
// takes; others are stale and never extend the wait, which is bounded from
// its own start. While the line still carries the box's earlier characters
// (a frame it was sending, or what sits in its driver's buffer), the wait
// goes on until it has been quiet for lineParamA, but not once the box has
// been silent for lineParamB.
// cap, when given, ends the wait whatever the line still carries.
template <class Accept>
Got awaitFrom(Link& link, uint8_t addr, Clock::time_point deadline, Frame& f,
              std::initializer_list<FrameType> wanted, Accept&& accept,
              Clock::time_point cap = Clock::time_point::max()) {
    const auto start = Clock::now();
    for (;;) {
        auto limit = std::min(cap, std::max(deadline, link.progressDeadline(start)));
        auto until = std::min(limit, std::max(deadline, link.lastInputAt() + Ms(link.timers().responseMs)));
        Got g = link.receive(f, until);
        if (g == Got::Timeout && Clock::now() < std::min(cap, link.progressDeadline(start)) &&
            link.lastInputAt() + Ms(link.timers().responseMs) > Clock::now())
            continue;
        if (g != Got::Frame) return g;
        if (f.addr == addr && std::find(wanted.begin(), wanted.end(), f.type) != wanted.end() && accept(f))
            return g;
    }
}

Got awaitFrom(Link& link, uint8_t addr, Clock::time_point deadline, Frame& f,
              std::initializer_list<FrameType> wanted) {
    return awaitFrom(link, addr, deadline, f, wanted, [](const Frame&) { return true; });
}

}  // namespace

BoxAnswer pollBox(Link& link, uint8_t addr, Record& rec) {
    // The answer echoes the poll's number: a slow box's answer to an
    // earlier poll is not taken for this one.
    static uint16_t pollNumber = 0;
    Frame poll = control(addr, FrameType::Poll);
    poll.seq = ++pollNumber;
    Got g = link.send(poll);
    if (g == Got::Stopped) return BoxAnswer::Stopped;
    if (g == Got::Fatal) return BoxAnswer::Fatal;
    Frame f;
    auto deadline = link.answerDeadline(kRecordLen);
    g = awaitFrom(link, addr, deadline, f, {FrameType::NoTerm, FrameType::Idle, FrameType::Record},
                  [&](const Frame& a) { return a.seq == poll.seq; });
    if (g == Got::Stopped) return BoxAnswer::Stopped;
    if (g == Got::Fatal) return BoxAnswer::Fatal;
    if (g == Got::Timeout) return BoxAnswer::Silent;
    if (f.type == FrameType::NoTerm) return BoxAnswer::NoTerminal;
    if (f.type == FrameType::Idle) return BoxAnswer::Idle;
    return decodeRecord(f.payload, rec) ? BoxAnswer::Terminal : BoxAnswer::Silent;
}

namespace {

bool movedOn(const AckInfo& before, const AckInfo& now) { return now.cum != before.cum || now.bits != before.bits; }

// What one turn of a receive brought.
enum class Turn { Window, Done, Aborted, Rejected, Oversize, Stopped, Fatal };

// Bytes a receive may fill: what is free to us, less a reserve that the
// file system's other users keep (5 % of it, at most 256 MiB). Unknown: no
// limit.
uint64_t usableSpace(const std::string& dir) {
    struct statvfs v {};
    if (::statvfs(dir.empty() ? "." : dir.c_str(), &v) != 0) return UINT64_MAX;
    const uint64_t freeBytes = uint64_t(v.f_bavail) * v.f_frsize;
    const uint64_t reserve = std::min<uint64_t>(uint64_t(v.f_blocks) * v.f_frsize / 20, uint64_t(256) << 20);
    return freeBytes > reserve ? freeBytes - reserve : 0;
}

// Collects the box's answer to one request: its frames up to the one with
// the final bit (or DONE), or until the line has been quiet for lineParamA.
// Only frames that move the job forward (new data) extend the turn: a
// flood of garbage, duplicates or pieces that never complete a frame ends
// it after lineParamB.
Turn collectTurn(Link& link, uint8_t addr, WindowReceiver& rx, const BatchWriter& writer, RetryBudget& budget,
                 bool& heard, Hello& rejectedBy) {
    const auto turnEnds = Clock::now() + budget.retrySpacing();
    auto lastValid = Clock::now();
    for (;;) {
        auto quietFrom = std::max(link.lineIdleAt(), link.lastInputAt());
        auto deadline = std::max({link.answerDeadline(0), quietFrom + Ms(link.timers().responseMs), turnEnds});
        Frame f;
        Got g = link.receive(f, std::min(deadline, link.progressDeadline(lastValid)));
        if (g == Got::Timeout) {
            bool arriving = link.lastInputAt() > quietFrom;
            if (arriving && Clock::now() < link.progressDeadline(lastValid)) continue;
            return Turn::Window;
        }
        if (g == Got::Stopped) return Turn::Stopped;
        if (g == Got::Fatal) return Turn::Fatal;
        if (f.addr != addr) continue;
        heard = true;
        budget.heard();
        const AckInfo before = rx.ack();
        switch (f.type) {
        case FrameType::Data:
        case FrameType::Frag:
            if (f.type == FrameType::Data) rx.onData(f);
            else rx.onFrag(f);
            if (writer.oversize()) return Turn::Oversize;
            if (f.pf) return Turn::Window;
            if (movedOn(before, rx.ack())) lastValid = Clock::now();
            break;
        case FrameType::Done: return Turn::Done;
        case FrameType::Abort: return Turn::Aborted;
        case FrameType::Reject:
            rejectedBy = decodeHello(f.payload);
            return Turn::Rejected;
        default: break;
        }
    }
}

int finishReceive(Link& link, const WindowReceiver& rx, const BatchWriter& writer, size_t damagedBefore,
                  uint32_t& status) {
    if (!rx.complete()) return failed(status, TVK_ES_PROTOCOL | writer.status(), TVK_EPROTO);
    link.report("received " + std::to_string(writer.filesStored()) + " files, " +
                std::to_string(link.badFrames() - damagedBefore) + " damaged frames, " +
                std::to_string(rx.duplicates) + " duplicates");
    status |= writer.status();
    return writer.failed() ? TVK_EFAIL : TVK_OK;
}

// The START of a job in the version the box speaks.
StartJob startFor(StartJob job, const BoxProtocol& protocol) {
    if (!protocol.versionOne) {
        job.version = kProtocolVersion;
        job.features = kAllFeatures;
    }
    return job;
}

// A version-1 box refuses a version-2 START with an empty REJECT: the job
// starts again in version 1.
bool fallsBack(const Hello& rejectedBy, BoxProtocol& protocol) {
    if (protocol.versionOne || rejectedBy.version >= 2) return false;
    protocol.versionOne = true;
    return true;
}

// START and READY of a send job; TVK_OK when the box is ready, with what it
// can take in box.
int startSend(Link& link, uint8_t addr, const StartJob& job, RetryBudget& budget, uint32_t& status,
              BoxProtocol& protocol, Hello& box) {
    Frame f;
    for (;;) {
        Got g = link.send(control(addr, FrameType::Start, encodeStart(startFor(job, protocol))));
        if (g == Got::Stopped) return stopped(link, addr);
        if (g == Got::Fatal) return failed(status, TVK_ES_FATAL);
        g = awaitFrom(link, addr, link.answerDeadline(0) + budget.retrySpacing(), f,
                      {FrameType::Ready, FrameType::Reject});
        if (g == Got::Stopped) return stopped(link, addr);
        if (g == Got::Fatal) return failed(status, TVK_ES_FATAL);
        if (g == Got::Frame && !(f.type == FrameType::Reject && fallsBack(decodeHello(f.payload), protocol))) break;
        if (g == Got::Timeout && !budget.miss()) return failed(status, TVK_ES_TIMEOUT, TVK_ETIMEOUT);
    }
    budget.heard();
    if (f.type == FrameType::Reject) return failed(status, TVK_ES_PROTOCOL, TVK_EPROTO);
    box = decodeHello(f.payload);
    budget.progress();
    return TVK_OK;
}

// The box's answer to the window (or ACKREQ) just sent: an ACK that echoes
// its P frame, an ABORT or a REJECT.
Got awaitAck(Link& link, uint8_t addr, const WindowSender& tx, Clock::time_point deadline, Frame& f) {
    return awaitFrom(link, addr, deadline, f, {FrameType::Ack, FrameType::Abort, FrameType::Reject},
                     [&](const Frame& a) { return a.type != FrameType::Ack || a.seq == tx.lastPollSeq(); });
}

}  // namespace

int receiveFiles(Link& link, uint8_t addr, const std::string& dir, Progress* progress, uint32_t& status,
                 BoxProtocol& protocol, const ReceiveOptions& options) {
    if (options.announced && *options.announced > usableSpace(dir)) return failed(status, TVK_ES_NOSPACE);
    BatchWriter writer(dir, progress, options.checks);
    if (options.announced) writer.limitTotal(*options.announced);
    WindowReceiver rx(writer);
    const size_t damagedBefore = link.badFrames();
    RetryBudget budget(link);
    // Each request carries a new token so that the box can tell a repeated
    // request (answered again) from a duplicate on the line (ignored).
    uint16_t token = 1;
    bool everHeard = false;
    const auto start = [&] { return control(addr, FrameType::Start, encodeStart(startFor({}, protocol))); };
    Frame request = start();
    for (;;) {
        request.seq = token++;
        Got g = link.send(request);
        if (g == Got::Stopped) return stopped(link, addr);
        if (g == Got::Fatal) return failed(status, TVK_ES_FATAL);
        AckInfo before = rx.ack();
        bool heard = false;
        Hello rejectedBy;
        switch (collectTurn(link, addr, rx, writer, budget, heard, rejectedBy)) {
        case Turn::Stopped: return stopped(link, addr);
        case Turn::Fatal: return failed(status, TVK_ES_FATAL);
        case Turn::Oversize:
            abortJob(link, addr);
            return failed(status, TVK_ES_OVERSIZE | writer.status());
        case Turn::Aborted: return failed(status, TVK_ES_TRANSFER | writer.status());
        case Turn::Rejected:
            if (!everHeard && fallsBack(rejectedBy, protocol)) {
                request = start();
                continue;
            }
            return failed(status, TVK_ES_PROTOCOL, TVK_EPROTO);
        case Turn::Done: return finishReceive(link, rx, writer, damagedBefore, status);
        case Turn::Window: break;
        }
        AckInfo now = rx.ack();
        if (movedOn(before, now)) budget.progress();
        else if (!budget.miss()) return failed(status, (heard ? TVK_ES_TRANSFER : TVK_ES_TIMEOUT) | writer.status(),
                                               heard ? TVK_EFAIL : TVK_ETIMEOUT);
        // Until the box has answered at all, the START itself may be lost.
        everHeard = everHeard || heard;
        request = everHeard ? control(addr, FrameType::Rr, encodeAck(now, !protocol.versionOne)) : start();
    }
}

int sendFiles(Link& link, uint8_t addr, std::vector<SourceFile> files, uint8_t transType, Progress* progress,
              uint32_t& status, BoxProtocol& protocol) {
    StartJob job{1, transType, uint32_t(std::min<size_t>(files.size(), UINT32_MAX)), 0};
    for (const auto& f : files) job.totalSize += f.size;
    RetryBudget budget(link);
    Hello box;
    if (int r = startSend(link, addr, job, budget, status, protocol, box); r != TVK_OK) return r;

    BatchReader reader(std::move(files), progress);
    if (box.features & kFeaturePacked) reader.pack();
    WindowSender tx(reader, addr, link.timers(), (box.features & kFeatureProtected) != 0, limitsOf(box));
    bool needWindow = true;
    Frame f;
    for (;;) {
        // Answers that came too late belong to an earlier turn.
        while (link.poll(f)) {
        }
        Frame ackReq = control(addr, FrameType::AckReq);
        ackReq.seq = tx.lastPollSeq();
        auto windowStart = std::max(Clock::now(), link.lineIdleAt());
        Got g = needWindow ? tx.sendWindow(link) : link.send(ackReq);
        if (g == Got::Stopped) return stopped(link, addr);
        if (g == Got::Fatal) return failed(status, TVK_ES_FATAL);
        // A line (or relay) a little slower than its nominal rate delivers a
        // long window late: allow an eighth of the window's line time.
        auto deadline =
            link.answerDeadline(kAckLen) + (link.lineIdleAt() - windowStart) / 8 + budget.retrySpacing();
        g = awaitAck(link, addr, tx, deadline, f);
        if (g == Got::Stopped) return stopped(link, addr);
        if (g == Got::Fatal) return failed(status, TVK_ES_FATAL);
        if (g == Got::Frame) budget.heard();
        if (g == Got::Frame && f.type == FrameType::Abort) return failed(status, TVK_ES_TRANSFER | reader.status());
        // A REJECT: the box has no job any more (it gave it up).
        if (g == Got::Frame && f.type == FrameType::Reject)
            return failed(status, TVK_ES_PROTOCOL | TVK_ES_TRANSFER | reader.status(), TVK_EPROTO);
        AckInfo ack;
        if (g == Got::Timeout || !decodeAck(f.payload, ack)) {
            needWindow = false;
            if (!budget.miss()) return failed(status, TVK_ES_TIMEOUT | reader.status(), TVK_ETIMEOUT);
            continue;
        }
        // The box could not store a file: the job is over for both sides, so
        // it drops its partial file now rather than at its watchdog.
        if (ack.flags & kAckFailed) {
            link.send(control(addr, FrameType::Abort), true);
            return failed(status, TVK_ES_TRANSFER | reader.status());
        }
        if (tx.applyAck(ack)) budget.progress();
        else if (!budget.miss()) return failed(status, TVK_ES_TRANSFER | reader.status());
        if (tx.finished()) {
            link.report("sent " + std::to_string(reader.filesSent()) + " files in " +
                        std::to_string(tx.stats().windows) + " windows, " + std::to_string(tx.stats().framesSent) +
                        " frames, " + std::to_string(tx.stats().framesResent) + " resent");
            status |= reader.status();
            return reader.status() ? TVK_EFAIL : TVK_OK;
        }
        needWindow = true;
    }
}

bool releaseBox(Link& link, uint8_t addr, bool hurried) {
    if (hurried) {
        if (link.send(control(addr, FrameType::Disc)) != Got::Frame) return false;
        Frame f;
        return awaitFrom(link, addr, link.answerDeadline(0), f, {FrameType::Ua}, [](const Frame&) { return true; },
                         Clock::now() + kHurriedRelease) == Got::Frame;
    }
    for (int attempt = 0; attempt <= link.timers().retries; ++attempt) {
        if (link.send(control(addr, FrameType::Disc)) != Got::Frame) return false;
        Frame f;
        Got g = awaitFrom(link, addr, link.answerDeadline(0), f, {FrameType::Ua});
        if (g == Got::Frame) return true;
        if (g != Got::Timeout) return false;
    }
    return false;
}

}  // namespace tvk
