// A scripted stand-in for the terminal-link library. Runs may call it from
// their own thread: the timeline is kept under a lock, a stop may come from any
// thread, and with `hold` a poll or transfer left without a script waits for it.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "appendjob.h"
#include "runview.h"
#include "tvktable.h"

namespace quendril::test {

struct RecordAnswer {
    CommInfo info;
    int16_t result = 0;
};

CommInfo makeRecord(const std::string& id, int32_t transDir, int32_t transType = 0);

struct FakeLine {
    FakeLine();
    ~FakeLine();
    static const TvkTable& table();
    int calls(const std::string& fn) const;
    // Forgets the calls and what they handed over.
    void clearCounts();
    void log(const std::string& entry);

    int16_t openResult = 0;
    // Exhausted scripts answer: polls -11 (so no loop runs forever), records
    // -3, jobs, error words and ID registrations 0.
    std::deque<int16_t> pollResults, jobResults, errWords, idAddResults;
    std::deque<RecordAnswer> records;
    std::atomic<bool> hold{false};
    // Set by tvk_stopreq: the running or next poll or transfer returns -11, once.
    std::atomic<bool> stopPending{false};
    // Runs inside tvk_filerecv / tvk_filesend with the directory or pattern.
    std::function<void(const std::string&, CommInfo&)> onTransfer;
    std::function<void()> onPoll;
    std::string fileName;  // what tvk_getcomfname answers
    // What the program handed over.
    tvk_check_fn checkFn = nullptr;
    tvk_notify_fn notify = nullptr;
    void *checkUser = nullptr, *notifyUser = nullptr;
    int32_t hwnd = 0, hwndMsg = 0;
    OpenParam lastOpenParam{};
    std::vector<std::string> registeredIds, transferTexts;
    std::vector<CommInfo> sentRecords;
    std::vector<int32_t> disconnectModes;
    // The line calls in order, with their arguments (the set-up calls and the
    // name query are left out).
    std::vector<std::string> timeline;
private:
    mutable std::mutex mutex_;
};

// A main window noting each display: into the fake line's timeline, or nowhere.
class RecordingView : public RunView {
public:
    explicit RecordingView(std::function<void(const std::string&)> note) : note_(std::move(note)) {}
    void dispStatus(int16_t stat, int16_t kind, const std::string& id) override {
        note("status " + std::to_string(stat) + " " + std::to_string(kind) + " " + id);
    }
    void dispHTID(int16_t cell, const std::string& id, int16_t stat) override {
        note("cell " + std::to_string(cell) + " " + (id.empty() ? "clear" : id) + " " + std::to_string(stat));
    }
    void dispErrStat(const std::string& id, int16_t errCode) override { note("err " + id + " " + std::to_string(errCode)); }
    void commInfoOn() override { note("on"); }
    void commInfoOff() override { note("off"); }
    void writeScale(int16_t percent) override { note("scale " + std::to_string(percent)); }
    void setIconCaption(int16_t captionNum) override { note("icon " + std::to_string(captionNum)); }
    void dispPending(const PendingJob& job) override { note("pending " + job.htId); }
    void hideErrorPanel() override { note("hideErr"); }
    void hideScalePanel() override { note("hideScale"); }
private:
    void note(const std::string& entry) { note_(entry); }
    std::function<void(const std::string&)> note_;
};

}  // namespace quendril::test
