// Fresh globals, a fresh working directory, the scripted library and the
// recording window for every comm test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "comm.h"
#include "declar.h"
#include "fake_tvk.h"
#include "filebytes.h"
#include "filehelpers.h"
#include "messages.h"
#include "tempdir.h"
#include "testhost.h"

namespace quendril::test {

class CommTest : public ::testing::Test {
protected:
    ScopedWorkDir work;
    TestHost host;
    std::vector<std::string> timeline;
    FakeTvk fake{timeline};
    RecordingView view{timeline};

    void SetUp() override {
        EnvSettings = EnvSettingsRecord{};
        EnvSettings.ioBoxCount = "16";
        EnvSettings.fileKind = "ALL";
        EnvSettings.recvDir = makeDir("recv");
        EnvSettings.sendDir = makeDir("send");
        EnvSettings.apDir = makeDir("ap");
        HtIdTable = {};
        htIdCount = 0;
        stopRequested = false;
        commInfoList.clear();
        tempDir = makeDir("TEMP");
        clearFileFaults();
        setRepollClock(nullptr);
    }
    void TearDown() override {
        if (HasFailure()) {
            for (const ShownBox& box : host.shown) std::cerr << "box shown: " << box.text << "\n";
        }
        clearFileFaults();
        setRepollClock(nullptr);
    }

    std::string makeDir(const std::string& name) {
        const std::filesystem::path p = work.path() / name;
        std::filesystem::create_directories(p);
        return p.string();
    }
    // Names of every entry of dir, sorted.
    static std::vector<std::string> entriesIn(const std::string& dir) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string bytes(std::size_t n, char seed) {
        std::string s(n, '\0');
        for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + static_cast<char>(i % 61));
        return s;
    }
    void addEntry(const std::string& id, const std::string& recv = "", const std::string& send = "",
                  const std::string& kind = "   ") {
        HtIdTable[static_cast<std::size_t>(htIdCount)] = HtIdEntry{id, recv, send, kind};
        ++htIdCount;
    }
};

}  // namespace quendril::test
