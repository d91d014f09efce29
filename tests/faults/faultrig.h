// Shared pieces of the fault tests: directory snapshots, the library's line
// parameters and a line with htsim on the far end.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "filebytes.h"
#include "linerig.h"
#include "tempdir.h"
#include "tervolk.h"

namespace quendril::test::faults {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline long long msSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}
inline void putFiles(const fs::path& dir, const FileMap& files) {
    fs::create_directories(dir);
    for (const auto& [name, bytes] : files) writeBytes((dir / name).string(), bytes);
}
// Names with sizes and a digest, for short messages.
inline std::map<std::string, std::string> digest(const FileMap& files) {
    std::map<std::string, std::string> out;
    for (const auto& [name, bytes] : files)
        out[name] = std::to_string(bytes.size()) + " #" + std::to_string(std::hash<std::string>{}(bytes) % 100000);
    return out;
}
inline std::map<std::string, std::string> digestOf(const fs::path& dir) { return digest(snapshot(dir)); }

// What a receiving directory may hold after a fault: each final name one of
// the expected files, byte for byte; the library's partial files (".tvk-part-")
// may remain. Returns the complaints, empty when the directory is sound.
inline std::string wrongFiles(const fs::path& dir, const FileMap& expected) {
    std::string complaints;
    for (const auto& [name, bytes] : snapshot(dir)) {
        const auto it = expected.find(name);
        const bool part = fs::path(name).filename().string().starts_with(".tvk-part-");
        if (!part && (it == expected.end() || it->second != bytes)) complaints += "unexpected or damaged " + name + "; ";
    }
    return complaints;
}

// 115200 bit/s 8N1 with the timers a, b, c.
inline tvk_openparam lineParams(int a, int b, int c) { return {7, 0, 0, 1, a, b, c, 0, 0}; }

// lineemu with the library's COM0 on side a and htsim (with the library's
// timers) on side b, up once htsim has said so.
struct FleetLine {
    FleetLine(const fs::path& fleetFile, const std::string& fleet, const LineSettings& s, const tvk_openparam& p,
              std::vector<std::string> extra = {})
        : rig(std::make_unique<LineRig>(s)) {
        writeBytes(fleetFile.string(), fleet);
        rig->exportComPort(0);
        ::setenv("TVK_BAUD", std::to_string(s.baud).c_str(), 1);
        extra.insert(extra.begin(), {"--speed", std::to_string(s.baud), "--a", std::to_string(p.lineParamA), "--b",
                                     std::to_string(p.lineParamB), "--c", std::to_string(p.lineParamC)});
        rig->startHtsim(fleetFile.string(), extra);
        for (const auto end = Clock::now() + 5s; Clock::now() < end && log().find(" boxes on ") == std::string::npos;)
            std::this_thread::sleep_for(5ms);
    }
    ~FleetLine() {
        tvk_close();
        ::unsetenv("TVK_BAUD");
    }
    std::map<std::string, uint64_t> stop() { return rig->stop(); }  // lineemu's counters
    std::string log() const { return readBytes(rig->dir() + "/htsim.log"); }
    std::unique_ptr<LineRig> rig;
};

// Polls boxes 1..boxes until `want` terminals answer (htsim may still be starting).
inline int pollUntilFound(int boxes, int want) {
    int32_t mode = 1, r = 0;
    for (const auto end = Clock::now() + 8s; Clock::now() < end && (r = tvk_polling(&mode, boxes)) < want;) continue;
    return r;
}
// Opens the line, accepts any terminal, polls until `want` terminals answer
// and returns their records in box order.
inline std::vector<tvk_comminfo> openAndPoll(tvk_openparam p, int boxes, int want) {
    std::vector<tvk_comminfo> records;
    char any[] = "&&&&&&";
    if (tvk_open(0, &p) != TVK_OK) return records;
    tvk_idtblclr();
    tvk_idtbladd(any);
    if (pollUntilFound(boxes, want) != want) return records;
    for (tvk_comminfo c{}; (records.empty() ? tvk_getcinffirst(&c) : tvk_getcinfnext(&c)) == TVK_OK;) records.push_back(c);
    return records;
}
inline int receive(const fs::path& dir, tvk_comminfo& info) {
    return tvk_filerecv(const_cast<char*>(dir.string().c_str()), &info);
}
// Tells every terminal the pass is over and closes the line.
inline void endPass() {
    tvk_comminfo blank{};
    tvk_disconnect(1, &blank);
    tvk_close();
}

}  // namespace quendril::test::faults
