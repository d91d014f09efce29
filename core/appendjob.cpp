#include "appendjob.h"

#include <algorithm>
#include <charconv>

#include "commint.h"
#include "filehelpers.h"

namespace quendril {

namespace {

// The library's own partial files, which are never copies.
constexpr const char* kPartPrefix = ".tvk-part-";
// Constant memory whatever the file's size.
constexpr std::size_t kCopyBlock = 64 * 1024;

constexpr const char* kStartedSuffix = ".recv";
constexpr const char* kCommittedSuffix = ".job";
constexpr const char* kJournalSuffix = ".append";
// What Directory::writeDurably leaves when it is killed half-way.
constexpr const char* kFreshSuffix = ".new";

// Removes the companions of job base in temp, the commit first, so that a
// kill in between leaves at most an uncommitted job.
void removeCompanions(const Directory& temp, const std::string& base) {
    for (const char* suffix : {kCommittedSuffix, kJournalSuffix, kStartedSuffix}) {
        temp.remove(base + suffix);
        temp.remove(base + suffix + kFreshSuffix);
    }
}

std::string hexOf(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

bool bytesOfHex(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned v = 0;
        const auto r = std::from_chars(hex.data() + i, hex.data() + i + 2, v, 16);
        if (r.ec != std::errc() || r.ptr != hex.data() + i + 2) return false;
        bytes += static_cast<char>(v);
    }
    return true;
}

// Splits "a\nb\n..." into exactly n lines; false for anything else.
bool splitLines(const std::string& text, std::size_t n, std::vector<std::string>& lines) {
    lines.clear();
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        if (end == std::string::npos) return false;
        lines.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return lines.size() == n;
}

// Whose files a job holds and where they belong. Directory paths and names
// never hold a line end; the ID may hold any byte, so it is written in hex.
struct Marker {
    std::string htId;
    std::string destDir;
};

std::string markerText(const Marker& m) { return hexOf(m.htId) + "\n" + m.destDir + "\n"; }

bool readMarker(const Directory& temp, const std::string& name, Marker& m) {
    std::string text;
    std::vector<std::string> lines;
    return !temp.readAll(name, text) && splitLines(text, 2, lines) && bytesOfHex(lines[0], m.htId) &&
           !(m.destDir = lines[1]).empty();
}

struct Journal {
    std::string copy;
    std::string dest;
    std::uint64_t lengthBefore = 0;
};

std::string journalText(const Journal& j) {
    return j.copy + "\n" + j.dest + "\n" + std::to_string(j.lengthBefore) + "\n";
}

bool readJournal(const Directory& temp, const std::string& name, Journal& j) {
    std::string text;
    std::vector<std::string> lines;
    if (temp.readAll(name, text) || !splitLines(text, 3, lines)) return false;
    j.copy = lines[0];
    j.dest = lines[1];
    const auto r = std::from_chars(lines[2].data(), lines[2].data() + lines[2].size(), j.lengthBefore);
    return r.ec == std::errc() && r.ptr == lines[2].data() + lines[2].size();
}

// The destination's namesake of a copy: the exact upper-case name, else an
// entry equal in any letter case, else the upper-cased name.
std::string namesake(const std::vector<std::string>& destNames, const std::string& copy) {
    const std::string upper = upperName(copy);
    const std::string* match = nullptr;
    for (const std::string& name : destNames) {
        if (name == upper) return name;
        if (!match && upperName(name) == upper) match = &name;
    }
    return match ? *match : upper;
}

std::string joinPath(const std::string& dir, const std::string& name) {
    std::string p = dir;
    appendSeparator(p);
    return p + name;
}

enum class Repair { Done, Conflict };

// Appends the copies of one job directory (base, inside temp) into dest.
class Appender {
public:
    Appender(const Directory& temp, const Directory& job, const Directory& dest, std::string base)
        : temp_(temp), job_(job), dest_(dest), base_(std::move(base)) {
        dest_.list(destNames_);
    }

