// Writes the seed corpora: whole, valid sessions built with the real
// encoders, and near-valid ones (hostile names, lying sizes, garbage), so
// the fuzzers start past the frame check. Usage: fuzz_seeds <corpus dir>.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "codec.h"
#include "linescript.h"
#include "transfer.h"
#include "wire.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

tvk::Frame frame(tvk::FrameType type, uint16_t seq, Bytes payload, bool pf = true, uint8_t addr = 1) {
    tvk::Frame f;
    f.addr = addr;
    f.type = type;
    f.pf = pf;
    f.seq = seq;
    f.payload = std::move(payload);
    return f;
}

// The chunks of one file announced with size and carrying data.
void fileChunks(Bytes& out, const std::string& name, uint64_t size, const std::string& data) {
    out.push_back(tvk::kChunkFile);
    tvk::putVarint(out, name.size());
    out.insert(out.end(), name.begin(), name.end());
    tvk::putVarint(out, size);
    if (!data.empty()) {
        out.push_back(tvk::kChunkData);
        tvk::putVarint(out, data.size());
        out.insert(out.end(), data.begin(), data.end());
    }
    out.push_back(tvk::kChunkEof);
    tvk::putLe(out, tvk::crc32c(data.data(), data.size()), 4);
}

Bytes batch(const std::string& name, uint64_t size, const std::string& data) {
    Bytes out;
    fileChunks(out, name, size, data);
    out.push_back(tvk::kChunkEnd);
    return out;
}

Bytes ack(uint16_t cum, uint8_t flags = 0) {
    tvk::AckInfo a;
    a.cum = cum;
    a.flags = flags;
    return tvk::encodeAck(a);
}

