// A failure as a value, and the face a core operation turns to when one must
// be shown. The rules of which box a failure shows live in messages.h.
#pragma once

#include <cstdint>
#include <string>

namespace quendril {

enum class FailureKind {
    App,      // one of the program's own errors (AppErrCode)
    File,     // a file-system failure (FileErrNumber)
    GivenUp,  // the user cancelled something the program cannot do without; already shown
};

// What the failure concerns; it decides the exit status of an unattended run.
enum class FailureArea { Settings, Line, Files };

struct Failure {
    FailureKind kind = FailureKind::File;
    int16_t code = 0;    // AppErrCode or FileErrNumber
    std::string extra;   // the path or port the box names
    std::string reason;  // the system's own words, for standard error and the log
    FailureArea area = FailureArea::Files;
};

enum class BoxButtons { Ok, RetryCancel };

// Answers of a message box.
enum BoxAnswer : int16_t { kAnswerRetry = 0, kAnswerOk = 1, kAnswerCancel = 2 };

// Where failures are shown: the window's boxes, or standard error in an
// unattended run. Called from the thread the run works on.
class Prompt {
public:
    virtual ~Prompt() = default;
    // Shows the box messageRule(failure) describes and returns its answer.
    virtual BoxAnswer show(const Failure& failure) = 0;
};

// The face of an unattended run: never waits for a person. Each box's text
// goes to standard error on one line (with the system's reason); a
// Retry/Cancel box is answered Cancel, an OK box OK.
class StderrPrompt : public Prompt {
public:
    BoxAnswer show(const Failure& failure) override;
};

}  // namespace quendril
