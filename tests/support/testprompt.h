// A Prompt for tests: answers boxes from a script and records what they showed.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "failure.h"
#include "messages.h"

namespace quendril::test {

struct ShownBox { std::string text; BoxButtons buttons; };

struct TestPrompt : Prompt {
    // Answers to the next boxes, in order; when none is left, an OK box is
    // answered OK and a Retry/Cancel box Cancel.
    std::deque<BoxAnswer> answers;
    std::vector<ShownBox> shown;
    std::vector<Failure> failures;

    BoxAnswer show(const Failure& failure) override {
        const MessageRule rule = messageRule(failure);
        shown.push_back({rule.text, rule.buttons});
        failures.push_back(failure);
        const BoxAnswer a = answers.empty() ? (rule.buttons == BoxButtons::Ok ? kAnswerOk : kAnswerCancel) : answers.front();
        if (!answers.empty()) answers.pop_front();
        return a;
    }
};

}  // namespace quendril::test
