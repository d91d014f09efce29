// The C box (tvkbox) as the PC's peer in tests and fuzzing: its platform on
// the POSIX files of two directories, fed by hand or by a thread on a port.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "frame.h"
#include "port.h"
#include "posix.h"
#include "timing.h"
#include "tvkbox.h"

namespace quendril::test {

inline uint32_t nowMs() {
    return uint32_t(std::chrono::duration_cast<tvk::Ms>(tvk::Clock::now().time_since_epoch()).count());
}

struct BoxSetup {
    size_t buffer = 64 * 1024;
    uint16_t frame = 0;
    bool pack = true;
    bool versionOne = false;
    bool sevenBits = false;
    uint32_t progressMs = 1000;
    const char* sendDir = "src";
    const char* recvDir = "dst";
    std::optional<std::array<uint8_t, TVKBOX_RECORD_LEN>> record{};  // the poll answer; none: idle
};

// The platform: the POSIX files, and what the test watches.
struct BoxTerminal {
    tvkbox_posix files;  // first: the file callbacks take the user pointer as this
    std::vector<uint8_t> out;
    std::optional<std::array<uint8_t, TVKBOX_RECORD_LEN>> record;
    std::function<void(bool)> onEnded;
    std::atomic<int> ended{0}, endedOk{0}, released{0}, jobType{-1};

    explicit BoxTerminal(const BoxSetup& s) : record(s.record) {
        tvkbox_posix_init(&files);
        files.send_dir = s.sendDir;
        files.recv_dir = s.recvDir;
    }
    ~BoxTerminal() { tvkbox_posix_close(&files); }
    static BoxTerminal& of(void* user) { return *static_cast<BoxTerminal*>(user); }
    tvkbox_platform platform() {
        tvkbox_platform pf{};
        tvkbox_posix_platform(&pf);
        pf.user = this;
        pf.output = [](void* u, const uint8_t* p, size_t n) { of(u).out.insert(of(u).out.end(), p, p + n); };
        pf.poll = [](void* u, uint8_t rec[TVKBOX_RECORD_LEN]) {
            if (!of(u).record) return int(TVKBOX_IDLE);
            std::copy(of(u).record->begin(), of(u).record->end(), rec);
            return int(TVKBOX_RECORD);
        };
        pf.recv_begin = [](void* u, const tvkbox_job* job) {
            of(u).jobType = job->trans_type;
            return tvkbox_posix_recv_begin(u, job);
        };
        pf.job_ended = [](void* u, const tvkbox_result* r) {
            if (of(u).onEnded) of(u).onEnded(r->ok != 0);
            of(u).endedOk += r->ok, ++of(u).ended;
        };
        pf.released = [](void* u) { ++of(u).released; };
        return pf;
    }
};

// A box on its memory, fed by hand.
struct Box {
    BoxTerminal term;
    std::vector<uint8_t> buffer;
    std::vector<uint64_t> packMemory;  // 8-byte aligned
    tvkbox box{};

    explicit Box(const BoxSetup& s, uint32_t now = nowMs()) : term(s), buffer(s.buffer) {
        if (s.pack) packMemory.resize(tvkbox_pack_need() / 8 + 1);
        tvkbox_config c{};
        c.address = 1;
        // The in-process line is instant: a box that reckoned a real line
        // time would take the master's quick requests for stale ones.
        c.bits_per_second = 100000000;
        c.bits_per_char = 10;
        c.seven_bits = s.sevenBits;
        c.progress_ms = s.progressMs;
        c.version_one = s.versionOne;
        c.max_frame = s.frame;
        c.buffer = buffer.data();
        c.buffer_size = buffer.size();
        c.pack_memory = packMemory.data();
        c.pack_memory_size = packMemory.size() * 8;
        const tvkbox_platform pf = term.platform();
        tvkbox_init(&box, &c, &pf, now);
    }
    // Line characters in; what the box says, window included.
    std::vector<uint8_t> feed(const std::vector<uint8_t>& line, uint32_t now) {
        tvkbox_input(&box, line.data(), line.size(), now);
        while (tvkbox_poll(&box, now)) {
        }
        return std::exchange(term.out, {});
    }
    // The frames the box answers to f.
    std::vector<tvk::Frame> answer(const tvk::Frame& f, uint32_t now) {
        std::vector<uint8_t> line;
        encodeFrame(f, false, line);
        const auto said = feed(line, now);
        tvk::FrameDecoder d(false);
        std::vector<tvk::Frame> got;
        d.feed(said.data(), said.size(), got);
        return got;
    }
};

// The box's loop on its own thread: what arrives goes in, each frame of a
// window goes out in one write, and an arriving frame cuts a window short.
struct BoxThread {
    BoxThread(tvk::Port& port, const BoxSetup& s) : box(s), port_(port) {}
    void flush() {
        const auto& out = box.term.out;
        for (size_t done = 0; done < out.size();) {
            const long w = port_.writeSome(out.data() + done, out.size() - done);
            if (w < 0) break;
            done += size_t(w);
            if (w == 0) port_.wait(true, 10);
        }
        box.term.out.clear();
    }
    Box box;
    tvk::Port& port_;
    std::jthread thread{[this](std::stop_token stop) {
        uint8_t buf[4096];
        while (!stop.stop_requested()) {
            const long n = port_.readSome(buf, sizeof buf);
            if (n < 0) return;
            if (n > 0) tvkbox_input(&box.box, buf, size_t(n), nowMs());
            flush();
            while (tvkbox_poll(&box.box, nowMs()) && !(port_.wait(false, 0) & tvk::kReadable)) flush();
            flush();
            if (n == 0) port_.wait(false, 2);
        }
    }};
};

}  // namespace quendril::test
