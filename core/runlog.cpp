#include <time.h>

#include <algorithm>
#include <charconv>
#include <ctime>
#include <cstdio>
#include <set>

#include "runlog.h"

namespace quendril {

namespace {

using std::chrono::system_clock;

std::string utcTime(system_clock::time_point t) {
    using namespace std::chrono;
    const auto secs = floor<seconds>(t);
    const auto day = floor<days>(secs);
    const year_month_day date{day};
    const hh_mm_ss clock{secs - day};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return buf;
}

// to_chars, not printf: the program runs under the user's locale, whose
// decimal comma would split the CSV field.
std::string fixed3(double value) {
    char buf[400];  // the largest double in fixed notation with 3 decimals fits
    return {buf, std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3).ptr};
}

std::string hex4(std::uint16_t value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(value));
    return buf;
}

std::string csvField(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string out = "\"";
    for (const char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

// Control bytes of an ID would move the cursor or send escapes to the console.
std::string printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return text;
}

std::string counted(std::size_t n, const std::string& noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// The length of the log's whole lines: up to just after its last line end
// outside quotes, as an ID may hold a quoted line end.
std::error_code wholeLength(const Directory& dir, std::uint64_t& length) {
    OpenFile file;
    if (const std::error_code ec = dir.openForRead(kRunLogName, file)) return ec;
    std::string buf(64 * 1024, '\0');
    bool inQuotes = false;
    std::uint64_t pos = 0;
    length = 0;
    for (;;) {
        std::size_t got = 0;
        if (const std::error_code ec = file.read(buf.data(), buf.size(), got)) return ec;
        if (got == 0) return {};
        for (std::size_t i = 0; i < got; ++i) {
            ++pos;
            if (buf[i] == '"') inQuotes = !inQuotes;
            else if (buf[i] == '\n' && !inQuotes) length = pos;
        }
    }
}

// Opens the log for appending, holding only whole lines; size is its length.
std::error_code openLog(const Directory& dir, OpenFile& file, std::uint64_t& size) {
    if (const std::error_code ec = dir.openForAppend(kRunLogName, file)) return ec;
    if (const std::error_code ec = file.size(size)) return ec;
    if (size == 0) return {};
    std::uint64_t whole = 0;
    if (const std::error_code ec = wholeLength(dir, whole)) return ec;
    if (whole >= size) return {};
    // A tail torn by a power loss would join the next line.
    if (const std::error_code ec = file.truncate(whole)) return ec;
    size = whole;
    return {};
}

}  // namespace

std::string runLogHeader() { return "time,box,terminal,job,files,bytes,seconds,result,status,status text"; }

std::string runLogLine(const JobRecord& job) {
    return utcTime(job.started) + "," + std::to_string(job.box) + "," + csvField(job.htId) + "," + csvField(job.job) +
           "," + std::to_string(job.files) + "," + std::to_string(job.bytes) + "," + fixed3(job.seconds) + "," +
           csvField(job.result) + "," + hex4(job.status) + "," + csvField(job.statusText);
}

std::error_code appendRunLog(const Directory& dir, const JobRecord& job, std::uint64_t limit) {
    const std::string line = runLogLine(job) + '\n';
    OpenFile file;
    std::uint64_t size = 0;
    if (const std::error_code ec = openLog(dir, file, size)) return ec;
    if (size > 0 && size + line.size() > limit) {
        if (const std::error_code ec = dir.rename(kRunLogName, std::string(kRunLogName) + ".1")) return ec;
        if (const std::error_code ec = dir.sync()) return ec;
        if (const std::error_code ec = openLog(dir, file, size)) return ec;
    }
    const bool fresh = size == 0;
    // One write: a kill leaves the line whole or absent.
    const std::string text = fresh ? runLogHeader() + '\n' + line : line;
    if (const std::error_code ec = file.append(text.data(), text.size())) return ec;
    if (const std::error_code ec = file.sync()) return ec;
    // A newly created log must not vanish with a crash.
    return fresh ? dir.sync() : std::error_code{};
}

std::string runTable(const std::vector<JobRecord>& jobs) {
    using Row = std::vector<std::string>;
    constexpr bool kRight[] = {true, false, false, true, true, true, false, false};
    std::vector<Row> rows = {{"Box", "Terminal", "Job", "Files", "Bytes", "Seconds", "Result", "Status"}};
    int files = 0;
    std::uint64_t bytes = 0;
    double seconds = 0;
    std::size_t done = 0;
    for (const JobRecord& j : jobs) {
        rows.push_back({std::to_string(j.box), printable(j.htId), printable(j.job), std::to_string(j.files),
                        std::to_string(j.bytes), fixed3(j.seconds), printable(j.result), printable(j.statusText)});
        files += j.files;
        bytes += j.bytes;
        seconds += j.seconds;
        done += j.result == "done";
    }
    rows.push_back({"", "Total", counted(jobs.size(), "job"), std::to_string(files), std::to_string(bytes),
                    fixed3(seconds), std::to_string(done) + " done", ""});

    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const Row& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    std::string out;
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string pad(widths[c] - row[c].size(), ' ');
            line += (c ? "  " : "") + (kRight[c] ? pad + row[c] : row[c] + pad);
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out += line + '\n';
    }
    return out;
}

std::string lastRunLine(const std::vector<JobRecord>& jobs, system_clock::time_point ended) {
    const std::time_t t = system_clock::to_time_t(ended);
    std::tm local{};
    localtime_r(&t, &local);
    char hhmm[8];
    std::snprintf(hhmm, sizeof hhmm, "%02d:%02d", local.tm_hour, local.tm_min);

    std::set<std::string> terminals;
    std::size_t done = 0;
    for (const JobRecord& j : jobs) {
        terminals.insert(j.htId);
        done += j.result == "done";
    }
    const std::string what = jobs.empty() ? "no terminal served"
                                          : counted(terminals.size(), "terminal") + ", " + std::to_string(done) +
                                                " done, " + std::to_string(jobs.size() - done) + " error end";
    return "Last run " + std::string(hhmm) + ": " + what + " - see " + kRunLogName;
}

void appendToRunLog(const std::string& folder, const JobRecord& job) {
    Directory dir;
    if (!dir.open(folder)) appendRunLog(dir, job);
}

}  // namespace quendril
