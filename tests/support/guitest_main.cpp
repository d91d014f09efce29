// Window tests run on the offscreen platform; test discovery runs the test
// binary outside ctest's environment, so the platform is set here.
#include <QApplication>
#include <gtest/gtest.h>

#include "uilayout.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    quendril::ui::installFontSubstitutes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
