// The PC's side of the line against a box that says whatever the input
// says: polling, receiving into "in", sending "out", releasing. The box's
// answers come in turns, each let through when the PC writes again, as on
// the half-duplex line. A job reported done must not have failed a file,
// and the same rules for the directories hold as on the box's side.
//
// Built as fuzz_flood (QUENDRIL_ENDLESS_PEER 1), the box's last turn never
// ends: a stuck transmitter or a garbage flood. The job must still end
// within its timers.
#include <chrono>
#include <deque>

#include "check.h"
#include "jail.h"
#include "linescript.h"
#include "master.h"
#include "tervolk.h"

using fuzzline::require;

namespace {

constexpr bool kEndlessPeer = QUENDRIL_ENDLESS_PEER;

class ScriptPort : public tvk::Port {
public:
    explicit ScriptPort(std::vector<std::vector<uint8_t>> turns) : turns_(std::move(turns)) { releaseTurn(); }
    long readSome(uint8_t* buf, size_t cap) override {
        size_t n = std::min(cap, pending_.size());
        std::copy(pending_.begin(), pending_.begin() + long(n), buf);
        pending_.erase(pending_.begin(), pending_.begin() + long(n));
        return long(n);
    }
    long writeSome(const uint8_t*, size_t n) override {
        releaseTurn();
        return long(n);
    }
    // The endless peer's characters arrive while the PC waits, so a read
    // that takes everything available still ends.
    int wait(bool wantWrite, int) override {
        if (kEndlessPeer && pending_.empty() && next_ >= turns_.size() && !turns_.back().empty())
            pending_.insert(pending_.end(), turns_.back().begin(), turns_.back().end());
        return (pending_.empty() ? 0 : tvk::kReadable) | (wantWrite ? tvk::kWritable : 0);
    }

private:
    void releaseTurn() {
        if (next_ < turns_.size()) pending_.insert(pending_.end(), turns_[next_].begin(), turns_[next_].end());
        ++next_;
    }
    std::vector<std::vector<uint8_t>> turns_;
    size_t next_ = 0;
    std::deque<uint8_t> pending_;
};

// Timers short enough that a silent box costs a millisecond or two, with
// room for a few retries. Against the endless peer lineParamA is long
// enough that only a stall of the machine, never the peer, ends a wait.
tvk::LineTimers timers(bool seven) {
    tvk::LineTimers t;
    t.bitsPerSecond = 100000000;
    t.sevenBits = seven;
    t.responseMs = kEndlessPeer ? 100 : 0;
    t.progressMs = kEndlessPeer ? 200 : 3;
    t.retries = kEndlessPeer ? 1 : 2;
    return t;
}

// Far beyond what the timers above allow a job against any peer.
constexpr auto kJobBound = std::chrono::seconds(2);

bool knownResult(int rc) {
    return rc == TVK_OK || rc == TVK_EFAIL || rc == TVK_ETIMEOUT || rc == TVK_EPROTO || rc == TVK_ESTOPPED;
}

void runJob(uint8_t mode, tvk::Link& link, const fuzzline::Jail& jail) {
    uint32_t status = 0;
    switch (mode % 4) {
    case 0: {
        int rc = tvk::receiveFiles(link, 1, jail.in(), nullptr, status);
        require(knownResult(rc), "receive gave an unknown result");
        require(rc != TVK_OK || !(status & (TVK_ES_TRANSFER | TVK_ES_FILEOPEN)), "receive done with a failed file");
        break;
    }
    case 1: {
        bool ok = false;
        auto files = tvk::listSendFiles(jail.out(), ok);
        require(ok, "the files to send cannot be listed");
        int rc = tvk::sendFiles(link, 1, files, uint8_t(mode >> 2), nullptr, status);
        require(knownResult(rc), "send gave an unknown result");
        require(rc != TVK_OK || !(status & (TVK_ES_TRANSFER | TVK_ES_FILEOPEN)), "send done with a failed file");
        break;
    }
    case 2: {
        tvk::Record rec;
        (void)tvk::pollBox(link, 1, rec);
        break;
    }
    default:
        (void)tvk::releaseBox(link, 1);
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzline::runInJail(data, size, 0x80, [](uint8_t mode, bool seven, const auto& records, const auto& jail) {
        ScriptPort port(fuzzline::lineTurns(records, seven, true));
        tvk::Link link(port, timers(seven));
        const auto start = std::chrono::steady_clock::now();
        runJob(uint8_t(mode & 0x7F), link, jail);
        require(std::chrono::steady_clock::now() - start < kJobBound, "a job outlived its timers");
    });
}
