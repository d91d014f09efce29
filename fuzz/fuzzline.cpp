#include "fuzzline.h"
#include <unistd.h>
#include <map>
#include "filebytes.h"
#include "stream.h"

namespace fs = std::filesystem;

namespace fuzzline {
std::vector<Record> parseScript(const uint8_t* data, size_t size) {
    std::vector<Record> records;
    for (size_t pos = 0; size - pos >= 6;) {
        const uint8_t* h = data + pos;
        const size_t len = std::min<size_t>(size_t(h[4]) | size_t(h[5]) << 8, size - pos - 6);
        pos += 6 + len;
        Record r;
        r.newTurn = h[0] & 0x40;
        r.echo = h[0] & 0x20;
        r.raw = (h[0] & 0x1F) == 31;
        r.frame.payload.assign(h + 6, h + 6 + len);
        r.frame.type = tvk::FrameType(h[0] & 0x1F);
        r.frame.pf = h[0] & 0x80;
        r.frame.addr = h[1] < 0x80 ? 1 : uint8_t(h[1] & 0x7F);
        r.frame.seq = uint16_t(h[2] | h[3] << 8);
        records.push_back(std::move(r));
    }
    return records;
}

std::vector<std::vector<uint8_t>> lineTurns(const std::vector<Record>& records, bool sevenBits, bool fromBox) {
    std::vector<std::vector<uint8_t>> turns(1);
    for (const Record& r : records) {
        if (r.newTurn) turns.emplace_back();
        tvk::Frame f = r.frame;
        f.fromBox = fromBox != r.echo;
        if (r.raw) turns.back().insert(turns.back().end(), f.payload.begin(), f.payload.end());
        else tvk::encodeFrame(f, sevenBits, turns.back());
    }
    return turns;
}

// Small, empty and large enough to span several frames.
static const std::map<std::string, std::string> kSources = {
    {"A.DAT", std::string(5000, 'a')}, {"B.TXT", "short\r\n"}, {"EMPTY", ""}};

Jail::Jail() : root_(fs::temp_directory_path() / ("quendril-fuzz-" + std::to_string(getpid()))) {
    // The targets look for wrong files, not lost ones: syncs only slow them down.
    tvk::setDiskSync([](int) { return true; });
    fs::remove_all(root_);
    fs::create_directories(root_ / "in");
    fs::create_directories(root_ / "out");
    for (const auto& [name, bytes] : kSources) quendril::test::writeBytes(out() + "/" + name, bytes);
}

void Jail::checkAndReset() {
    size_t entries = 0, sources = 0;
    for (const auto& e : fs::directory_iterator(root_))
        require(++entries && (e.path() == root_ / "in" || e.path() == root_ / "out"), "a file was written beside the jail");
    require(entries == 2, "a directory of the jail went missing");
    for (const auto& e : fs::directory_iterator(root_ / "out")) {
        auto it = kSources.find(e.path().filename().string());
        require(it != kSources.end(), "a file appeared among the files to send");
        require(quendril::test::readBytes(e.path().string()) == it->second, "a file to send was changed");
        ++sources;
    }
    require(sources == kSources.size(), "a file to send went missing");
    for (const auto& e : fs::directory_iterator(root_ / "in")) {
        const std::string name = e.path().filename().string();
        // Received files wait under this prefix until they are checked.
        require(!name.starts_with(".tvk-part-"), "a partial file was left behind");
        require(e.is_regular_file() && !e.is_symlink(), "something other than a plain file was received");
        require(tvk::acceptableName(name), "a received file has a name that should have been refused");
    }
    for (const auto& e : fs::directory_iterator(root_ / "in")) fs::remove(e.path());
}
}  // namespace fuzzline
