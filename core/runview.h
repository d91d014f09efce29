// What the run needs from the main window: its display operations and a
// yield to the event loop. The main window implements it; tests record it.
#pragma once

#include <cstdint>
#include <string>

namespace quendril {

struct PendingJob;

class RunView {
public:
    virtual ~RunView() = default;
    virtual void dispStatus(int16_t stat, int16_t kind, const std::string& htid) = 0;
    virtual void dispHTID(int16_t winNum, const std::string& htid, int16_t stat) = 0;
    // Replaces the wildcard ID in htid by its doubled form, as the window shows it.
    virtual void dispErrStat(std::string& htid, int16_t errCode) = 0;
    virtual void commInfoOn() = 0;
    virtual void commInfoOff() = 0;
    virtual void writeScale(int16_t percent) = 0;
    virtual void setIconCaption(int16_t captionNum) = 0;
    // Tells what became of received copies an earlier run left pending.
    virtual void dispPending(const PendingJob& job) = 0;
    virtual void hideErrorPanel() = 0;   // fraErrorInfo
    virtual void hideScalePanel() = 0;   // fraScale
    // Processes pending window events (Cancel, notifications, close requests).
    virtual void yieldEvents() = 0;
};

// Installs the view the run draws on; nullptr installs one that shows nothing.
void setRunView(RunView* view);
RunView& runView();

}  // namespace quendril
