// The PC's side against a box saying whatever the input says: polling,
// receiving into "in", sending "out", releasing. The box's answers come in
// turns, each let through when the PC writes again (half duplex). A job done
// must not have failed a file. As fuzz_flood the last turn never ends (a
// stuck transmitter or a garbage flood): the job must still end in time.
#include <chrono>
#include <deque>
#include "fuzzline.h"
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
    long writeSome(const uint8_t*, size_t n) override { return releaseTurn(), long(n); }
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

// A silent box costs a millisecond or two; against the endless peer only a
// stall of the machine, never the peer, ends a wait.
tvk::LineTimers timers(bool seven) {
    return {100000000, 10, seven, kEndlessPeer ? 100 : 0, kEndlessPeer ? 200 : 3, kEndlessPeer ? 1 : 2};
}

void runJob(uint8_t mode, tvk::Link& link, const fuzzline::Jail& jail) {
    uint32_t status = 0;
    bool ok = false;
    tvk::Record rec;
    if (mode % 4 == 2) (void)tvk::pollBox(link, 1, rec);
    if (mode % 4 == 3) (void)tvk::releaseBox(link, 1);
    if (mode % 4 > 1) return;
    tvk::BoxProtocol protocol;
    int rc = mode % 4 == 0 ? tvk::receiveFiles(link, 1, jail.in(), nullptr, status, protocol)
                           : tvk::sendFiles(link, 1, tvk::listSendFiles(jail.out(), ok), uint8_t(mode >> 2), nullptr,
                                            status, protocol);
    require(mode % 4 == 0 || ok, "the files to send cannot be listed");
    require(rc == TVK_OK || rc == TVK_EFAIL || rc == TVK_ETIMEOUT || rc == TVK_EPROTO || rc == TVK_ESTOPPED,
            "a job gave an unknown result");
    require(rc != TVK_OK || !(status & (TVK_ES_TRANSFER | TVK_ES_FILEOPEN)), "a job done with a failed file");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzline::runInJail(data, size, 0x80, [](uint8_t mode, bool seven, const auto& records, const auto& jail) {
        ScriptPort port(fuzzline::lineTurns(records, seven, true));
        tvk::Link link(port, timers(seven));
        const auto start = std::chrono::steady_clock::now();
        runJob(uint8_t(mode & 0x7F), link, jail);
        require(std::chrono::steady_clock::now() - start < std::chrono::seconds(2), "a job outlived its timers");
    });
}
