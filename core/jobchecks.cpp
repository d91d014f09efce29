#include "jobchecks.h"

#include <filesystem>
#include <system_error>

#include "tvktable.h"
#include "appendjob.h"
#include "commint.h"
#include "runlog.h"

namespace quendril {

namespace fs = std::filesystem;

namespace {

bool sameDirectory(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a.empty() ? "." : a, b.empty() ? "." : b, ec);
}


}  // namespace

ProtectedNames::ProtectedNames(const std::string& dir, const std::string& tempDir, const Settings& settings) {
    // The working folder holds hostpc.ini and TEMP.
    const fs::path work = fs::path(tempDir).parent_path();
    workingFolder_ = sameDirectory(dir, work);
    tempFolder_ = sameDirectory(dir, tempDir);
    fs::path idFile = settings.htIdFile;
    if (idFile.is_relative()) idFile = work / idFile;
    if (!settings.htIdFile.empty() && sameDirectory(dir, idFile.parent_path())) {
        idFileName_ = upperName(idFile.filename().string());
    }
}

bool ProtectedNames::covers(const std::string& name) const {
    const std::string upper = upperName(name);
    static const std::string kLog = upperName(kRunLogName);
    if (workingFolder_ && (name.starts_with('.') || upper == upperName(kIniFileName) || upper == "TEMP" ||
                           upper == kLog || upper == kLog + ".1")) {
        return true;
    }
    if (!idFileName_.empty() && upper == idFileName_) return true;
    return tempFolder_ && isJobDirName(name);
}

JobChecks::JobChecks(const TvkTable& tvk, const ProtectedNames& own) : tvk_(tvk), protected_(own) {
    tvk_.setcheck(&JobChecks::answer, this);
}

JobChecks::JobChecks(const TvkTable& tvk, const ProtectedNames& own, const std::string& destDir, AppendJob* job)
    : tvk_(tvk), dir_(destDir), protected_(own), job_(job) {
    tvk_.setcheck(&JobChecks::answer, this);
}

JobChecks::~JobChecks() { tvk_.setcheck(nullptr, nullptr); }

int JobChecks::answer(void* user, int32_t what, const char* name) {
    return static_cast<JobChecks*>(user)->allows(what, name ? name : "") ? 1 : 0;
}

bool JobChecks::allows(int32_t what, const std::string& name) {
    switch (what) {
    case TVK_CHECK_SEND:
        return !protected_.covers(name);
    case TVK_CHECK_STORE:
        return !protected_.covers(name) && (!job_ || appendTargetUsable(dir_, name));
    case TVK_CHECK_COMMIT:
        return !job_ || job_->commit();
    default:
        return true;
    }
}

}  // namespace quendril
