// One Execute run as a value: what it reads, what it draws on, whom it asks,
// its stop request, and what it did. Opening the line, polling passes, the
// jobs, closing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "commint.h"
#include "filehelpers.h"
#include "runlog.h"
#include "runview.h"
#include "settings.h"
#include "tvktable.h"

namespace quendril {

// How a run ended: the exit status of an unattended run.
enum class RunEnd : int {
    AllDone = 0,         // every job done (or the run was stopped)
    JobFailed = 1,       // some job failed
    SettingsFailed = 2,  // hostpc.ini or the terminal ID file could not be used
    LineFailed = 3,      // the line could not be opened, or was lost
    FileFailed = 4,      // a local file failure ended the program
};

// Clock of the re-poll window after an AP install: monotonic, so a change of
// the time of day never stretches or skips the window. nullptr is
// std::chrono::steady_clock; tests pass a clock they move themselves.
using MonotonicNow = std::chrono::steady_clock::time_point (*)();

struct Run {
    Run(const TvkTable& line, RunView& display, Prompt& prompt, std::string tempFolder)
        : tvk(line), view(display), files(prompt), tempDir(std::move(tempFolder)) {}
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    const TvkTable& tvk;
    RunView& view;
    Files files;
    std::string tempDir;  // working folder + separator + "TEMP"
    Settings settings;    // read afresh by every run
    TerminalTable terminals;
    // Set from any thread (Cancel, closing the window, a signal); the jobs
    // and long copies look at it between steps.
    std::atomic<bool> stop{false};
    MonotonicNow clock = nullptr;
    // One record per terminal connected in the current pass; the index is
    // the terminal's cell in the terminal table.
    std::vector<CommInfo> records;
    // One record per job served, in order; each is also a line of the run
    // log in the working folder.
    std::vector<JobRecord> jobs;

    bool stopping() const { return stop.load(); }
};

// Asks a running run to stop: its job in progress is aborted on the line.
// Safe from any thread.
void requestStop(Run& run);

// The whole run: settings, pending appends, the line, passes until the
// terminals end work or a stop, and the line closed again.
RunEnd execute(Run& run);

OpenParam makeOpenParam(const Settings& settings);

// A failure that ended a run, or kept one from starting, gets a line of its
// own in the run log of workFolder, with the system's reason, so a site
// reading the log sees why nothing was served.
void logRunFailure(const std::string& workFolder, const Failure& failure);

// Polling. A poll or a record reading that fails ends with kOutcomeFailed
// (the line is gone or the library cannot go on).
int16_t pollTerminals(Run& run, int16_t& count);
int16_t repollAfterInstall(Run& run, int16_t index);

// Receive
int16_t findHtIndex(const TerminalTable& terminals, const std::string& id);
std::string getJobDirectory(const Settings& settings, const TerminalTable& terminals, const CommInfo& info,
                            int16_t htIndex);
// In append mode the job receives into a fresh directory inside tempDir
// (appendjob.h): once the terminal has been told its files arrived they are
// appended; until then they are discarded when the job fails, as the
// terminal keeps them and sends them again.
int16_t receiveFile(Run& run, int16_t index);

// Transmit and AP install
// Totals of the files to send; both stop at their field's largest value.
struct TransmitTotals {
    int16_t count = 0;
    int32_t total = 0;
};
int16_t transmitFile(Run& run, int16_t index);
std::string getTransmitFileType(const Settings& settings, const TerminalTable& terminals, int16_t htIndex);
// Where a send job's files come from: srcDir itself for "ALL" and an AP
// install, otherwise a fresh staging directory inside tempDir holding
// upper-cased copies of the selected files. Names beginning with '.' and the
// program's own files are never selected. dir is "" when the user gave up a
// failed copy or the run was stopped.
struct SendSource {
    std::string dir;
    JobDir staging;  // its path is "" when the source itself is sent
};
SendSource stageTransmitFiles(Run& run, const CommInfo& info, const std::string& srcDir, const std::string& fileType);
// The files of dir that a send job carries (the library sends the same).
TransmitTotals countTransmitFiles(Run& run, const CommInfo& info, const std::string& dir);
// Deletes the staging directory and its copies; nothing when the source
// itself was sent.
void removeStagedFiles(SendSource& source);

}  // namespace quendril
