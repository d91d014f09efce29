// The narrow seam through which the core reaches the screen's message boxes
// and ends the program. The program installs a host backed by its windows;
// tests install one that answers the boxes and records what they showed.
#pragma once

#include <cstdint>
#include <string>

namespace quendril {

enum class BoxButtons { Ok, RetryCancel };

// Answers of a message box, as dispFileErr returns them.
enum BoxAnswer : int16_t { kAnswerRetry = 0, kAnswerOk = 1, kAnswerCancel = 2 };

class Host {
public:
    virtual ~Host() = default;
    // A modal warning box titled "QUENDRIL" showing text; returns the answer.
    virtual int16_t messageBox(const std::string& text, BoxButtons buttons) = 0;
    // Closes the main window (its unload handling runs) and ends the program
    // at once. Must not return: a test host throws instead.
    [[noreturn]] virtual void endProgram(int exitCode) = 0;
};

// Installs h; nullptr restores the console host (box texts on stderr,
// Retry/Cancel boxes answered Cancel, endProgram exits the process).
void setHost(Host* h);
Host& host();

// Ends the program through the host; never returns.
[[noreturn]] void endProgram(int exitCode);

}  // namespace quendril
