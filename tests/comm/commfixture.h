// Every comm test gets a fresh Run and directories, the scripted line and a
// main window that records into the line's timeline, so the order of calls
// and displays shows.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "fakeline.h"
#include "filebytes.h"
#include "run.h"
#include "tempdir.h"
#include "testprompt.h"

namespace quendril::test {

using Strings = std::vector<std::string>;

class CommTest : public ::testing::Test {
protected:
    ScopedWorkDir work;
    TestPrompt prompt;
    FakeLine fake;
    Strings& timeline = fake.timeline;
    RecordingView view{[this](const std::string& entry) { fake.log(entry); }};
    quendril::Run run{FakeLine::table(), view, prompt, makeDir("TEMP")};
    Settings& settings = run.settings;
    const std::string& tempDir = run.tempDir;

    void SetUp() override {
        settings.ioBoxCount = "16";
        settings.fileKind = "ALL";
        settings.recvDir = makeDir("recv");
        settings.sendDir = makeDir("send");
        settings.apDir = makeDir("ap");
    }
    std::string makeDir(const std::string& name) {
        const std::filesystem::path p = work.path() / name;
        std::filesystem::create_directories(p);
        return p.string();
    }
    static Strings entriesIn(const std::string& dir) {
        Strings names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Entries of the timeline that start with prefix, in order.
    Strings seen(const std::string& prefix) const {
        Strings out;
        std::copy_if(timeline.begin(), timeline.end(), std::back_inserter(out),
                     [&](const std::string& e) { return e.starts_with(prefix); });
        return out;
    }
};

}  // namespace quendril::test
