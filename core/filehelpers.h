// File-system helpers that report their own failures.
//
// Failure rule (every helper but appendSeparator): when the operation fails with
// a FileErrNumber n, dispFileErr(n, extra) is shown. Retry runs the same
// operation again, without limit; Cancel gives up and the helper returns its
// empty result; OK (any box without Retry) ends the program through
// endProgram - except existDir, which then returns false.
//
// Paths are bytes of the single-byte code page; the separator is the
// platform's ('/' here).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <system_error>

namespace quendril {

// The separator appendSeparator appends.
inline constexpr char kPathSeparator = '/';

// Attribute masks of dirFirst.
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
bool openInput(InputFile& file, const std::string& path);

// Reads the next line without its line end (CR LF, LF or CR alone) into
// line. Lines may hold NUL bytes and be of any length. At the end of the file
// the read fails with 62 (input past end); a failed read leaves line as it was.
void lineInput(InputFile& file, std::string& line);

// Deletes the file, or every normal file matching the wildcard pattern of the
// last path component. A missing file is not a failure.
void killFile(const std::string& path);

// Creates the directory; an existing directory is not a failure.
void makeDir(const std::string& path);

// Starts the one listing of the program (ending the previous one) and gives
// the first matching name (without directory), or "" when none matches.
// pathOrPattern is a path, or a directory plus a last component with the
// wildcards '*' and '?' ("*.*" matches every name, with or without a dot;
// wildcards compare letters without regard to case). A path ending in the
// separator lists that directory's entries, and with mask 16 first gives "."
// (the directory itself). Mask 0: normal files only; mask 16: directories
// too. Nothing is hidden on this platform: names beginning with '.' are
// listed like any other. A missing directory gives "" without a box; ""
// gives "".
std::string dirFirst(const std::string& pathOrPattern, int mask);

// The next name of the current listing, or "" when it is exhausted.
std::string dirNext();

// True when a listing of path with mask 16 finds an entry (also for a file).
bool existDir(const std::string& path);

// True when a listing of path with mask 0 finds an entry.
bool existFile(const std::string& path);

// Writes bytes to path so that a crash, a kill or a full disk never leaves a
// half-written file: a new file beside it is written, flushed to disk and
// then renamed over path (over its target when path is a link), keeping the
// old file's permissions. Under the failure rule; false when cancelled, and
// path is then unchanged.
bool writeFileAtomically(const std::string& path, const std::string& bytes);

// --- For file work of callers' own (copy, append, lengths) ---

// FileErrNumber of a failure of an operation on path; 0 for no error.
// See the table in filehelpers.cpp.
int16_t fileErrNumber(const std::error_code& ec, const std::string& path);

// Runs op under the failure rule, showing path as the extra text. op returns
// an empty error_code on success. True when op succeeded, false when the user
// cancelled; OK ends the program. Injected faults are taken first.
bool runFileOperation(const std::string& path, const std::function<std::error_code()>& op);

// Reports a failure that already happened: shows dispFileErr with the mapped
// number and path. Returns kAnswerRetry or kAnswerCancel; OK ends the program.
int16_t reportFileFailure(const std::error_code& ec, const std::string& path);

// --- Test seam ---

// The next `times` helper operations (each attempt, including retries) fail
// with number before touching the file system.
void injectFileFault(int16_t number, int times = 1);
// Forgets every injected fault not yet taken.
void clearFileFaults();

}  // namespace quendril
