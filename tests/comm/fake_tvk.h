// A scripted stand-in for the line library and a recording main window, both
// writing into one timeline so tests can check the order of calls and displays.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "comm.h"
#include "runview.h"

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
    // Runs inside every tvk_polling.
    std::function<void()> onPoll;

    std::vector<std::string> registeredIds;
    std::vector<int32_t> pollBoxCounts;
    std::vector<int32_t> openPorts;
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

    static FakeTvk* active;
    std::vector<std::string>& timeline;
    bool takeStop();

private:
    TvkTable saved_;
    bool stopPending_ = false;
};

// What Cancel does in the window: stop the library, then set the flag.
void pressCancel();

class RecordingView : public RunView {
public:
    explicit RecordingView(std::vector<std::string>& timeline);
    ~RecordingView() override;
    RecordingView(const RecordingView&) = delete;
    RecordingView& operator=(const RecordingView&) = delete;

    int yields = 0;
    std::function<void()> onYield;
    // The highest cell number dispHTID was called with (-1 when none).
    int highestCell = -1;

    void dispStatus(int16_t stat, int16_t kind, const std::string& htid) override;
    void dispHTID(int16_t winNum, const std::string& htid, int16_t stat) override;
    void dispErrStat(std::string& htid, int16_t errCode) override;
    void commInfoOn() override;
    void commInfoOff() override;
    void writeScale(int16_t percent) override;
    void setIconCaption(int16_t captionNum) override;
    void hideErrorPanel() override;
    void hideScalePanel() override;
    void yieldEvents() override;

private:
    std::vector<std::string>& timeline_;
};

// Entries of timeline that start with prefix, in order.
std::vector<std::string> entriesWith(const std::vector<std::string>& timeline, const std::string& prefix);

}  // namespace quendril::test
