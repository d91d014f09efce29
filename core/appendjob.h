// Append mode's received copies on their way into the receiving directory,
// exact under crashes.
//
// A receive job in append mode stores into a fresh directory TEMP/RECVn.
// Beside it, in TEMP:
//   RECVn.recv    written when the job starts: the terminal and the
//                 directory its files belong in;
//   RECVn.job     the same, written and synced when every file is stored,
//                 just before the terminal is told so (the commit): from
//                 then on the copies must reach the receiving directory;
//   RECVn.append  the copy being appended now, its destination and the
//                 destination's length before.
// A job killed before its commit leaves copies the terminal still holds and
// sends again: they are discarded. A committed job's copies are appended at
// the next start or run, to the directory of the terminal they came from; a
// half-done append is cut back to the length noted before and done again.
// So each destination ends with its old bytes and the new ones exactly once,
// or its old bytes and the copy still pending.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "commint.h"

namespace quendril {

class AppendJob {
public:
    // Makes tempDir/RECVn for the files of terminal htId that belong in
    // destDir; nullopt when that failed and the user gave up.
    static std::optional<AppendJob> begin(Files& files, const std::string& tempDir, const std::string& htId,
                                          const std::string& destDir);

    const std::string& dir() const { return job_.path; }
    const std::string& destDir() const { return destDir_; }
    // Writes the commit to disk; false when it could not be written (the
    // terminal must then keep its data).
    bool commit();
    bool committed() const { return committed_; }
    // Appends every copy to its namesake in destDir (any letter case, else
    // the upper-cased name). A failure is reported under the failure rule:
    // Retry tries again, Cancel leaves that copy pending. A stop request cuts
    // the copy being appended back and leaves it and the rest pending, for
    // the next start or run. True when every copy is appended and the job's
    // directory is gone.
    bool append(Files& files, const std::atomic<bool>& stop);
    // Removes the copies of a job that was never committed.
    void discard();

private:
    AppendJob() = default;

    JobDir job_;  // held (locked) while the job lives, so no other start takes it over
    std::string htId_;
    std::string destDir_;
    bool committed_ = false;
};

// Whether a received file called name may be appended in destDir: its
// namesake there is missing or a regular file (never a link, a directory
// or a device).
bool appendTargetUsable(const std::string& destDir, const std::string& name);

// What became of a job found in TEMP at a start or run.
struct PendingJob {
    std::string htId;     // empty when the job does not say (left by an older version)
    std::string destDir;
    std::string jobDir;
    bool appended = false;  // false: the copies are still pending in jobDir
};

// Finishes what earlier runs left in tempFolder: committed jobs are appended
// (without boxes: what fails stays pending), uncommitted ones discarded,
// staging directories removed. Jobs another running program holds are left
// alone. A stop request cuts the copy being appended back and leaves the
// rest pending. Returns the committed or unexplained jobs, appended or not.
std::vector<PendingJob> resumePendingAppends(const std::string& tempFolder, const std::atomic<bool>* stop = nullptr);

}  // namespace quendril
