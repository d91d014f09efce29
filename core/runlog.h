// The run log: one CSV line per job in quendril-log.csv in the working
// folder, so a run can be checked afterwards, and the short summaries of a
// run for standard output and the idle window.
//
// The log is only ever appended to with one write per job, so a kill leaves
// whole lines; a tail torn by a power loss is cut off before the next line.
// Terminal IDs are written as the bytes they are (single-byte code page).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "dirfiles.h"

namespace quendril {

// One job of a run, as the log and the end-of-run table show it.
struct JobRecord {
    std::chrono::system_clock::time_point started;  // when the job began
    int box = 0;               // the I/O box number from the record (aux2)
    std::string htId;          // terminal ID bytes, written unchanged
    std::string job;           // "Receive", "Transmit", "AP install"
    int files = 0;
    std::uint64_t bytes = 0;
    double seconds = 0;
    std::string result;        // "done", "failed", "stopped"
    std::uint16_t status = 0;  // the library's error-status word
    std::string statusText;    // its text, e.g. "Done", "Line Error"
};

inline constexpr const char* kRunLogName = "quendril-log.csv";
// Past this size the log moves to quendril-log.csv.1 (one old copy is kept).
inline constexpr std::uint64_t kRunLogLimit = 10 * 1024 * 1024;

// Appends one line for job to quendril-log.csv inside dir, writing the header
// line first when the file is new or empty. A link at the name is refused.
// Returns the error, or {} on success.
std::error_code appendRunLog(const Directory& dir, const JobRecord& job, std::uint64_t limit = kRunLogLimit);

// The CSV line of job (without line end) and the header line.
// Appends job to the run log in folder; a log that cannot be written costs
// the line, never the terminal's data, so failures are not reported.
void appendToRunLog(const std::string& folder, const JobRecord& job);

std::string runLogLine(const JobRecord& job);
std::string runLogHeader();

// A short fixed-width table of the run for standard output: one row per job
// and a totals row. Control bytes of IDs and texts show as '?'.
std::string runTable(const std::vector<JobRecord>& jobs);

// One line summing up a run for the idle window, e.g.
// "Last run 07:12: 5 terminals, 4 done, 1 error end - see quendril-log.csv"
// (local time of ended; terminals are distinct IDs, jobs not "done" are error ends).
std::string lastRunLine(const std::vector<JobRecord>& jobs, std::chrono::system_clock::time_point ended);

}  // namespace quendril
