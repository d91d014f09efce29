// A Prompt for tests: answers boxes from a script and records what they showed.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "failure.h"
#include "messages.h"

namespace quendril::test {

struct ShownBox {
    std::string text;
    BoxButtons buttons;
};

class TestPrompt : public Prompt {
public:
    // Answers given to the next boxes, in order; when none is left, an OK box
    // is answered OK and a Retry/Cancel box Cancel.
    std::deque<BoxAnswer> answers;
    std::vector<ShownBox> shown;
    std::vector<Failure> failures;

    BoxAnswer show(const Failure& failure) override {
        const MessageRule rule = messageRule(failure);
        shown.push_back({rule.text, rule.buttons});
        failures.push_back(failure);
        if (!answers.empty()) {
            const BoxAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        return rule.buttons == BoxButtons::Ok ? kAnswerOk : kAnswerCancel;
    }
};

}  // namespace quendril::test
