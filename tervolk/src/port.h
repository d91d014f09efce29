// The serial line as the protocol sees it: non-blocking reads and writes
// and a bounded wait. Backends: termios devices and, in tests, an
// in-process channel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvk {

enum Ready : int { kReadable = 1, kWritable = 2 };

class Port {
public:
    virtual ~Port() = default;
    // Characters available now (0 when none); -1 when the device failed.
    // A character the UART marked as damaged comes back as 0x00, so the
    // frame it belonged to fails its check.
    virtual long readSome(uint8_t* buf, size_t cap) = 0;
    // Characters accepted now; -1 when the device failed.
    virtual long writeSome(const uint8_t* p, size_t n) = 0;
    // Waits up to ms for input (and for room to write when wantWrite);
    // returns Ready bits, 0 on time out, -1 when the device failed.
    virtual int wait(bool wantWrite, int ms) = 0;
    // TVK_ES_PARITY/OVERRUN/FRAMING conditions seen since the last call.
    virtual uint32_t takeLineErrors() { return 0; }
};

}  // namespace tvk
