#include "jobchecks.h"

#include <filesystem>
#include <system_error>

#include "tvktable.h"
#include "appendjob.h"
#include "commint.h"
#include "declar.h"
#include "hostpcIni.h"

namespace quendril {

namespace fs = std::filesystem;

namespace {

bool sameDirectory(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::equivalent(a.empty() ? "." : a, b.empty() ? "." : b, ec);
}

// The folder the program was started in: where hostpc.ini and TEMP live.
fs::path workingFolder() {
    std::error_code ec;
    return tempDir.empty() ? fs::current_path(ec) : fs::path(tempDir).parent_path();
}

}  // namespace

ProtectedNames::ProtectedNames(const std::string& dir) {
    const fs::path work = workingFolder();
    workingFolder_ = sameDirectory(dir, work);
    tempFolder_ = !tempDir.empty() && sameDirectory(dir, tempDir);
    fs::path idFile = EnvSettings.htIdFile;
    if (idFile.is_relative()) idFile = work / idFile;
    if (!EnvSettings.htIdFile.empty() && sameDirectory(dir, idFile.parent_path())) {
        idFileName_ = upperName(idFile.filename().string());
    }
}

bool ProtectedNames::covers(const std::string& name) const {
    const std::string upper = upperName(name);
    if (workingFolder_ && (name.starts_with('.') || upper == upperName(kIniFileName) || upper == "TEMP")) return true;
    if (!idFileName_.empty() && upper == idFileName_) return true;
    return tempFolder_ && isJobDirName(name);
}

JobChecks::JobChecks(const std::string& sendDir) : dir_(sendDir), protected_(sendDir) {
    tvk().setcheck(&JobChecks::answer, this);
}

JobChecks::JobChecks(const std::string& destDir, AppendJob* job) : dir_(destDir), protected_(destDir), job_(job) {
    tvk().setcheck(&JobChecks::answer, this);
}

JobChecks::~JobChecks() { tvk().setcheck(nullptr, nullptr); }

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
