#include "timeline.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quendril::bench {

namespace {

// What a stretch of frames is doing on the line.
enum class Activity { Poll, Job, Release };

Activity activityOf(const std::string& type) {
    if (type == "POLL" || type == "RECORD" || type == "IDLE" || type == "NOTERM") return Activity::Poll;
    if (type == "DISC" || type == "UA") return Activity::Release;
    return Activity::Job;
}

bool isData(const LoggedFrame& f) { return f.type == "DATA" || f.type == "FRAG"; }

// Frames [first, last] of one activity; a START always opens a new one.
struct Stretch {
    Activity activity;
    std::size_t first;
    std::size_t last;
};

std::vector<Stretch> stretchesOf(const std::vector<LoggedFrame>& frames) {
    std::vector<Stretch> out;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Activity a = activityOf(frames[i].type);
        if (out.empty() || out.back().activity != a || frames[i].type == "START") out.push_back({a, i, i});
        else out.back().last = i;
    }
    return out;
}

// Line time of a frame on an 8-bit line: address, control, sequence and
// CRC around the payload, stuffing codes, the delimiter; a control frame
// also starts after a silence, with one more delimiter. Stuffing depends on
// the bytes, so when lineemu's count of the characters it carried is known,
// the data frames are scaled to match it.
class LineTime {
public:
    LineTime(const std::vector<LoggedFrame>& frames, double charsPerSecond, double lineChars)
        : charsPerMs_(charsPerSecond / 1000) {
        double data = 0, control = 0;
        for (const LoggedFrame& f : frames) (isData(f) ? data : control) += chars(f);
        if (lineChars > control && data > 0) dataScale_ = (lineChars - control) / data;
    }
    double of(const LoggedFrame& f) const { return chars(f) * (isData(f) ? dataScale_ : 1) / charsPerMs_; }

private:
    // At most one stuffing code per 254 characters.
    static double chars(const LoggedFrame& f) {
        const std::size_t body = 8 + f.len;
        return static_cast<double>(body + 1 + body / 254 + 1 + (isData(f) ? 0 : 1));
    }
    double charsPerMs_;
    double dataScale_ = 1;
};

// Milliseconds of one job, by what the line was doing.
struct JobTimes {
    double span = 0;           // START sent to the job's last frame
    double start = 0;          // START to READY, or to the first data frame's start on the line
    double dataLine = 0;       // line time of the data frames
    double pcStore = 0;        // last data frame received to the final RR: the PC stores the files
    double terminalStore = 0;  // last data frame off the line to the final ACK: the terminal stores them
    double acks() const { return span - start - dataLine - pcStore - terminalStore; }
};

std::size_t findType(const std::vector<LoggedFrame>& f, std::size_t from, std::size_t to, const char* type) {
    for (std::size_t i = from; i <= to; ++i)
        if (f[i].type == type) return i;
    return to + 1;
}

// The PC received the stream: its final RR waits until the files are on disk.
void receiveEnd(const std::vector<LoggedFrame>& f, const Stretch& s, JobTimes& t) {
    std::size_t lastData = s.last;
    while (lastData > s.first && !(isData(f[lastData]) && !f[lastData].sent)) --lastData;
    if (lastData == s.first) return;
    for (std::size_t i = lastData + 1; i < s.last; ++i) {
        if (f[i].sent) {
            t.pcStore = f[i].ms - f[lastData].ms;
            return;
        }
    }
}

// The PC sent the stream: the frames leave the line one after the other
// from the moment they were handed to the port.
void sendEnd(const std::vector<LoggedFrame>& f, const Stretch& s, const LineTime& line, JobTimes& t) {
    double lineFree = 0;
    for (std::size_t i = s.first; i < s.last; ++i)
        lineFree = f[i].sent ? std::max(lineFree, f[i].ms) + line.of(f[i]) : std::max(lineFree, f[i].ms);
    t.terminalStore = std::max(0.0, f[s.last].ms - line.of(f[s.last]) - lineFree);
}

JobTimes jobTimes(const std::vector<LoggedFrame>& f, const Stretch& s, const LineTime& line) {
    JobTimes t;
    t.span = f[s.last].ms - f[s.first].ms;
    for (std::size_t i = s.first; i <= s.last; ++i)
        if (isData(f[i])) t.dataLine += line.of(f[i]);
    const std::size_t ready = findType(f, s.first, s.last, "READY");
    if (ready <= s.last) {
        t.start = f[ready].ms - f[s.first].ms;
        if (f[s.last].type == "ACK") sendEnd(f, s, line, t);
        return t;
    }
    for (std::size_t i = s.first; i <= s.last; ++i) {
        if (isData(f[i]) && !f[i].sent) {
            t.start = std::max(0.0, f[i].ms - line.of(f[i]) - f[s.first].ms);
            break;
        }
    }
    if (f[s.last].type == "DONE") receiveEnd(f, s, t);
    return t;
}

