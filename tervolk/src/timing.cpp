#include "timing.h"

#include <algorithm>

#include "frame.h"
#include "transfer.h"

namespace tvk {

namespace {

// Characters the line carries in the given time.
size_t charsIn(const LineTimers& t, Clock::duration d) {
    double chars = std::chrono::duration<double>(d).count() * double(t.bitsPerSecond) / double(t.bitsPerChar);
    return chars > 0 ? size_t(chars) : 0;
}

}  // namespace

Clock::duration lineTime(const LineTimers& t, size_t chars) {
    double sec = double(chars) * double(t.bitsPerChar) / double(t.bitsPerSecond);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(sec));
}

Clock::duration largestFrameTime(const LineTimers& t) {
    // With a leading delimiter after a silence.
    return lineTime(t, encodedLength(kMaxPayload, t.sevenBits) + 1);
}

Clock::time_point answerDeadline(const LineTimers& t, Clock::time_point now, Clock::time_point lineIdle,
                                 size_t answerPayload) {
    auto start = std::max(now, lineIdle);
    auto outstanding = lineIdle > now ? (lineIdle - now) / 16 : Clock::duration{};
    auto answer = lineTime(t, encodedLength(answerPayload, t.sevenBits) + 1);
    return start + outstanding + answer + answer / 4 + Ms(t.responseMs);
}

Clock::time_point quietSince(const LineTimers& t, Clock::time_point lineIdle, Clock::time_point lastValid,
                             Clock::time_point lastInput) {
    auto arriving = std::min(lastInput, lastValid + largestFrameTime(t));
    return std::max({lineIdle, lastValid, arriving});
}

Clock::time_point progressDeadline(const LineTimers& t, Clock::time_point lineIdle, Clock::time_point lastValid,
                                   Clock::time_point lastInput) {
    return quietSince(t, lineIdle, lastValid, lastInput) + Ms(t.progressMs);
}

size_t frameBytesFor(const LineTimers& t) {
    // The largest payload whose whole frame, framing and delimiter
    // included, crosses the line within kFrameLineTime.
    const size_t chars = charsIn(t, kFrameLineTime);
    size_t n = std::min(chars, kFrameMax);
    while (n > kFrameMin && encodedLength(n, t.sevenBits) + 1 > chars)
        n -= std::min(n - kFrameMin, encodedLength(n, t.sevenBits) + 1 - chars);
    return std::max(n, kFrameMin);
}

size_t windowBytesFor(const LineTimers& t) {
    size_t frame = frameBytesFor(t);
    auto frameTime = lineTime(t, encodedLength(frame, t.sevenBits) + 1);
    auto frames = std::max<Clock::rep>(kWindowLineTime / frameTime, 1);
    return std::min(size_t(frames) * frame, kWindowBytesMax);
}

}  // namespace tvk
