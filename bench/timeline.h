// Where the time of a whole run went: the library's frame log (TVK_DEBUG=1)
// cut into polling, job starts, transfers, releases and the program's own
// time between line calls, with the job times of the program's run log.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quendril::bench {

// One frame of the log: when the library sent it (handed it to the port)
// or had received it whole.
struct LoggedFrame {
    double ms = 0;
    bool sent = false;
    std::string type;
    std::size_t len = 0;  // of the payload
};

// The frame lines of a log; every other line is skipped.
std::vector<LoggedFrame> readFrameLog(const std::filesystem::path& log);

// The seconds column of the run log, one entry per job in order.
std::vector<double> readJobSeconds(const std::filesystem::path& runLog);

struct TimeShare {
    std::string category;
    double seconds = 0;
};

struct RunFacts {
    double passSeconds = 0;     // the program's whole life
    double charsPerSecond = 0;  // an 8N1 line: baud / 10
    double payloadBytes = 0;    // file bytes moved, both directions
    double lineChars = 0;       // characters lineemu carried, both directions (0: unknown)
};

// The pass split into categories that add up to passSeconds. Line times of
// frames are estimated from their payload lengths (8-bit line) and
// lineChars.
std::vector<TimeShare> breakDown(const std::vector<LoggedFrame>& frames, const std::vector<double>& jobSeconds,
                                 const RunFacts& facts);

}  // namespace quendril::bench
