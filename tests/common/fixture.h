// Each test gets a fresh current directory, a scripted host and no
// injected faults left over.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "filehelpers.h"
#include "filebytes.h"
#include "tempdir.h"
#include "testhost.h"

namespace quendril::test {

class FileTest : public testing::Test {
protected:
    void SetUp() override { clearFileFaults(); }
    void TearDown() override { clearFileFaults(); }

    static bool exists(const std::string& path) { return std::filesystem::exists(path); }

    ScopedWorkDir dir;
    TestHost host;
};

}  // namespace quendril::test
