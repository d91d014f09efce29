// What the program lets the library send or store: the library asks, file
// by file, while a job runs (tvk_setcheck).
#pragma once

#include <cstdint>
#include <string>

namespace quendril {

class AppendJob;

// The program's own files as seen from one directory.
class ProtectedNames {
public:
    explicit ProtectedNames(const std::string& dir);
    // True when a file called name there is one of the program's own (letter
    // case ignored): hostpc.ini, TEMP and any name beginning with '.' in the
    // working folder, the terminal ID file where it lives, and a job
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
    explicit JobChecks(const std::string& sendDir);
    // A receive whose files belong in destDir. In append mode job receives
    // them first; no name is stored whose namesake in destDir could not be
    // appended to, and the terminal is told only once job's commit is on disk.
    JobChecks(const std::string& destDir, AppendJob* job);
    ~JobChecks();
    JobChecks(const JobChecks&) = delete;
    JobChecks& operator=(const JobChecks&) = delete;

private:
    static int answer(void* user, int32_t what, const char* name);
    bool allows(int32_t what, const std::string& name);

    std::string dir_;
    ProtectedNames protected_;
    AppendJob* job_ = nullptr;
};

}  // namespace quendril
