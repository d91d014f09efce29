#include "runview.h"

namespace quendril {

namespace {

// Stands in while no window is installed: the run goes on, nothing is drawn.
class NoRunView final : public RunView {
public:
    void dispStatus(int16_t, int16_t, const std::string&) override {}
    void dispHTID(int16_t, const std::string&, int16_t) override {}
    void dispErrStat(std::string&, int16_t) override {}
    void commInfoOn() override {}
    void commInfoOff() override {}
    void writeScale(int16_t) override {}
    void setIconCaption(int16_t) override {}
    void dispPending(const PendingJob&) override {}
    void hideErrorPanel() override {}
    void hideScalePanel() override {}
    void yieldEvents() override {}
};

NoRunView noView;
RunView* current = &noView;

}  // namespace

void setRunView(RunView* view) { current = view ? view : &noView; }

RunView& runView() { return *current; }

}  // namespace quendril