class Corpus {
public:
    explicit Corpus(fs::path root) : root_(std::move(root)) {}
    void add(const std::string& target, const std::string& name, const Bytes& bytes) {
        fs::create_directories(root_ / target);
        std::ofstream(root_ / target / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    void addText(const std::string& target, const std::string& name, const std::string& text) {
        add(target, name, Bytes(text.begin(), text.end()));
    }
    // A script: a leading mode byte, then the records, each turn's first
    // frame starting a new turn.
    void addScript(const std::string& target, const std::string& name, uint8_t mode,
                   const std::vector<std::vector<tvk::Frame>>& turns) {
        Bytes out{mode};
        for (size_t t = 0; t < turns.size(); ++t)
            for (size_t i = 0; i < turns[t].size(); ++i) fuzzline::appendRecord(out, turns[t][i], t > 0 && i == 0);
        add(target, name, out);
    }

private:
    fs::path root_;
};

using T = tvk::FrameType;

void frameSeeds(Corpus& c) {
    for (bool seven : {false, true}) {
        Bytes line{uint8_t(seven ? 0x07 : 0x06)};
        tvk::encodeFrame(frame(T::Record, 0, tvk::encodeRecord({})), seven, line);
        tvk::encodeFrame(frame(T::Data, 7, batch("A.DAT", 3, "abc"), false), seven, line);
        c.add("fuzz_frame", seven ? "frames-7bit" : "frames-8bit", line);
    }
    Bytes garbage{0x00, 0x41, 0x42, 0x00, 0xFF, 0xFF, 0x00};
    tvk::encodeFrame(frame(T::Ack, 3, ack(4)), false, garbage);
    c.add("fuzz_frame", "garbage-then-frame", garbage);
}

void boxSeeds(Corpus& c) {
    const Bytes toBox = tvk::encodeStart({1, 0, 1, 10});
    c.addScript("fuzz_box", "receive", 0,
                {{frame(T::Start, 1, toBox), frame(T::Data, 0, batch("R.DAT", 10, "0123456789")),
                  frame(T::AckReq, 0, {}), frame(T::Disc, 0, {})}});
    Bytes whole = batch("F.DAT", 6, "abcdef");
    Bytes first{0, 2}, second{1, 2};
    first.insert(first.end(), whole.begin(), whole.begin() + 8);
    second.insert(second.end(), whole.begin() + 8, whole.end());
    c.addScript("fuzz_box", "receive-pieces", 1,
                {{frame(T::Start, 1, toBox), frame(T::Frag, 0, first, false), frame(T::Frag, 0, second)}});
    c.addScript("fuzz_box", "send", 0,
                {{frame(T::Poll, 0, {}), frame(T::Start, 1, tvk::encodeStart({0, 0, 0, 0})),
                  frame(T::Rr, 2, ack(3)), frame(T::Rr, 3, ack(6)), frame(T::Rr, 4, ack(8, tvk::kAckComplete)),
                  frame(T::Abort, 0, {})}});
    const std::vector<std::pair<std::string, std::string>> hostile = {
        {"dotdot", "../ESCAPE"}, {"absolute", "/tmp/ESCAPE"}, {"backslash", "..\\ESCAPE"},
        {"control", std::string("A\nB\x01")}, {"long", std::string(300, 'L')}, {"dot", "."},
        {"drive", "C:ESCAPE"}, {"partname", ".tvk-part-0000000000000000"}};
    for (const auto& [seed, name] : hostile)
        c.addScript("fuzz_box", "name-" + seed, 0,
                    {{frame(T::Start, 1, toBox), frame(T::Data, 0, batch(name, 1, "x"))}});
    Bytes liar;
    fileChunks(liar, "LIAR.DAT", 2, "more than two");
    fileChunks(liar, "SHORT.DAT", 100, "ten bytes.");
    liar.push_back(tvk::kChunkEnd);
    c.addScript("fuzz_box", "lying-sizes", 0, {{frame(T::Start, 1, toBox), frame(T::Data, 0, liar)}});
}

// endless: the last turn repeats for ever (fuzz_flood), where an answer
// repeated to a poll is an open fault, kept under fuzz/open/ instead.
void masterSeeds(Corpus& c, const std::string& target, bool endless) {
    c.addScript(target, "receive", 0,
                {{frame(T::Data, 0, batch("R.DAT", 10, "0123456789"))}, {frame(T::Done, 0, {})}});
    c.addScript(target, "receive-hostile", 0,
                {{frame(T::Data, 0, batch("../ESCAPE", 1, "x"))}, {frame(T::Done, 0, {})}});
    c.addScript(target, "receive-7bit", 0x80,
                {{frame(T::Data, 0, batch("R.DAT", 3, "abc"))}, {frame(T::Done, 0, {})}});
    std::vector<std::vector<tvk::Frame>> send = {{frame(T::Ready, 0, {})}};
    for (uint16_t n = 1; n <= 8; ++n)
        send.push_back({frame(T::Ack, uint16_t(n - 1), ack(n, n == 8 ? tvk::kAckComplete : 0))});
    c.addScript(target, "send", 1, send);
    c.addScript(target, "send-refused", 1, {{frame(T::Reject, 0, {})}});
    if (!endless) c.addScript(target, "poll", 2, {{frame(T::Record, 1, tvk::encodeRecord({}))}});
    c.addScript(target, "release", 3, {{}, {frame(T::Ua, 0, {})}});
}

// For the endless peer: its last turn repeats for ever.
void floodSeeds(Corpus& c) {
    masterSeeds(c, "fuzz_flood", true);
    // The PC's own START coming back from an echoing line, for ever.
    Bytes echoes{0};
    fuzzline::appendRecord(echoes, frame(T::Start, 1, tvk::encodeStart({0, 0, 0, 0})), false, true);
    c.add("fuzz_flood", "receive-echoes", echoes);
    c.addScript("fuzz_flood", "poll-other-box", 2, {{frame(T::Idle, 0, {}, true, 2)}});
}

void settingsSeeds(Corpus& c) {
    const std::string tail = "/tmp\r\n/tmp\r\n/tmp\r\nALL\r\nHOSTPCID.INF\r\n";
    c.addText("fuzz_hostpcini", "default", "HOSTPC.INI160003080001005003000003\r\n" + tail);
    c.addText("fuzz_hostpcini", "append", "HOSTPC.INI010107070202030010000099\r\n" + tail + "append\r\n");
    c.addText("fuzz_hostpcini", "out-of-range", "HOSTPC.INI99xx-1 9.5 0 9999999991E3\r\nx\r\n\r\ny\r\nlod\r\nID\r\n");
    c.addText("fuzz_hostpcini", "short", "HOSTPC.INI16\nA\nB\nC\nOTR\nF\n");
    c.addText("fuzz_hostpcini", "wrong-tag", "HOSTPC.IN 160003080001005003000003\r\n" + tail);
    c.addText("fuzz_idinf", "default", "hostpcid.inf\r\n&&&&&&,,,\r\n");
    c.addText("fuzz_idinf", "entries", "hdr\r\nA00001,/r,/s,LOD\r\nB00002,\"/a,b\"x,/s,OTR\rC00003,/in\n\nD,,,\r\n");
    c.addText("fuzz_idinf", "unclosed-quote", "hdr\r\n\"A00001,/r\r\nB00002,  /r  ,\t/s,ALL");
    std::string many = "hdr\r\n";
    for (int i = 0; i < 130; ++i) many += "T" + std::to_string(100000 + i) + ",,,ALL\r\n";
    c.addText("fuzz_idinf", "over-128", many);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
        return 2;
    }
    Corpus c{fs::path(argv[1])};
    frameSeeds(c);
    boxSeeds(c);
    masterSeeds(c, "fuzz_master", false);
    floodSeeds(c);
    settingsSeeds(c);
    return 0;
}
