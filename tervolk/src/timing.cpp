#include "timing.h"

#include <algorithm>

#include "frame.h"
#include "transfer.h"

namespace tvk {

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

size_t frameBytesFor(const LineTimers& t) { return tvk_line_frame_cap(t.bitsPerSecond, t.bitsPerChar, t.sevenBits); }

size_t windowBytesFor(const LineTimers& t) { return tvk_line_window_cap(t.bitsPerSecond, t.bitsPerChar, t.sevenBits); }

}  // namespace tvk
