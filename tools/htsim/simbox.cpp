#include "simbox.h"

#include <cstring>

namespace htsim {

namespace {

// The box library's clock: milliseconds, wrapping.
uint32_t millis(tvk::Clock::time_point t) {
    return uint32_t(std::chrono::duration_cast<tvk::Ms>(t.time_since_epoch()).count());
}

// Room for the largest frames and a window of up to this many of them, as
// much as a PC-sized box takes.
constexpr size_t kWindowFrames = 32;

}  // namespace

SimBox& SimBox::of(void* user) { return *static_cast<User*>(user)->box; }

SimBox::SimBox(const BoxDesc& desc, const tvk::LineTimers& timers, LineWriter writer)
    : terminal_(desc), writer_(std::move(writer)),
      buffer_(desc.memory ? desc.memory : tvkbox_buffer_need(TVKBOX_MAX_FRAME, kWindowFrames, timers.sevenBits)),
      packMemory_(desc.memory ? 0 : tvkbox_pack_need() / 8 + 1) {
    tvkbox_posix_init(&user_.files);
    user_.box = this;
    tvkbox_config c{};
    c.address = uint8_t(desc.box);
    c.bits_per_second = timers.bitsPerSecond;
    c.bits_per_char = uint8_t(timers.bitsPerChar);
    c.seven_bits = timers.sevenBits;
    c.progress_ms = uint32_t(timers.progressMs);
    c.version_one = desc.versionOne;
    c.max_frame = desc.memory ? 0 : TVKBOX_MAX_FRAME;
    c.buffer = buffer_.data();
    c.buffer_size = buffer_.size();
    c.pack_memory = packMemory_.data();
    c.pack_memory_size = packMemory_.size() * 8;
    const tvkbox_platform pf = platform();
    // The fleet parser's least memory (1024 bytes) holds a frame of the least size.
    tvkbox_init(&box_, &c, &pf, millis(tvk::Clock::now()));
}

SimBox::~SimBox() {
    tvkbox_reset(&box_);
    tvkbox_posix_close(&user_.files);
}

tvkbox_platform SimBox::platform() {
    tvkbox_platform pf{};
    tvkbox_posix_platform(&pf);
    pf.user = &user_;
    pf.output = [](void* u, const uint8_t* p, size_t n) {
        // A terminal that left the line says nothing more.
        if (of(u).present()) of(u).writer_(p, n);
    };
    pf.poll = [](void* u, uint8_t record[TVKBOX_RECORD_LEN]) {
        bool idle = false;
        auto rec = of(u).terminal_.answerPoll(idle);
        if (!rec) return idle ? int(TVKBOX_IDLE) : int(TVKBOX_NOTERM);
        const auto bytes = tvk::encodeRecord(*rec);
        std::memcpy(record, bytes.data(), TVKBOX_RECORD_LEN);
        return int(TVKBOX_RECORD);
    };
    pf.send_begin = [](void* u) {
        SimBox& b = of(u);
        const Job* job = b.terminal_.sendJob();
        if (!job) return -1;
        b.sendDir_ = job->dir.empty() ? "." : job->dir;
        b.sendAs_ = job->sendAs;
        b.user_.files.send_dir = b.sendDir_.c_str();
        b.user_.files.first_name = b.sendAs_.empty() ? nullptr : b.sendAs_.c_str();
        return tvkbox_posix_send_begin(u);
    };
    pf.recv_begin = [](void* u, const tvkbox_job* job) {
        SimBox& b = of(u);
        auto dir = b.terminal_.receiveDir(job->trans_type);
        if (!dir) return -1;
        b.recvDir_ = *dir;
        b.user_.files.recv_dir = b.recvDir_.c_str();
        return tvkbox_posix_recv_begin(u, job);
    };
    pf.job_ended = [](void* u, const tvkbox_result* r) {
        of(u).terminal_.jobEnded(r->ok != 0, r->files, r->bytes);
        of(u).terminal_.framesResent(r->resent);
    };
    pf.released = [](void* u) { of(u).terminal_.released(); };
    return pf;
}

bool SimBox::present() { return terminal_.present(user_.files.job_bytes); }

void SimBox::feed(const uint8_t* chars, size_t n, tvk::Clock::time_point now) {
    if (present()) tvkbox_input(&box_, chars, n, millis(now));
}

void SimBox::input(const uint8_t* chars, size_t n, tvk::Clock::time_point now) {
    const int delay = terminal_.desc().delayMs;
    if (delay > 0) delayed_.emplace_back(now + tvk::Ms(delay), std::vector<uint8_t>(chars, chars + n));
    else feed(chars, n, now);
}

tvk::Clock::time_point SimBox::nextDue() const {
    return delayed_.empty() ? tvk::Clock::time_point::max() : delayed_.front().first;
}

bool SimBox::poll(tvk::Clock::time_point now) {
    while (!delayed_.empty() && delayed_.front().first <= now) {
        feed(delayed_.front().second.data(), delayed_.front().second.size(), now);
        delayed_.pop_front();
    }
    return present() && tvkbox_poll(&box_, millis(now));
}

}  // namespace htsim
