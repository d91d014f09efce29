// Polling: register the terminal IDs, poll until terminals answer, read
// their records; the single re-poll after an AP install.
#include <algorithm>
#include <chrono>

#include "run.h"

namespace quendril {

namespace {

std::chrono::steady_clock::time_point now(const Run& run) {
    return run.clock ? run.clock() : std::chrono::steady_clock::now();
}

int16_t addId(const Run& run, const std::string& id) {
    std::vector<char> buf = textBuffer(id);
    return run.tvk.idtbladd(buf.data());
}

void registerIds(const Run& run) {
    run.tvk.idtblclr();
    if (run.terminals.empty()) {
        addId(run, kWildcardId);
        return;
    }
    for (const Terminal& t : run.terminals) addId(run, t.htId);
}

int16_t pollOnce(const Run& run) {
    int32_t mode = 1;
    return run.tvk.polling(&mode, ioBoxCount(run.settings));
}

int16_t readRecord(Run& run, int16_t i) {
    CommInfo* rec = &run.records[static_cast<std::size_t>(i)];
    return i == 0 ? run.tvk.getcinffirst(rec) : run.tvk.getcinfnext(rec);
}

}  // namespace

int16_t pollTerminals(Run& run, int16_t& count) {
    registerIds(run);
    int16_t r = 0;
    // The stop token too: a stop asked for before the line opened was not
    // yet the library's to see.
    do {
        r = pollOnce(run);
    } while (r == 0 && !run.stopping());
    if (r == TVK_ESTOPPED || run.stopping()) return kOutcomeStop;
    // A poll fails only when the line itself is gone: polling on would spin.
    if (r < 0) return kOutcomeFailed;

    count = r;
    run.records.assign(static_cast<std::size_t>(r), CommInfo{});
    run.view.dispHTID(0, std::string(), kHtWaiting);
    int16_t last = 0;
    for (int16_t i = 0; i < r; ++i) {
        last = readRecord(run, i);
        const CommInfo& rec = run.records[static_cast<std::size_t>(i)];
        if (rec.transDir == TVK_DIR_END || last == TVK_ESTOPPED) return kOutcomeStop;
        if (i < kTableCells) run.view.dispHTID(i, htIdText(rec), kHtWaiting);
    }
    return last == 0 || last == TVK_ENOMORE ? kOutcomeDone : kOutcomeFailed;
}

int16_t repollAfterInstall(Run& run, int16_t index) {
    run.tvk.idtblclr();
    // A refused registration still waits for the terminal's answer.
    int16_t r = std::max<int16_t>(addId(run, htIdText(run.records[static_cast<std::size_t>(index)])), 0);
    const auto windowEnd = now(run) + std::chrono::seconds(1);
    // The library reports a stop once, so a stop ends the wait at once:
    // polling on would swallow the user's Cancel. A failed poll ends it too;
    // the run's next poll finds the line gone.
    while (now(run) < windowEnd && r == 0) r = pollOnce(run);
    if (r == TVK_ESTOPPED) return kOutcomeStop;

    CommInfo info{};
    run.tvk.getcinffirst(&info);
    if (info.transDir == TVK_DIR_END) run.tvk.disconnect(0, &info);
    return kOutcomeDone;
}

}  // namespace quendril