    std::vector<std::string> copies() const {
        std::vector<std::string> names, out;
        job_.list(names);
        for (const std::string& n : names) {
            if (n.rfind(kPartPrefix, 0) != 0 && job_.status(n).kind == EntryKind::File) out.push_back(n);
        }
        return out;
    }

    std::string destPath(const std::string& copy) const { return joinPath(dest_.path(), namesake(destNames_, copy)); }

    // One copy onto the end of its namesake, then the copy is removed. A
    // stop cuts it back (operation_canceled).
    std::error_code appendOne(const std::string& copy, const std::atomic<bool>* stop = nullptr) {
        const std::string destName = namesake(destNames_, copy);
        OpenFile out, in;
        std::uint64_t before = 0;
        std::error_code ec;
        if ((ec = dest_.openForAppend(destName, out)) || (ec = out.size(before))) return ec;
        if (std::find(destNames_.begin(), destNames_.end(), destName) == destNames_.end()) destNames_.push_back(destName);
        if ((ec = job_.openForRead(copy, in))) return ec;
        if ((ec = temp_.writeDurably(journalName(), journalText({copy, destName, before})))) return ec;
        if ((ec = copyAll(in, out, stop)) || (ec = out.sync())) {
            // Cut back, so a retry or the next start never appends twice.
            out.truncate(before);
            out.sync();
            temp_.remove(journalName());
            return ec;
        }
        // The copy goes only once its bytes are on disk in the destination.
        if ((ec = job_.remove(copy)) || (ec = job_.sync())) return ec;
        return temp_.remove(journalName());
    }

    // Settles the append a kill interrupted, as the journal tells it.
    Repair repair() {
        if (temp_.status(journalName()).kind == EntryKind::Missing) return Repair::Done;
        Journal j;
        if (!readJournal(temp_, journalName(), j)) return Repair::Conflict;
        const EntryStatus copy = job_.status(j.copy);
        if (copy.kind == EntryKind::Missing) return finishRepair();
        const EntryStatus dest = dest_.status(j.dest);
        if (dest.kind == EntryKind::Missing && j.lengthBefore == 0) return finishRepair();
        if (dest.kind != EntryKind::File || dest.size < j.lengthBefore || dest.size > j.lengthBefore + copy.size) {
            return Repair::Conflict;  // changed by someone else: leave it to a person
        }
        OpenFile out;
        if (dest_.openForAppend(j.dest, out)) return Repair::Conflict;
        if (dest.size == j.lengthBefore + copy.size) {
            if (out.sync() || job_.remove(j.copy) || job_.sync()) return Repair::Conflict;
        } else if (out.truncate(j.lengthBefore) || out.sync()) {
            return Repair::Conflict;
        }
        return finishRepair();
    }

    // Removes the job's companions and its directory, which holds at most
    // partial files the library never finished.
    void finish() {
        removeCompanions(temp_, base_);
        removeJobDir(temp_, base_);
    }

private:
    std::string journalName() const { return base_ + kJournalSuffix; }
    Repair finishRepair() { return temp_.remove(journalName()) ? Repair::Conflict : Repair::Done; }

    static std::error_code copyAll(OpenFile& in, OpenFile& out, const std::atomic<bool>* stop) {
        std::vector<char> buf(kCopyBlock);
        for (;;) {
            if (stop && stop->load()) return std::make_error_code(std::errc::operation_canceled);
            std::size_t got = 0;
            if (const std::error_code ec = in.read(buf.data(), buf.size(), got)) return ec;
            if (got == 0) return {};
            if (const std::error_code ec = out.append(buf.data(), got)) return ec;
        }
    }

