// File-system helpers that report their own failures.
//
// Failure rule (every helper taking a Files): when the operation fails with a
// FileErrNumber n, the Files' prompt shows that failure (messages.h). Retry
// runs the same operation again, without limit; Cancel gives up and the
// helper returns its empty result; OK (any box without Retry) records the
// failure as the one that ends the program (Files::ending) and the helper
// returns its empty result - except existDir, which then only returns false.
// Once a failure ends the program, every later helper gives up at once.
//
// Paths are bytes of the single-byte code page; the separator is the
// platform's ('/' here).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "failure.h"

namespace quendril {

// The failure rule's state for one piece of work: the face it asks, the
// failure that ends the program once one did, and the test seam.
class Files {
public:
    explicit Files(Prompt& prompt, FailureArea area = FailureArea::Files) : prompt_(&prompt), area_(area) {}

    // Runs op under the failure rule, showing path as the extra text. op
    // returns an empty error_code on success. True when op succeeded, false
    // when the user cancelled or the program is to end. Injected faults are
    // taken first.
    bool run(const std::string& path, const std::function<std::error_code()>& op);

    // One attempt of an operation: 0 on success, otherwise its FileErrNumber.
    using Attempt = std::function<int16_t()>;
    enum class OnOk { EndProgram, GiveUp };
    // The failure rule over attempts; an attempt failing with notAFailure
    // counts as success.
    bool underRule(const Attempt& attempt, const std::function<std::string()>& extra, OnOk onOk = OnOk::EndProgram,
                   int16_t notAFailure = 0);

    // Shows failure and, when its box offers no Retry and its rule does not
    // let the program go on, records it as ending the program. Returns the
    // answer.
    BoxAnswer report(Failure failure);

    // The failure that ends the program, once one did.
    const std::optional<Failure>& ending() const { return ending_; }
    Prompt& prompt() const { return *prompt_; }
    FailureArea area() const { return area_; }
    void setArea(FailureArea area) { area_ = area; }

    // Test seam: the next `times` attempts (retries included) fail with
    // number before touching the file system.
    void injectFault(int16_t number, int times = 1) { fault_ = {number, times}; }

private:
    struct Fault {
        int16_t number = 0;
        int times = 0;
    };
    int16_t takeFault();

    Prompt* prompt_;
    FailureArea area_;
    std::optional<Failure> ending_;
    Fault fault_;
};

// The separator appendSeparator appends.
inline constexpr char kPathSeparator = '/';

// Attribute masks of listEntries.
inline constexpr int kMaskNormal = 0;
inline constexpr int kMaskDirectory = 16;

// Appends the separator unless path already ends in it; "" becomes "/".
void appendSeparator(std::string& path);

// A text file open for reading; plays the part of the file number of
// lineInput. Opened and closed within one procedure.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens path for reading (no failure rule: see openInput).
    std::error_code open(const std::string& path);
    void close();
    bool isOpen() const { return file_ != nullptr; }
    // True when no byte is left to read (also when not open).
    bool atEnd();
    // Next byte, or EOF at the end or on a read error (see readError).
    int get();
    // Puts back the byte get() just returned.
    void unget(int c);
    // The error of the last failed read, cleared by the next read.
    std::error_code readError() const { return readError_; }
    const std::string& path() const { return path_; }

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    std::error_code readError_;
};

// Opens path for reading under the failure rule; false when cancelled.
bool openInput(Files& files, InputFile& file, const std::string& path);

// Reads the next line without its line end (CR LF, LF or CR alone) into
// line. Lines may hold NUL bytes and be of any length. At the end of the file
// the read fails with 62 (input past end); a failed read leaves line as it was.
void lineInput(Files& files, InputFile& file, std::string& line);

// Deletes the file, or every normal file matching the wildcard pattern of the
// last path component. A missing file is not a failure.
void killFile(Files& files, const std::string& path);

// Creates the directory; an existing directory is not a failure.
void makeDir(Files& files, const std::string& path);

// The matching names (without directory), sorted by their bytes.
// pathOrPattern is a path, or a directory plus a last component with the
// wildcards '*' and '?' ("*.*" matches every name, with or without a dot;
// wildcards compare letters without regard to case). A path ending in the
// separator lists that directory's entries, and with mask 16 first gives "."
// (the directory itself). Mask 0: normal files only; mask 16: directories
// too. Nothing is hidden on this platform: names beginning with '.' are
// listed like any other. A missing directory gives none without a box; ""
// gives none.
std::vector<std::string> listEntries(Files& files, const std::string& pathOrPattern, int mask);

// True when a listing of path with mask 16 finds an entry (also for a file).
bool existDir(Files& files, const std::string& path);

// True when a listing of path with mask 0 finds an entry.
bool existFile(Files& files, const std::string& path);

// Writes bytes to path so that a crash, a kill or a full disk never leaves a
// half-written file: a new file beside it is written, flushed to disk and
// then renamed over path (over its target when path is a link), keeping the
// old file's permissions. Under the failure rule; false when cancelled, and
// path is then unchanged.
bool writeFileAtomically(Files& files, const std::string& path, const std::string& bytes);

// FileErrNumber of a failure of an operation on path; 0 for no error.
// See the table in filehelpers.cpp.
int16_t fileErrNumber(const std::error_code& ec, const std::string& path);

// The Failure of an operation on path that failed with ec.
Failure fileFailure(const std::error_code& ec, const std::string& path);

}  // namespace quendril
