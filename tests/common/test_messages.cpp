#include <gtest/gtest.h>

#include "catalogue.h"
#include "host.h"
#include "messages.h"
#include "testhost.h"

namespace quendril {
namespace {

using test::TestHost;

struct FileErrCase {
    int16_t number;
    std::string extra;
    int16_t answer;  // what the user presses; ignored for OK boxes
    std::string text;
    BoxButtons buttons;
    int16_t result;
};

TEST(DispFileErr, ShowsTextButtonsAndReturnsAnswer) {
    const std::vector<FileErrCase> cases = {
        {53, "/data/a.txt", kAnswerOk, "No file name\r/data/a.txt", BoxButtons::Ok, 1},
        {52, "x", kAnswerOk, "File nume/number error\rx", BoxButtons::Ok, 1},
        {54, "", kAnswerOk, "File mode error\r", BoxButtons::Ok, 1},
        {55, "f", kAnswerOk, "The file is Opened already\rf", BoxButtons::Ok, 1},
        {58, "f", kAnswerOk, "A file of same name exists already\rf", BoxButtons::Ok, 1},
        {61, "f", kAnswerOk, "Not enough free area\rf", BoxButtons::Ok, 1},
        {67, "f", kAnswerOk, "Too meny files\rf", BoxButtons::Ok, 1},
        {70, "f", kAnswerOk, "Protected\rf", BoxButtons::Ok, 1},
        {75, "f", kAnswerOk, "Pass error\rf", BoxButtons::Ok, 1},
        {76, "f", kAnswerOk, "No Pass\rf", BoxButtons::Ok, 1},
        {57, "d", kAnswerRetry, "Device I/O error\rd", BoxButtons::RetryCancel, 0},
        {68, "d", kAnswerCancel, "No device prepared\rd", BoxButtons::RetryCancel, 2},
        {71, "/mnt", kAnswerRetry, "No disc\r/mnt", BoxButtons::RetryCancel, 0},
        {71, "/mnt", kAnswerCancel, "No disc\r/mnt", BoxButtons::RetryCancel, 2},
        // Closing the box is not Retry: it counts as Cancel.
        {71, "/mnt", kAnswerOk, "No disc\r/mnt", BoxButtons::RetryCancel, 2},
        // Numbers without a text of their own: generic box, extra text dropped.
        {56, "f", kAnswerOk, "ERROR!!!", BoxButtons::Ok, 1},
        {59, "f", kAnswerOk, "ERROR!!!", BoxButtons::Ok, 1},
        {62, "f", kAnswerOk, "ERROR!!!", BoxButtons::Ok, 1},
        {63, "f", kAnswerOk, "ERROR!!!", BoxButtons::Ok, 1},
        {51, "f", kAnswerOk, "ERROR!!!", BoxButtons::Ok, 1},
        {77, "f", kAnswerOk, "ERROR!!!", BoxButtons::Ok, 1},
        {0, "f", kAnswerOk, "ERROR!!!", BoxButtons::Ok, 1},
        {-5, "f", kAnswerOk, "ERROR!!!", BoxButtons::Ok, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("number " + std::to_string(c.number));
        TestHost h;
        h.answers.push_back(c.answer);
        EXPECT_EQ(dispFileErr(c.number, c.extra), c.result);
        ASSERT_EQ(h.shown.size(), 1u);
        EXPECT_EQ(h.shown[0].text, c.text);
        EXPECT_EQ(h.shown[0].buttons, c.buttons);
        EXPECT_EQ(fileErrMessage(c.number, c.extra), c.text);
        EXPECT_EQ(h.endCount, 0);
    }
}

TEST(DispAppErr, ShowsTextCrAndExtraWithOkOnly) {
    const std::vector<std::tuple<int16_t, std::string, std::string>> cases = {
        {0, "", "No environment setting file\r"},
        {1, "", "No HTID Infomation file\r"},
        {2, "", "Environment settingfile error\r"},
        {3, "COM1", "Open error\rCOM1"},
        {4, "x", "Unknown error\rx"},
    };
    for (const auto& [code, extra, text] : cases) {
        TestHost h;
        EXPECT_EQ(dispAppErr(code, extra), 1);
        ASSERT_EQ(h.shown.size(), 1u);
        EXPECT_EQ(h.shown[0].text, text);
        EXPECT_EQ(h.shown[0].buttons, BoxButtons::Ok);
    }
}

// Lists are loaded as base + running counter until each "end" entry.
TEST(Catalogue, CommunicationListsCloseWithEnd) {
    std::vector<std::vector<std::string>> lists(1);
    for (int k = 0; k <= 21; ++k) {
        const std::string text = loadResString(440 + k + langOffset);
        if (text == "end") {
            lists.emplace_back();
        } else {
            lists.back().push_back(text);
        }
    }
    lists.pop_back();
    const std::vector<std::vector<std::string>> expected = {
        {"1200BPS", "2400BPS", "4800BPS", "9600BPS", "19200BPS", "38400BPS", "57600BPS",
         "115200BPS"},
        {"None", "Odd", "Even"},
        {"8bit", "7bit"},
        {"1bit", "2bit"},
        {"COM0", "COM1"},
    };
    EXPECT_EQ(lists, expected);
}

TEST(Catalogue, ComputedIdsAndUnknownIds) {
    const std::vector<std::pair<int, std::string>> cases = {
        {1100, "Settings(&F)"}, {1105, "Exit QUENDRIL(&X)"}, {1118, "Red  :Error end"},
        {1117, "Blue :Done"},   {1120, "Cancel"},            {1142, "Transmit File"},
        {1211, "No. of connecting I/O Boxes"},                {1313, "Transmitting file type"},
        {1340, "Only AP appointment file"},                   {1414, "COM port"},
        {1800, "Done"},         {1812, "Buffer Full Error"}, {1701, "No HTID Infomation file"},
        {1976, "No Pass"},      {1959, ""},                  {1119, ""},
        {100, ""},              {0, ""},                     {-1, ""},
        {99999, ""},
    };
    for (const auto& [id, text] : cases) EXPECT_EQ(loadResString(id), text) << id;
}

TEST(ConsoleHost, AnswersCancelAndOkWithoutScreen) {
    setHost(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(dispFileErr(71, "/x"), kAnswerCancel);
    EXPECT_EQ(dispFileErr(53, "/x"), kAnswerOk);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("No disc"), std::string::npos);
    EXPECT_NE(err.find("No file name"), std::string::npos);
}

TEST(ConsoleHostDeathTest, EndProgramExitsWithCode) {
    setHost(nullptr);
    EXPECT_EXIT(endProgram(3), testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace quendril
