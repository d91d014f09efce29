// The Execute run: open the line, polling passes, the jobs, close the line.
#include <string>

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

// Runs the job terminal i asks for; a transDir that is neither direction
// starts nothing and leaves the previous outcome.
int16_t runJob(int16_t i, const std::string& id, int16_t outcome) {
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
    return outcome;
}

// Serves terminals 0..count-1 in order; true when a job asked to stop the run.
bool serveTerminals(int16_t count, int16_t& outcome) {
    for (int16_t i = 0; i < count; ++i) {
        runView().writeScale(0);
        runView().commInfoOn();
        std::string id = htIdText(commInfoList[static_cast<std::size_t>(i)]);
        outcome = runJob(i, id, outcome);
        if (outcome == kOutcomeStop) return true;
        showCell(i, id, outcome == kOutcomeFailed ? kHtErrorEnd : kHtDone);
        runView().dispErrStat(id, tvk().geterrinf());
        runView().hideScalePanel();
    }
    return false;
}

}  // namespace

void commExecute() {
    stopRequested = false;
    CommInfo blankInfo{};
    readIni();
    if (commOpen() != 0) return;
    int16_t outcome = kOutcomeDone;
    int16_t count = 0;
    for (;;) {
        runView().dispStatus(kStatusPolling, 0, std::string());
        runView().setIconCaption(kIconCaptionPolling);
        outcome = pollTerminals(count);
        if (outcome != kOutcomeDone) break;
        runView().hideErrorPanel();
        const bool stopRun = serveTerminals(count, outcome);
        runView().hideScalePanel();
        tvk().disconnect(1, &blankInfo);
        if (stopRun) break;
    }
    tvk().disconnect(1, &blankInfo);
    tvk().close();
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
    const int32_t port = numericValue(EnvSettings.comPort);
    if (tvk().open(port, &openParam) >= 0) return 0;
    dispAppErr(kAppErrOpen, "COM" + std::to_string(port));
    return 1;
}

void commClose() {
    CommInfo blank{};
    tvk().disconnect(1, &blank);
    tvk().close();
}

}  // namespace quendril
