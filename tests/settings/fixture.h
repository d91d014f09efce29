// Each settings test runs in a fresh current directory with a scripted host,
// empty program-wide records and no injected faults left over.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "declar.h"
#include "filehelpers.h"
#include "hostpcIni.h"
#include "filebytes.h"
#include "tempdir.h"
#include "testhost.h"

namespace quendril::test {

class SettingsTest : public testing::Test {
protected:
    void SetUp() override {
        clearFileFaults();
        EnvSettings = {};
        htIdCount = 0;
        cwd = std::filesystem::current_path().string();
    }
    void TearDown() override { clearFileFaults(); }

    static std::string joined(const std::vector<std::string>& lines, const std::string& eol) {
        std::string out;
        for (const std::string& l : lines) out += l + eol;
        return out;
    }

    ScopedWorkDir dir;
    TestHost host;
    std::string cwd;
};

}  // namespace quendril::test
