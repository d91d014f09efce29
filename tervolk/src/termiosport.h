// termios backend of the port interface: real serial devices and
// pseudo-terminals alike.
#pragma once

#include <string>
#include <termios.h>

#include "port.h"

namespace tvk {

struct SerialSettings {
    unsigned bitsPerSecond = 115200;
    bool sevenBits = false;
    int parity = 0;  // 0 none, 1 odd, 2 even
    int stopBits = 1;
};

// Undoes the driver's PARMRK marking in place: 0xFF 0xFF is a data 0xFF,
// 0xFF 0x00 c a damaged character (or a break), which becomes a 0x00 so the
// frame it belongs to fails its check. state carries a mark split across
// reads. Returns the new length; damaged is set when a mark was found.
size_t unmarkErrors(uint8_t* buf, size_t n, int& state, bool& damaged);

class TermiosPort final : public Port {
public:
    TermiosPort();
    ~TermiosPort() override;
    TermiosPort(const TermiosPort&) = delete;
    TermiosPort& operator=(const TermiosPort&) = delete;

    // 0, TVK_ENODEV (no such device) or TVK_EBUSY (locked or unusable).
    // Besides flock, takes the lock file in $TVK_LOCK_DIR (default /run/lock)
    // where that directory can be written.
    int open(const std::string& path, const SerialSettings& s);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    long readSome(uint8_t* buf, size_t cap) override;
    long writeSome(const uint8_t* p, size_t n) override;
    int wait(bool wantWrite, int ms) override;
    uint32_t takeLineErrors() override;

    static bool speedSupported(unsigned bitsPerSecond);

    // Ends the wait in progress, or else the next one, at once (it returns
    // 0). Safe from any thread, where interruptible().
    void interruptWait();
    bool interruptible() const { return wakeFd_ >= 0; }

private:
    void noteKernelCounters();
    // Clears a raised interruptWait() that poll() reported in revents.
    bool tookWake(short revents);

    int fd_ = -1;
    int wakeFd_ = -1;        // the event counter interruptWait() raises
    bool kernelCounters_ = false;  // the driver keeps error counters
    std::string lockFile_;   // the lock file taken, empty if none
    bool marking_ = false;   // PARMRK in force
    int markState_ = 0;      // bytes of a 0xFF mark sequence seen so far
    uint32_t errors_ = 0;
    bool restore_ = false;
    struct termios saved_{};
    long countFrame_ = 0, countParity_ = 0, countOverrun_ = 0, countBreak_ = 0, countBufOverrun_ = 0;
};

}  // namespace tvk
