// A box's side (tvkbox) fed whatever a master might put on the line: receive
// jobs store into "in", send jobs read "out"; the jail's rules hold after
// each input.
#include "boxrig.h"
#include "fuzzline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzline::runInJail(data, size, 1, [](uint8_t, bool seven, const auto& records, const auto& jail) {
        const std::string out = jail.out(), in = jail.in();
        // Time moves on by the turn, so the watchdog may end a job too.
        uint32_t now = 1;
        quendril::test::Box box({.sevenBits = seven, .progressMs = 3000, .sendDir = out.c_str(), .recvDir = in.c_str()},
                                now);
        for (const auto& turn : fuzzline::lineTurns(records, seven, false)) box.feed(turn, now += 700);
    });
}