    const Directory& temp_;
    const Directory& job_;
    const Directory& dest_;
    std::string base_;
    std::vector<std::string> destNames_;
};

bool isDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// A committed job found at a start: appended without boxes.
bool resumeCommitted(const Directory& temp, const Directory& job, const std::string& base, const Marker& m,
                     const std::atomic<bool>* stop) {
    Directory dest;
    if (dest.open(m.destDir)) return false;
    Appender appender(temp, job, dest, base);
    if (appender.repair() != Repair::Done) return false;
    for (const std::string& copy : appender.copies()) {
        if (appender.appendOne(copy, stop)) return false;
    }
    appender.finish();
    return true;
}

}  // namespace

std::optional<AppendJob> AppendJob::begin(Files& files, const std::string& tempDir, const std::string& htId,
                                          const std::string& destDir) {
    AppendJob job;
    job.job_ = makeJobDir(files, tempDir, "RECV");
    if (job.job_.path.empty()) return std::nullopt;
    job.htId_ = htId;
    job.destDir_ = destDir;
    // Without this note a leftover of the job would be kept for a person to
    // look at, never discarded: losing it costs nothing worse.
    job.job_.parent.writeDurably(job.job_.name + kStartedSuffix, markerText({htId, destDir}));
    return job;
}

bool AppendJob::commit() {
    committed_ = !job_.parent.writeDurably(job_.name + kCommittedSuffix, markerText({htId_, destDir_}));
    return committed_;
}

bool AppendJob::append(Files& files, const std::atomic<bool>& stop) {
    Directory dest;
    if (!files.run(destDir_, [&] { return dest.open(destDir_); })) return false;
    Appender appender(job_.parent, job_.handle, dest, job_.name);
    bool all = true;
    for (const std::string& copy : appender.copies()) {
        if (stop.load()) return false;
        std::error_code stopped;
        const bool done = files.run(appender.destPath(copy), [&] {
            const std::error_code ec = appender.appendOne(copy, &stop);
            // A stop is no failure to show: the copy stays pending.
            if (ec == std::errc::operation_canceled) stopped = ec;
            return stopped ? std::error_code{} : ec;
        });
        if (stopped) return false;
        all = done && all;
    }
    if (all) appender.finish();
    return all;
}

void AppendJob::discard() {
    removeJobDir(job_.parent, job_.name);
    removeCompanions(job_.parent, job_.name);
}

bool appendTargetUsable(const std::string& destDir, const std::string& name) {
    Directory dest;
    if (dest.open(destDir)) return true;  // the append reports a missing directory itself
    std::vector<std::string> names;
    dest.list(names);
    const EntryKind kind = dest.status(namesake(names, name)).kind;
    return kind == EntryKind::Missing || kind == EntryKind::File;
}

std::vector<PendingJob> resumePendingAppends(const std::string& tempFolder, const std::atomic<bool>* stop) {
    std::vector<PendingJob> found;
    Directory temp;
    std::vector<std::string> names;
    if (temp.open(tempFolder) || temp.list(names)) return found;
    for (const std::string& name : names) {
        const std::string prefix = name.substr(0, 4);
        const std::size_t dot = name.find('.');
        const std::string base = name.substr(0, dot);
        if ((prefix != "RECV" && prefix != "SEND") || !isDigits(base.substr(4))) continue;
        if (dot != std::string::npos) {
            // A companion whose job directory is gone has nothing left to tell.
            if (temp.status(base).kind == EntryKind::Missing) removeCompanions(temp, base);
            continue;
        }
        if (temp.status(name).kind != EntryKind::Directory) continue;
        Directory job;
        if (job.open(joinPath(tempFolder, name)) || job.lock()) continue;  // another program's job
        Marker committed, started;
        const bool isCommitted = readMarker(temp, name + kCommittedSuffix, committed);
        if (prefix == "SEND" || (!isCommitted && readMarker(temp, name + kStartedSuffix, started))) {
            // Staging copies, or copies the terminal still holds and sends again.
            removeJobDir(temp, name);
            removeCompanions(temp, name);
            continue;
        }
        std::vector<std::string> left;
        job.list(left);
        if (!isCommitted && left.empty()) {
            temp.removeDirectory(name);
            continue;
        }
        PendingJob pending{committed.htId, committed.destDir, joinPath(tempFolder, name), false};
        // A job without companions came from an older version: its state is
        // unknown, so it stays for a person to look at.
        if (isCommitted) pending.appended = resumeCommitted(temp, job, name, committed, stop);
        found.push_back(pending);
    }
    return found;
}

}  // namespace quendril
