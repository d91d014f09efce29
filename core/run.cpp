// The Execute run: open the line, polling passes, the jobs, close the line.
#include "run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "appendjob.h"
#include "catalogue.h"
#include "messages.h"

namespace quendril {

namespace {

inline constexpr int16_t kStatusPolling = 0;
inline constexpr int16_t kStatusTransmitting = 1;
inline constexpr int16_t kIconCaptionPolling = 1;

void showCell(Run& run, int16_t i, const std::string& id, int16_t state) {
    if (i < kTableCells) run.view.dispHTID(i, id, state);
}

bool asksForAJob(const CommInfo& info) { return info.transDir == TVK_DIR_TO_PC || info.transDir == TVK_DIR_TO_HT; }

// Runs the job terminal i asks for. A record that asks for neither
// direction breaks the protocol: the terminal's own error end.
int16_t runJob(Run& run, int16_t i, const std::string& id) {
    const CommInfo& info = run.records[static_cast<std::size_t>(i)];
    if (info.transDir == TVK_DIR_TO_PC) {
        run.view.dispStatus(kStatusTransmitting, kJobReceive, id);
        return receiveFile(run, i);
    }
    if (info.transDir == TVK_DIR_TO_HT) {
        const int16_t kind = info.transType == TVK_TYPE_APPL ? kJobApInstall : kJobTransmit;
        run.view.dispStatus(kStatusTransmitting, kind, id);
        return transmitFile(run, i);
    }
    return kOutcomeFailed;
}

// The run log lives in the working folder, beside TEMP.
std::string workFolder(const Run& run) { return std::filesystem::path(run.tempDir).parent_path().string(); }

void logFailure(const Run& run, const Failure& failure) { logRunFailure(workFolder(run), failure); }

const char* resultOf(int16_t outcome) {
    switch (outcome) {
    case kOutcomeDone: return "done";
    case kOutcomeStop: return "stopped";
    default: return "failed";
    }
}

// What the job did, for the run's table and the log.
void recordJob(Run& run, const CommInfo& info, int16_t kind, std::chrono::system_clock::time_point started,
               std::chrono::steady_clock::time_point began, int16_t outcome, int16_t word) {
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    JobRecord job{started,
                  info.aux2,
                  htIdText(info),
                  loadResString(140 + kind + langOffset),
                  static_cast<int>(info.fileCount),
                  static_cast<std::uint64_t>(info.totalSize < 0 ? 0 : info.totalSize),
                  took.count(),
                  resultOf(outcome),
                  static_cast<std::uint16_t>(word),
                  statusText(word)};
    appendToRunLog(workFolder(run), job);
    run.jobs.push_back(std::move(job));
}

int16_t jobKindOf(const CommInfo& info) {
    if (info.transDir == TVK_DIR_TO_PC) return kJobReceive;
    return info.transType == TVK_TYPE_APPL ? kJobApInstall : kJobTransmit;
}

// Serves terminals 0..count-1 in order; true when a job asked to stop the
// run or a failure ends the program. failed is set when a job failed.
bool serveTerminals(Run& run, int16_t count, bool& failed) {
    for (int16_t i = 0; i < count; ++i) {
        run.view.writeScale(0);
        run.view.commInfoOn();
        const CommInfo& info = run.records[static_cast<std::size_t>(i)];
        const std::string id = htIdText(info);
        const auto started = std::chrono::system_clock::now();
        const auto began = std::chrono::steady_clock::now();
        const int16_t outcome = runJob(run, i, id);
        const int16_t word = asksForAJob(info) ? run.tvk.geterrinf() : int16_t{TVK_ES_PROTOCOL};
        recordJob(run, info, jobKindOf(info), started, began, outcome, word);
        if (outcome == kOutcomeStop || run.files.ending()) return true;
        failed = failed || outcome == kOutcomeFailed;
        showCell(run, i, id, outcome == kOutcomeFailed ? kHtErrorEnd : kHtDone);
        run.view.dispErrStat(id, word);
        run.view.hideScalePanel();
    }
    return false;
}

std::string portName(const Settings& settings) { return "COM" + std::to_string(numericValue(settings.comPort)); }

// The line is gone (or its records cannot be read): the error line names
// the port and what the library saw.
void showLineFailure(Run& run) {
    const int16_t word = run.tvk.geterrinf();
    run.view.dispErrStat(portName(run.settings), word != 0 ? word : int16_t{TVK_ES_FATAL});
}

void reportPending(Run& run) {
    for (const PendingJob& job : resumePendingAppends(run.tempDir, &run.stop)) run.view.dispPending(job);
}

// Where port n leads and why it would not open, for standard error and the
// log: the box itself only names the port.
std::string portReason(int32_t n) {
    const char* env = std::getenv(("QUENDRIL_COM" + std::to_string(n)).c_str());
    const std::string path = env && *env ? env : "/dev/ttyS" + std::to_string(n);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return path + ": " + std::strerror(errno);
    if (access(path.c_str(), R_OK | W_OK) != 0) {
        return path + ": " + std::strerror(errno) + " (is the user in the group that owns it, e.g. dialout?)";
    }
    if (!S_ISCHR(st.st_mode)) return path + ": not a serial device";
    return path + ": busy, or not a serial port";
}

bool openLine(Run& run) {
    // The library copies what it needs from the record.
    OpenParam openParam = makeOpenParam(run.settings);
    if (run.tvk.open(numericValue(run.settings.comPort), &openParam) >= 0) return true;
    const int32_t port = numericValue(run.settings.comPort);
    const Failure failure{FailureKind::App, kAppErrOpen, portName(run.settings), portReason(port), FailureArea::Line};
    run.files.report(failure);
    logFailure(run, failure);
    return false;
}

void closeLine(Run& run) {
    CommInfo blank{};
    run.tvk.disconnect(1, &blank);
    run.tvk.close();
}

}  // namespace

void requestStop(Run& run) {
    run.stop = true;
    run.tvk.stopreq();
}

RunEnd execute(Run& run) {
    if (!readSettings(run.files, run.settings)) {
        if (run.files.ending()) logFailure(run, *run.files.ending());
        return RunEnd::SettingsFailed;
    }
    reportPending(run);
    if (run.stopping()) return RunEnd::AllDone;
    if (!openLine(run)) return RunEnd::LineFailed;
    bool failed = false;
    RunEnd end = RunEnd::AllDone;
    int16_t count = 0;
    for (;;) {
        run.view.dispStatus(kStatusPolling, 0, std::string());
        run.view.setIconCaption(kIconCaptionPolling);
        const int16_t outcome = pollTerminals(run, count);
        if (outcome == kOutcomeFailed) {
            showLineFailure(run);
            end = RunEnd::LineFailed;
        }
        if (outcome != kOutcomeDone) break;
        run.view.hideErrorPanel();
        const bool stopRun = serveTerminals(run, count, failed);
        run.view.hideScalePanel();
        CommInfo blank{};
        run.tvk.disconnect(1, &blank);
        if (stopRun) break;
    }
    closeLine(run);
    if (run.files.ending()) {
        logFailure(run, *run.files.ending());
        return RunEnd::FileFailed;
    }
    if (end == RunEnd::AllDone && failed) end = RunEnd::JobFailed;
    return end;
}

void logRunFailure(const std::string& workFolder, const Failure& failure) {
    appendToRunLog(workFolder,
                   {std::chrono::system_clock::now(), 0, "", "Run", 0, 0, 0, "failed", 0, failureLine(failure)});
}

OpenParam makeOpenParam(const Settings& settings) {
    OpenParam p{};
    p.baudCode = numericValue(settings.baudCode);
    p.sevenBits = numericValue(settings.dataLength) == 8 ? 0 : 1;
    p.parityCode = numericValue(settings.parityCode);
    p.stopBits = numericValue(settings.stopBits);
    p.lineParamA = numericValue(settings.lineParamA);
    p.lineParamB = numericValue(settings.lineParamB);
    p.lineParamC = numericValue(settings.lineParamC);
    return p;
}

}  // namespace quendril
