// File receive, and the lookups the receive and transmit jobs share.
#include <optional>

#include "appendjob.h"
#include "comm.h"
#include "commint.h"
#include "declar.h"
#include "hostpcIni.h"
#include "jobchecks.h"

namespace quendril {

namespace {

// IDs compare the way the library pads them: the first six bytes, blanks
// after a shorter one.
std::string paddedId(const std::string& id) { return fitWidth(id, TVK_ID_LEN); }

int16_t outcomeOf(int16_t result) {
    if (result == TVK_ESTOPPED || stopRequested) return kOutcomeStop;
    return result < 0 ? kOutcomeFailed : kOutcomeDone;
}

int16_t receiveInto(const std::string& dir, CommInfo& entry) {
    std::vector<char> buf = textBuffer(dir);
    return outcomeOf(tvk().filerecv(buf.data(), &entry));
}

}  // namespace

int16_t findHtIndex(const std::string& id) {
    const int16_t n = htIdEntries();
    const std::string wanted = paddedId(id);
    for (int16_t i = 0; i < n; ++i) {
        if (paddedId(HtIdTable[static_cast<std::size_t>(i)].htId) == wanted) return i;
    }
    for (int16_t i = 0; i < n; ++i) {
        if (HtIdTable[static_cast<std::size_t>(i)].htId == kWildcardId) return i;
    }
    return n;
}

std::string getJobDirectory(const CommInfo& info, int16_t htIndex) {
    static const HtIdEntry noEntry{};
    const HtIdEntry& entry = htIndex >= 0 && htIndex < htIdEntries()
                                 ? HtIdTable[static_cast<std::size_t>(htIndex)]
                                 : noEntry;
    if (info.transDir == TVK_DIR_TO_PC) return entry.recvDir.empty() ? EnvSettings.recvDir : entry.recvDir;
    if (info.transType == TVK_TYPE_APPL) return EnvSettings.apDir;
    return entry.sendDir.empty() ? EnvSettings.sendDir : entry.sendDir;
}

int16_t receiveFile(int16_t index) {
    CommInfo& entry = commInfoList[static_cast<std::size_t>(index)];
    const std::string id = htIdText(entry);
    const std::string dir = getJobDirectory(entry, findHtIndex(id));
    if (!EnvSettings.appendMode) {
        JobChecks checks(dir, nullptr);
        return receiveInto(dir, entry);
    }
    std::optional<AppendJob> job = AppendJob::begin(id, dir);
    if (!job) return kOutcomeFailed;
    int16_t outcome = kOutcomeDone;
    {
        JobChecks checks(dir, &*job);
        outcome = receiveInto(job->dir(), entry);
    }
    // Until the commit the terminal keeps its files and sends them again.
    if (!job->committed()) {
        job->discard();
        return outcome;
    }
    // The terminal was told: its files must reach dir, now or, after a stop,
    // at the next start or run.
    if (outcome != kOutcomeStop) job->append();
    return outcome;
}

}  // namespace quendril
