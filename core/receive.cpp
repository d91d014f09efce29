// File receive, and the lookups the receive and transmit jobs share.
#include <optional>

#include "appendjob.h"
#include "jobchecks.h"
#include "run.h"

namespace quendril {

namespace {

// IDs compare the way the library pads them: the first six bytes, blanks
// after a shorter one.
std::string paddedId(const std::string& id) { return fitWidth(id, TVK_ID_LEN); }

int16_t outcomeOf(const Run& run, int16_t result) {
    if (result == TVK_ESTOPPED || run.stopping()) return kOutcomeStop;
    return result < 0 ? kOutcomeFailed : kOutcomeDone;
}

int16_t receiveInto(Run& run, const std::string& dir, CommInfo& entry) {
    std::vector<char> buf = textBuffer(dir);
    return outcomeOf(run, run.tvk.filerecv(buf.data(), &entry));
}

}  // namespace

int16_t findHtIndex(const TerminalTable& terminals, const std::string& id) {
    const auto n = static_cast<int16_t>(terminals.size());
    const std::string wanted = paddedId(id);
    for (int16_t i = 0; i < n; ++i) {
        if (paddedId(terminals[static_cast<std::size_t>(i)].htId) == wanted) return i;
    }
    for (int16_t i = 0; i < n; ++i) {
        if (terminals[static_cast<std::size_t>(i)].htId == kWildcardId) return i;
    }
    return n;
}

std::string getJobDirectory(const Settings& settings, const TerminalTable& terminals, const CommInfo& info,
                            int16_t htIndex) {
    static const Terminal noEntry{};
    const Terminal& entry = htIndex >= 0 && static_cast<std::size_t>(htIndex) < terminals.size()
                                ? terminals[static_cast<std::size_t>(htIndex)]
                                : noEntry;
    if (info.transDir == TVK_DIR_TO_PC) return entry.recvDir.empty() ? settings.recvDir : entry.recvDir;
    if (info.transType == TVK_TYPE_APPL) return settings.apDir;
    return entry.sendDir.empty() ? settings.sendDir : entry.sendDir;
}

int16_t receiveFile(Run& run, int16_t index) {
    CommInfo& entry = run.records[static_cast<std::size_t>(index)];
    const std::string id = htIdText(entry);
    const std::string dir = getJobDirectory(run.settings, run.terminals, entry, findHtIndex(run.terminals, id));
    const ProtectedNames own(dir, run.tempDir, run.settings);
    if (!run.settings.appendMode) {
        JobChecks checks(run.tvk, own, dir, nullptr);
        return receiveInto(run, dir, entry);
    }
    std::optional<AppendJob> job = AppendJob::begin(run.files, run.tempDir, id, dir);
    if (!job) return kOutcomeFailed;
    int16_t outcome = kOutcomeDone;
    {
        JobChecks checks(run.tvk, own, dir, &*job);
        outcome = receiveInto(run, job->dir(), entry);
    }
    // Until the commit the terminal keeps its files and sends them again.
    if (!job->committed()) {
        job->discard();
        return outcome;
    }
    // The terminal was told: its files must reach dir, now or, after a stop,
    // at the next start or run.
    if (outcome != kOutcomeStop && !job->append(run.files, run.stop) && run.stopping()) return kOutcomeStop;
    return outcome;
}

}  // namespace quendril
