// Polling: register the terminal IDs, poll until terminals answer, read
// their records; the single re-poll after an AP install.
#include <algorithm>
#include <chrono>

#include "comm.h"
#include "commint.h"
#include "declar.h"
#include "hostpcIni.h"
#include "runview.h"

namespace quendril {

namespace {

MonotonicNow repollClock = nullptr;

std::chrono::steady_clock::time_point repollNow() {
    return repollClock ? repollClock() : std::chrono::steady_clock::now();
}

int16_t addId(const std::string& id) {
    std::vector<char> buf = textBuffer(id);
    return tvk().idtbladd(buf.data());
}

void registerIds() {
    tvk().idtblclr();
    const int16_t n = htIdEntries();
    if (n == 0) {
        addId(kWildcardId);
        return;
    }
    for (int16_t i = 0; i < n; ++i) addId(HtIdTable[static_cast<std::size_t>(i)].htId);
}

// One poll call, then the window gets its events (Cancel among them).
int16_t pollOnce() {
    int32_t mode = 1;
    const int16_t r = tvk().polling(&mode, ioBoxCount());
    runView().yieldEvents();
    return r;
}

int16_t readRecord(int16_t i) {
    CommInfo* rec = &commInfoList[static_cast<std::size_t>(i)];
    return i == 0 ? tvk().getcinffirst(rec) : tvk().getcinfnext(rec);
}

}  // namespace

int32_t ioBoxCount() { return numericValue(EnvSettings.ioBoxCount); }

void setRepollClock(MonotonicNow now) { repollClock = now; }

int16_t pollTerminals(int16_t& count) {
    registerIds();
    int16_t r = 0;
    do {
        r = pollOnce();
    } while (r == 0);
    if (r == TVK_ESTOPPED) return kOutcomeStop;
    // A poll fails only when the line itself is gone: polling on would spin.
    if (r < 0) return kOutcomeFailed;

    count = r;
    commInfoList.assign(static_cast<std::size_t>(r), CommInfo{});
    runView().dispHTID(0, std::string(), kHtWaiting);
    int16_t last = 0;
    for (int16_t i = 0; i < r; ++i) {
        last = readRecord(i);
        const CommInfo& rec = commInfoList[static_cast<std::size_t>(i)];
        if (rec.transDir == TVK_DIR_END || last == TVK_ESTOPPED) return kOutcomeStop;
        if (i < kTableCells) runView().dispHTID(i, htIdText(rec), kHtWaiting);
    }
    return last == 0 || last == TVK_ENOMORE ? kOutcomeDone : kOutcomeFailed;
}

int16_t repollAfterInstall(int16_t index) {
    tvk().idtblclr();
    // A refused registration still waits for the terminal's answer.
    int16_t r = std::max<int16_t>(addId(htIdText(commInfoList[static_cast<std::size_t>(index)])), 0);
    const auto windowEnd = repollNow() + std::chrono::seconds(1);
    // The library reports a stop once, so a stop ends the wait at once:
    // polling on would swallow the user's Cancel. A failed poll ends it too;
    // the run's next poll finds the line gone.
    while (repollNow() < windowEnd && r == 0) r = pollOnce();
    if (r == TVK_ESTOPPED) return kOutcomeStop;

    CommInfo info{};
    tvk().getcinffirst(&info);
    if (info.transDir == TVK_DIR_END) tvk().disconnect(0, &info);
    return kOutcomeDone;
}

}  // namespace quendril
