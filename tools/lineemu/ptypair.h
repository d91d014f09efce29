// A pseudo-terminal whose slave is published under a symbolic link.
#pragma once

#include <string>

namespace quendril::lineemu {

class PtyEnd {
public:
    // Opens a pseudo-terminal with its slave in raw mode; throws std::runtime_error.
    PtyEnd();
    ~PtyEnd();
    PtyEnd(const PtyEnd&) = delete;
    PtyEnd& operator=(const PtyEnd&) = delete;

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // Points `link` at the slave, replacing a stale link but never a file.
    void publish(const std::string& link);

private:
    int master_ = -1;
    // Held open so an endpoint closing the slave does not hang up the master.
    int slave_ = -1;
    std::string slavePath_;
    std::string link_;
};

// Writes `text` to `path` through a temporary file, so readers never see half of it.
bool writeFileAtomically(const std::string& path, const std::string& text);

}  // namespace quendril::lineemu
