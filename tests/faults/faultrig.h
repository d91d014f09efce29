// Shared pieces of the fault tests: file contents, directory snapshots, the
// library's line parameters and a rig with htsim on the far end.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "filebytes.h"
#include "linerig.h"
#include "tervolk.h"

namespace quendril::test::faults {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The library keeps a file it is receiving under this prefix until it is whole.
inline constexpr const char* kPartPrefix = ".tvk-part-";

inline void putFile(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    writeBytes(p.string(), bytes);
}

// Every regular file under dir (relative path -> bytes); directories as "name/".
inline std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    if (!fs::exists(dir)) return files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string rel = fs::relative(e.path(), dir).string();
        if (e.is_directory()) files[rel + "/"] = "";
        else files[rel] = readBytes(e.path().string());
    }
    return files;
}

// A directory's files as names with sizes and a digest, for short messages.
inline std::map<std::string, std::string> digest(const std::map<std::string, std::string>& files) {
    std::map<std::string, std::string> out;
    for (const auto& [name, bytes] : files) {
        out[name] = std::to_string(bytes.size()) + " bytes #" + std::to_string(std::hash<std::string>{}(bytes) % 100000);
    }
    return out;
}
inline std::map<std::string, std::string> digestOf(const fs::path& dir) { return digest(snapshot(dir)); }

inline bool isPartName(const std::string& name) { return name.rfind(kPartPrefix, 0) == 0; }

// What a receiving directory may hold after a fault: each final name is one of
// the expected files, byte for byte; the library's temporary names may remain.
// Returns the complaints, empty when the directory is sound.
inline std::string wrongFiles(const fs::path& dir, const std::map<std::string, std::string>& expected) {
    std::string complaints;
    for (const auto& [name, bytes] : snapshot(dir)) {
        if (isPartName(fs::path(name).filename().string())) continue;
        auto it = expected.find(name);
        if (it == expected.end()) complaints += "unexpected " + name + "; ";
        else if (it->second != bytes) complaints += "damaged " + name + " (" + std::to_string(bytes.size()) + " bytes); ";
    }
    return complaints;
}

inline tvk_openparam lineParams(int a, int b, int c, int baudCode = 7) {
    tvk_openparam p{};
    p.baudCode = baudCode;
    p.stopBits = 1;
    p.lineParamA = a;
    p.lineParamB = b;
    p.lineParamC = c;
    return p;
}

// lineemu with htsim on side b and the library's COM0 on side a; htsim gets
// the same timers as the library.
struct FleetLine {
    FleetLine(const fs::path& fleetFile, const std::string& fleet, const LineSettings& s, const tvk_openparam& p,
              std::vector<std::string> extra = {}) {
        std::ofstream(fleetFile) << fleet;
        rig = std::make_unique<LineRig>(s);
        rig->exportComPort(0);
        ::setenv("TVK_BAUD", std::to_string(s.baud).c_str(), 1);
        extra.insert(extra.begin(), {"--speed", std::to_string(s.baud), "--a", std::to_string(p.lineParamA), "--b",
                                     std::to_string(p.lineParamB), "--c", std::to_string(p.lineParamC)});
        rig->startHtsim(fleetFile.string(), extra);
        waitForHtsim();
    }
    ~FleetLine() {
        tvk_close();
        ::unsetenv("TVK_BAUD");
    }
    FleetLine(const FleetLine&) = delete;
    FleetLine& operator=(const FleetLine&) = delete;

    // Stops both tools; htsim's log then holds its per-box summary.
    std::map<std::string, uint64_t> stop() {
        counters = rig->stop();
        return counters;
    }
    std::string htsimLog() const { return readBytes(rig->dir() + "/htsim.log"); }

    // Every box answers from the first poll on once htsim has said it is up.
    void waitForHtsim() {
        const auto limit = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < limit && htsimLog().find(" boxes on ") == std::string::npos) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::unique_ptr<LineRig> rig;
    std::map<std::string, uint64_t> counters;
};

// Polls boxes 1..boxes back to back until `want` terminals answer (htsim may
// still be starting); returns the last poll's result.
inline int pollUntilFound(int boxes, int want, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    int32_t mode = 1;
    int r = 0;
    while (Clock::now() < end && (r = tvk_polling(&mode, boxes)) < want) {
    }
    return r;
}

// Opens the line, accepts any terminal, polls until `want` terminals answer
// and reads their records in box order.
inline std::vector<tvk_comminfo> openAndPoll(tvk_openparam p, int boxes, int want) {
    std::vector<tvk_comminfo> records;
    if (tvk_open(0, &p) != TVK_OK) return records;
    tvk_idtblclr();
    char any[] = "&&&&&&";
    tvk_idtbladd(any);
    if (pollUntilFound(boxes, want, std::chrono::milliseconds(8000)) != want) return records;
    tvk_comminfo c{};
    for (int16_t r = tvk_getcinffirst(&c); r == TVK_OK; r = tvk_getcinfnext(&c)) records.push_back(c);
    return records;
}

inline long long msSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

}  // namespace quendril::test::faults
