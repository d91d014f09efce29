// QUENDRIL: creating the main window is the whole of start-up.
#include <QApplication>
#include <QIcon>
#include <string>

#include "frmQuendril.h"
#include "qthost.h"
#include "screenshot.h"
#include "uilayout.h"

namespace {
// The whole argument text, arguments joined by blanks, as bytes.
std::string commandLine(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    quendril::ui::installFontSubstitutes();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quendril/quendril.png")));

    quendril::QtHost host;
    quendril::setHost(&host);

    quendril::frmQuendril window;
    host.setMainWindow(&window);
    window.Form_Load(commandLine(argc, argv));
    // "AUTO" has run and unloaded every window already.
    if (!window.isVisible()) return window.exitStatus();
    quendril::scheduleScreenshots(window);
    return QApplication::exec();
}