struct Totals {
    double polling = 0, release = 0, between = 0;
    JobTimes jobs;
    std::vector<double> jobSpans;
};

Totals addUp(const std::vector<LoggedFrame>& frames, const LineTime& line) {
    Totals sum;
    const std::vector<Stretch> stretches = stretchesOf(frames);
    for (std::size_t k = 0; k < stretches.size(); ++k) {
        const Stretch& s = stretches[k];
        const double span = frames[s.last].ms - frames[s.first].ms;
        if (k + 1 < stretches.size()) sum.between += frames[stretches[k + 1].first].ms - frames[s.last].ms;
        if (s.activity == Activity::Poll) sum.polling += span;
        if (s.activity == Activity::Release) sum.release += span;
        if (s.activity != Activity::Job) continue;
        const JobTimes t = jobTimes(frames, s, line);
        sum.jobs.span += t.span;
        sum.jobs.start += t.start;
        sum.jobs.dataLine += t.dataLine;
        sum.jobs.pcStore += t.pcStore;
        sum.jobs.terminalStore += t.terminalStore;
        sum.jobSpans.push_back(t.span);
    }
    return sum;
}

// The program times each job from before its set-up to after the library
// returned; what it counts beyond the job's frames is set-up and wind-up.
double jobSetUp(const std::vector<double>& jobSeconds, const std::vector<double>& jobSpans) {
    if (jobSeconds.size() != jobSpans.size()) return 0;
    double ms = 0;
    for (std::size_t j = 0; j < jobSpans.size(); ++j) ms += std::max(0.0, jobSeconds[j] * 1000 - jobSpans[j]);
    return ms;
}

}  // namespace

std::vector<LoggedFrame> readFrameLog(const std::filesystem::path& log) {
    std::vector<LoggedFrame> frames;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        // tvk <ms> <dir> box=<n> <type> [P/F] seq=<n> len=<n>
        std::istringstream words(line);
        std::string who, dir, box, word;
        LoggedFrame f;
        if (!(words >> who >> f.ms >> dir >> box >> f.type) || who != "tvk" || (dir != ">" && dir != "<")) continue;
        if (box.rfind("box=", 0) != 0) continue;
        f.sent = dir == ">";
        while (words >> word)
            if (word.rfind("len=", 0) == 0) f.len = std::stoul(word.substr(4));
        frames.push_back(f);
    }
    return frames;
}

std::vector<double> readJobSeconds(const std::filesystem::path& runLog) {
    constexpr int kSecondsColumn = 6;  // time,box,terminal,job,files,bytes,seconds,...
    std::vector<double> seconds;
    std::ifstream in(runLog);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string field;
        for (int c = 0; c <= kSecondsColumn && std::getline(fields, field, ','); ++c) {}
        seconds.push_back(std::strtod(field.c_str(), nullptr));
    }
    return seconds;
}

std::vector<TimeShare> breakDown(const std::vector<LoggedFrame>& frames, const std::vector<double>& jobSeconds,
                                 const RunFacts& facts) {
    if (frames.empty()) return {{"start-up and exit", facts.passSeconds}};
    const LineTime line(frames, facts.charsPerSecond, facts.lineChars);
    const Totals sum = addUp(frames, line);
    const double payloadMs = facts.payloadBytes / facts.charsPerSecond * 1000;
    const double setUp = std::min(sum.between, jobSetUp(jobSeconds, sum.jobSpans));
    const double onLine = frames.back().ms - frames.front().ms;
    const std::vector<std::pair<std::string, double>> ms = {
        {"payload at the line rate", payloadMs},
        {"framing of the data frames", sum.jobs.dataLine - payloadMs},
        {"window acknowledgements", sum.jobs.acks()},
        {"job start", sum.jobs.start},
        {"PC stores received files (sync)", sum.jobs.pcStore},
        {"terminal stores files (htsim)", sum.jobs.terminalStore},
        {"polling", sum.polling},
        {"release", sum.release},
        {"program: job set-up and wind-up", setUp},
        {"program: run log and display", sum.between - setUp},
        {"start-up and exit", facts.passSeconds * 1000 - onLine},
    };
    std::vector<TimeShare> shares;
    for (const auto& [name, value] : ms) shares.push_back({name, value / 1000});
    return shares;
}

}  // namespace quendril::bench
