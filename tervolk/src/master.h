// The PC's side of the line: polling a box, the two transfer directions and
// the release of a terminal. Each returns a TVK_* code and adds the
// conditions it meets to status.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link.h"
#include "stream.h"
#include "wire.h"

namespace tvk {

enum class BoxAnswer { Silent, NoTerminal, Idle, Terminal, Stopped, Fatal };

BoxAnswer pollBox(Link& link, uint8_t addr, Record& rec);

// What the master knows of a box's protocol. A job starts in version 2; a
// box that refuses that START with an empty REJECT speaks version 1, and its
// jobs start in version 1 from then on.
struct BoxProtocol {
    bool versionOne = false;
};

// What a receive knows beyond its directory: the total the terminal
// announced (unknown: no limit) and the caller's checks.
struct ReceiveOptions {
    std::optional<uint64_t> announced;
    JobChecks* checks = nullptr;
};

// The box sends its files; they are stored in dir. A job whose announced
// total does not fit the file system is refused before anything is sent
// (TVK_ES_NOSPACE); one that sends more than it announced is aborted
// (TVK_ES_OVERSIZE).
int receiveFiles(Link& link, uint8_t addr, const std::string& dir, Progress* progress, uint32_t& status,
                 BoxProtocol& protocol, const ReceiveOptions& options = {});

// The files go to the box.
int sendFiles(Link& link, uint8_t addr, std::vector<SourceFile> files, uint8_t transType, Progress* progress,
              uint32_t& status, BoxProtocol& protocol);

// Releases the terminal of a box; true when the box confirmed it. hurried:
// the run was stopped and is ending, so the release is sent once and its
// answer awaited no longer than a second, even while the line still carries
// what the box sent before it heard of the stop.
bool releaseBox(Link& link, uint8_t addr, bool hurried = false);

}  // namespace tvk
