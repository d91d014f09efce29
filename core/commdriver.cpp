// The Execute run: open the line, polling passes, the jobs, close the line.
#include <string>

#include "appendjob.h"
#include "comm.h"
#include "commint.h"
#include "declar.h"
#include "hostpcIni.h"
#include "messages.h"
#include "runview.h"

namespace quendril {

std::vector<CommInfo> commInfoList;

namespace {

inline constexpr int16_t kStatusPolling = 0;
inline constexpr int16_t kStatusTransmitting = 1;
inline constexpr int16_t kIconCaptionPolling = 1;

void showCell(int16_t i, const std::string& id, int16_t state) {
    if (i < kTableCells) runView().dispHTID(i, id, state);
}

bool asksForAJob(const CommInfo& info) { return info.transDir == TVK_DIR_TO_PC || info.transDir == TVK_DIR_TO_HT; }

// Runs the job terminal i asks for. A record that asks for neither
// direction breaks the protocol: the terminal's own error end.
int16_t runJob(int16_t i, const std::string& id) {
    const CommInfo& info = commInfoList[static_cast<std::size_t>(i)];
    if (info.transDir == TVK_DIR_TO_PC) {
        runView().dispStatus(kStatusTransmitting, kJobReceive, id);
        return receiveFile(i);
    }
    if (info.transDir == TVK_DIR_TO_HT) {
        const int16_t kind = info.transType == TVK_TYPE_APPL ? kJobApInstall : kJobTransmit;
        runView().dispStatus(kStatusTransmitting, kind, id);
        return transmitFile(i);
    }
    return kOutcomeFailed;
}

// Serves terminals 0..count-1 in order; true when a job asked to stop the
// run. failed is set when a job failed.
bool serveTerminals(int16_t count, bool& failed) {
    for (int16_t i = 0; i < count; ++i) {
        runView().writeScale(0);
        runView().commInfoOn();
        const CommInfo& info = commInfoList[static_cast<std::size_t>(i)];
        std::string id = htIdText(info);
        const int16_t outcome = runJob(i, id);
        if (outcome == kOutcomeStop) return true;
        failed = failed || outcome == kOutcomeFailed;
        showCell(i, id, outcome == kOutcomeFailed ? kHtErrorEnd : kHtDone);
        runView().dispErrStat(id, asksForAJob(info) ? tvk().geterrinf() : int16_t{TVK_ES_PROTOCOL});
        runView().hideScalePanel();
    }
    return false;
}

std::string portName() { return "COM" + std::to_string(numericValue(EnvSettings.comPort)); }

// The line is gone (or its records cannot be read): the error line names
// the port and what the library saw.
void showLineFailure() {
    const int16_t word = tvk().geterrinf();
    std::string port = portName();
    runView().dispErrStat(port, word != 0 ? word : int16_t{TVK_ES_FATAL});
}

void reportPending(const std::vector<PendingJob>& jobs) {
    for (const PendingJob& job : jobs) runView().dispPending(job);
}

}  // namespace

RunEnd commExecute() {
    stopRequested = false;
    CommInfo blankInfo{};
    readIni();
    if (!tempDir.empty()) reportPending(resumePendingAppends(tempDir));
    if (commOpen() != 0) return RunEnd::LineFailed;
    bool failed = false;
    RunEnd end = RunEnd::AllDone;
    int16_t count = 0;
    for (;;) {
        runView().dispStatus(kStatusPolling, 0, std::string());
        runView().setIconCaption(kIconCaptionPolling);
        const int16_t outcome = pollTerminals(count);
        if (outcome == kOutcomeFailed) {
            showLineFailure();
            end = RunEnd::LineFailed;
        }
        if (outcome != kOutcomeDone) break;
        runView().hideErrorPanel();
        const bool stopRun = serveTerminals(count, failed);
        runView().hideScalePanel();
        tvk().disconnect(1, &blankInfo);
        if (stopRun) break;
    }
    tvk().disconnect(1, &blankInfo);
    tvk().close();
    if (end == RunEnd::AllDone && failed) end = RunEnd::JobFailed;
    return end;
}

OpenParam makeOpenParam() {
    OpenParam p{};
    p.baudCode = numericValue(EnvSettings.baudCode);
    p.sevenBits = numericValue(EnvSettings.dataLength) == 8 ? 0 : 1;
    p.parityCode = numericValue(EnvSettings.parityCode);
    p.stopBits = numericValue(EnvSettings.stopBits);
    p.lineParamA = numericValue(EnvSettings.lineParamA);
    p.lineParamB = numericValue(EnvSettings.lineParamB);
    p.lineParamC = numericValue(EnvSettings.lineParamC);
    return p;
}

int16_t commOpen() {
    // The library may keep a reference to the record after tvk_open, so it
    // lives as long as the program.
    static OpenParam openParam{};
    openParam = makeOpenParam();
    if (tvk().open(numericValue(EnvSettings.comPort), &openParam) >= 0) return 0;
    dispAppErr(kAppErrOpen, portName());
    return 1;
}

void commClose() {
    CommInfo blank{};
    tvk().disconnect(1, &blank);
    tvk().close();
}

}  // namespace quendril
