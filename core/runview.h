// What the run shows: the display operations of the main window. The window
// implements it (handing each call to its own thread); tests record it.
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
    // The error line: htid (or a port name) and the text of errCode; nothing for 0.
    virtual void dispErrStat(const std::string& htid, int16_t errCode) = 0;
    virtual void commInfoOn() = 0;
    virtual void commInfoOff() = 0;
    virtual void writeScale(int16_t percent) = 0;
    virtual void setIconCaption(int16_t captionNum) = 0;
    // Tells what became of received copies an earlier run left pending.
    virtual void dispPending(const PendingJob& job) = 0;
    virtual void hideErrorPanel() = 0;   // fraErrorInfo
    virtual void hideScalePanel() = 0;   // fraScale
};

}  // namespace quendril
