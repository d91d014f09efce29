// A scripted stand-in for the line library and a recording main window, both
// writing into one timeline so tests can check the order of calls and displays,
// and the fixture that gives every comm test fresh globals and directories.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "appendjob.h"
#include "comm.h"
#include "declar.h"
#include "filebytes.h"
#include "filehelpers.h"
#include "messages.h"
#include "runview.h"
#include "tempdir.h"
#include "testhost.h"

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
    // Each disconnect's record as it came in, and where it lives.
    std::vector<CommInfo> disconnectSeen;
    std::vector<const CommInfo*> disconnectRecords;

    int calls(const std::string& name) const;
    // Makes the running or next poll or transfer return -11, as Cancel does.
    void requestStop() { stopPending_ = true; }
    bool takeStop() { return std::exchange(stopPending_, false); }

    static FakeTvk* active;
    std::vector<std::string>& timeline;

private:
    TvkTable saved_;
    bool stopPending_ = false;
};

// What Cancel does in the window: stop the library, then set the flag.
void pressCancel();

class RecordingView : public RunView {
public:
    explicit RecordingView(std::vector<std::string>& timeline) : timeline_(timeline) { setRunView(this); }
    ~RecordingView() override { setRunView(nullptr); }
    RecordingView(const RecordingView&) = delete;
    RecordingView& operator=(const RecordingView&) = delete;

    int yields = 0;
    std::function<void()> onYield;
    int highestCell = -1;  // the highest cell dispHTID drew a terminal in

    void dispStatus(int16_t stat, int16_t kind, const std::string& htid) override {
        note("status " + std::to_string(stat) + " " + std::to_string(kind) + " " + htid);
    }
    void dispHTID(int16_t winNum, const std::string& htid, int16_t stat) override {
        if (!htid.empty()) highestCell = std::max<int>(highestCell, winNum);
        note("cell " + std::to_string(winNum) + " " + (htid.empty() ? "clear" : htid) + " " + std::to_string(stat));
    }
    void dispErrStat(std::string& htid, int16_t errCode) override { note("err " + htid + " " + std::to_string(errCode)); }
    void commInfoOn() override { note("on"); }
    void commInfoOff() override { note("off"); }
    void writeScale(int16_t percent) override { note("scale " + std::to_string(percent)); }
    void setIconCaption(int16_t captionNum) override { note("icon " + std::to_string(captionNum)); }
    void dispPending(const PendingJob& job) override {
        note("pending " + job.htId + " " + (job.appended ? "appended" : "kept"));
    }
    void hideErrorPanel() override { note("hideErr"); }
    void hideScalePanel() override { note("hideScale"); }
    void yieldEvents() override {
        ++yields;
        if (onYield) onYield();
    }

private:
    void note(const std::string& entry) { timeline_.push_back(entry); }
    std::vector<std::string>& timeline_;
};

// Entries of timeline that start with prefix, in order.
std::vector<std::string> entriesWith(const std::vector<std::string>& timeline, const std::string& prefix);

class CommTest : public ::testing::Test {
protected:
    ScopedWorkDir work;
    TestHost host;
    std::vector<std::string> timeline;
    FakeTvk fake{timeline};
    RecordingView view{timeline};

    void SetUp() override {
        EnvSettings = EnvSettingsRecord{};
        EnvSettings.ioBoxCount = "16";
        EnvSettings.fileKind = "ALL";
        EnvSettings.recvDir = makeDir("recv");
        EnvSettings.sendDir = makeDir("send");
        EnvSettings.apDir = makeDir("ap");
        HtIdTable = {};
        htIdCount = 0;
        stopRequested = false;
        commInfoList.clear();
        tempDir = makeDir("TEMP");
        clearFileFaults();
        setRepollClock(nullptr);
    }
    void TearDown() override {
        if (HasFailure()) {
            for (const ShownBox& box : host.shown) std::cerr << "box shown: " << box.text << "\n";
        }
        clearFileFaults();
        setRepollClock(nullptr);
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
    static std::string bytes(std::size_t n, char seed) {
        std::string s(n, '\0');
        for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + static_cast<char>(i % 61));
        return s;
    }
    void addEntry(const std::string& id, const std::string& recv = "", const std::string& send = "",
                  const std::string& kind = "   ") {
        HtIdTable[static_cast<std::size_t>(htIdCount++)] = HtIdEntry{id, recv, send, kind};
    }
    // Entries of the timeline that start with prefix.
    std::vector<std::string> seen(const std::string& prefix) const { return entriesWith(timeline, prefix); }
};

}  // namespace quendril::test
