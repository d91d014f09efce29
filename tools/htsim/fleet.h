// The fleet description read by htsim: which I/O boxes exist, the terminal
// in each and the script of jobs it asks for. Format: see kFleetHelp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link.h"
#include "termiosport.h"

namespace htsim {

extern const char* const kFleetHelp;

enum class JobKind { Send, Recv, Install, End };

struct Job {
    JobKind kind = JobKind::End;
    std::string dir;       // Send: the directory whose files go to the PC
    std::string sendAs;    // Send: name the first file goes under (tests of hostile names)
    int transType = 0;
    int repeat = 1;        // times the job is done before the next one
};

struct BoxDesc {
    int box = 0;           // 1..16
    std::string id;        // empty: the box holds no terminal
    std::string rev = "01";
    std::string dir;       // the terminal's storage
    int appearAfter = 0;   // polls answered "no terminal" first
    int delayMs = 0;       // added before every answer
    uint64_t vanishAfter = 0;  // bytes of a job after which the terminal leaves the line (0: never)
    bool versionOne = false;   // speaks the line protocol's version 1 only
    size_t memory = 0;         // bytes of frame buffers of a small box without compression (0: a PC-sized box)
    std::vector<Job> jobs;
};

struct Fleet {
    tvk::SerialSettings serial;
    tvk::LineTimers timers;
    std::vector<BoxDesc> boxes;
};

// Parses a fleet description; on failure returns nullopt and sets error
// ("line N: ...").
std::optional<Fleet> parseFleet(const std::string& text, std::string& error);

}  // namespace htsim
