// A box's side fed whatever frames a master might send: receive jobs store
// into "in", send jobs read "out"; the jail's rules hold after each input.
#include "fuzzline.h"
#include "station.h"

using fuzzline::require;
namespace {
// Takes every frame the box writes; the box never waits for room.
class SinkPort : public tvk::Port {
public:
    long readSome(uint8_t*, size_t) override { return 0; }
    long writeSome(const uint8_t*, size_t n) override { return long(n); }
    int wait(bool wantWrite, int) override { return wantWrite ? tvk::kWritable : 0; }
};

class FuzzTerminal : public tvk::Terminal {
public:
    explicit FuzzTerminal(const fuzzline::Jail& jail) : jail_(jail) {}
    std::optional<tvk::Record> answerPoll(bool& idle) override { return idle = true, tvk::Record{}; }
    std::optional<std::vector<tvk::SourceFile>> filesToSend() override {
        bool ok = false;
        auto files = tvk::listSendFiles(jail_.out(), ok);
        return require(ok, "the files to send cannot be listed"), files;
    }
    std::optional<std::string> receiveDir(const tvk::StartJob&) override { return jail_.in(); }
    void jobEnded(bool, size_t, uint64_t) override {}
private:
    const fuzzline::Jail& jail_;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzline::runInJail(data, size, 1, [](uint8_t, bool seven, const auto& records, const auto& jail) {
        SinkPort port;
        tvk::Link link(port, tvk::LineTimers{100000000, 10, seven, 50, 3000, 3});
        FuzzTerminal terminal(jail);
        tvk::BoxStation station(1, terminal);
        link.setBoxSide(true);
        // The box's link drops characters that make no frame, and echoes.
        for (const auto& r : records)
            if (!r.raw && !r.echo) station.handle(link, r.frame);
    });
}
