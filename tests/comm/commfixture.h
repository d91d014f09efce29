// A scripted stand-in for the line library and a recording main window, both
// writing into one timeline so tests can check the order of calls and displays,
// and the fixture that gives every comm test a fresh Run and directories.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "appendjob.h"
#include "filebytes.h"
#include "messages.h"
#include "run.h"
#include "tempdir.h"
#include "testprompt.h"

namespace quendril::test {

// One record answer of tvk_getcinffirst / tvk_getcinfnext.
struct RecordAnswer {
    CommInfo info;
    int16_t result = 0;
};

CommInfo makeRecord(const std::string& id, int32_t transDir, int32_t transType = 0);

class FakeTvk {
public:
    explicit FakeTvk(std::vector<std::string>& timeline);
    ~FakeTvk();
    FakeTvk(const FakeTvk&) = delete;
    FakeTvk& operator=(const FakeTvk&) = delete;

    // Functions that reach the fake alive at the time of the call.
    static const TvkTable& table();

    int16_t openResult = 0;
    // Exhausted scripts answer: polls -11 (so no loop can run forever),
    // records -3, jobs 0, error words 0, ID registrations 0.
    std::deque<int16_t> pollResults;
    std::deque<RecordAnswer> records;
    std::deque<int16_t> jobResults;
    std::deque<int16_t> errWords;
    std::deque<int16_t> idAddResults;
    // Runs inside tvk_filerecv / tvk_filesend with the directory or pattern.
    std::function<void(const std::string&, CommInfo&)> onTransfer;
    std::function<void()> onPoll;  // runs inside every tvk_polling
    // The check callback the program installed, for tests that play the
    // library's questions.
    tvk_check_fn checkFn = nullptr;
    void* checkUser = nullptr;

    std::vector<std::string> registeredIds;
    OpenParam lastOpenParam{};
    std::vector<CommInfo> sentRecords;       // as handed to tvk_filesend
    std::vector<std::string> transferTexts;  // directories and patterns
    std::vector<int32_t> disconnectModes;

    // Set by tvk_stopreq, from any thread: the running or next poll or
    // transfer returns -11, once.
    std::atomic<bool> stopPending{false};

    int calls(const std::string& name) const;

    static FakeTvk* active;
    std::vector<std::string>& timeline;
};

class RecordingView : public RunView {
public:
    explicit RecordingView(std::vector<std::string>& timeline) : timeline_(timeline) {}

    int highestCell = -1;  // the highest cell dispHTID drew a terminal in

    void dispStatus(int16_t stat, int16_t kind, const std::string& htid) override {
        note("status " + std::to_string(stat) + " " + std::to_string(kind) + " " + htid);
    }
    void dispHTID(int16_t winNum, const std::string& htid, int16_t stat) override {
        if (!htid.empty()) highestCell = std::max<int>(highestCell, winNum);
        note("cell " + std::to_string(winNum) + " " + (htid.empty() ? "clear" : htid) + " " + std::to_string(stat));
    }
    void dispErrStat(const std::string& htid, int16_t errCode) override {
        note("err " + htid + " " + std::to_string(errCode));
    }
    void commInfoOn() override { note("on"); }
    void commInfoOff() override { note("off"); }
    void writeScale(int16_t percent) override { note("scale " + std::to_string(percent)); }
    void setIconCaption(int16_t captionNum) override { note("icon " + std::to_string(captionNum)); }
    void dispPending(const PendingJob& job) override {
        note("pending " + job.htId + " " + (job.appended ? "appended" : "kept"));
    }
    void hideErrorPanel() override { note("hideErr"); }
    void hideScalePanel() override { note("hideScale"); }

private:
    void note(const std::string& entry) { timeline_.push_back(entry); }
    std::vector<std::string>& timeline_;
};

// Entries of timeline that start with prefix, in order.
std::vector<std::string> entriesWith(const std::vector<std::string>& timeline, const std::string& prefix);

class CommTest : public ::testing::Test {
protected:
    ScopedWorkDir work;
    TestPrompt prompt;
    std::vector<std::string> timeline;
    FakeTvk fake{timeline};
    RecordingView view{timeline};
    quendril::Run run{FakeTvk::table(), view, prompt, makeDir("TEMP")};
    Settings& settings = run.settings;
    const std::string& tempDir = run.tempDir;

    void SetUp() override {
        settings.ioBoxCount = "16";
        settings.fileKind = "ALL";
        settings.recvDir = makeDir("recv");
        settings.sendDir = makeDir("send");
        settings.apDir = makeDir("ap");
    }
    void TearDown() override {
        if (HasFailure()) {
            for (const ShownBox& box : prompt.shown) std::cerr << "box shown: " << box.text << "\n";
        }
    }
    std::string makeDir(const std::string& name) {
        const std::filesystem::path p = work.path() / name;
        std::filesystem::create_directories(p);
        return p.string();
    }
    // Names of every entry of dir, sorted.
    static std::vector<std::string> entriesIn(const std::string& dir) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    void addEntry(const std::string& id, const std::string& recv = "", const std::string& send = "",
                  const std::string& kind = "   ") {
        run.terminals.push_back({id, recv, send, kind});
    }
    // A run like this test's that asks p instead: its own failure rule.
    std::unique_ptr<quendril::Run> runAsking(Prompt& p) {
        auto other = std::make_unique<quendril::Run>(FakeTvk::table(), view, p, tempDir);
        other->settings = settings;
        other->terminals = run.terminals;
        other->records = run.records;
        return other;
    }
    // Entries of the timeline that start with prefix.
    std::vector<std::string> seen(const std::string& prefix) const { return entriesWith(timeline, prefix); }
};

}  // namespace quendril::test
