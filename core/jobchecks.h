// What the program lets the library send or store: the library asks, file
// by file, while a job runs (tvk_setcheck).
#pragma once

#include <cstdint>
#include <string>

#include "settings.h"
#include "tvktable.h"

namespace quendril {

class AppendJob;

// The program's own files as seen from one directory.
class ProtectedNames {
public:
    // tempDir is the run's temporary directory, inside the working folder.
    ProtectedNames(const std::string& dir, const std::string& tempDir, const Settings& settings);
    // True when a file called name there is one of the program's own (letter
    // case ignored): hostpc.ini, TEMP, the run log and its old copy, and any
    // name beginning with '.' in the working folder, the terminal ID file where it lives, and a job
    // directory or its companion in TEMP.
    bool covers(const std::string& name) const;

private:
    bool workingFolder_ = false;
    bool tempFolder_ = false;
    std::string idFileName_;  // upper-cased; empty when the ID file is elsewhere
};

// Installs the answers for one job for as long as it lives.
class JobChecks {
public:
    // A send from dir: the program's own files stay out.
    JobChecks(const TvkTable& tvk, const ProtectedNames& own);
    // A receive whose files belong in destDir. In append mode job receives
    // them first; no name is stored whose namesake in destDir could not be
    // appended to, and the terminal is told only once job's commit is on disk.
    JobChecks(const TvkTable& tvk, const ProtectedNames& own, const std::string& destDir, AppendJob* job);
    ~JobChecks();
    JobChecks(const JobChecks&) = delete;
    JobChecks& operator=(const JobChecks&) = delete;

private:
    static int answer(void* user, int32_t what, const char* name);
    bool allows(int32_t what, const std::string& name);

    const TvkTable& tvk_;
    std::string dir_;
    ProtectedNames protected_;
    AppendJob* job_ = nullptr;
};

}  // namespace quendril
