// A Host for tests: answers message boxes from a script, records what they
// showed, and turns "end the program" into an exception the test can catch.
#pragma once

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "host.h"

namespace quendril::test {

struct ProgramEnded : std::runtime_error {
    int exitCode;
    explicit ProgramEnded(int code) : std::runtime_error("program ended"), exitCode(code) {}
};

struct ShownBox {
    std::string text;
    BoxButtons buttons;
};

class TestHost : public Host {
public:
    // Answers given to the next boxes, in order; when none is left, an OK box
    // is answered OK and a Retry/Cancel box Cancel.
    std::deque<int16_t> answers;
    std::vector<ShownBox> shown;
    int endCount = 0;

    TestHost() { setHost(this); }
    ~TestHost() override { setHost(nullptr); }
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    int16_t messageBox(const std::string& text, BoxButtons buttons) override {
        shown.push_back({text, buttons});
        if (!answers.empty()) {
            int16_t a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == BoxButtons::Ok ? kAnswerOk : kAnswerCancel;
    }
    [[noreturn]] void endProgram(int exitCode) override {
        ++endCount;
        throw ProgramEnded(exitCode);
    }
};

}  // namespace quendril::test
