// QUENDRIL: once the command line asks for the program, creating the main
// window is the whole of start-up.
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <string>

#include "commandline.h"
#include "frmQuendril.h"
#include "screenshot.h"
#include "signalstop.h"
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
    // Before QApplication: --help needs no display, and nothing may be
    // written to the folder until the command line is known to be good.
    const quendril::ParsedCommand parsed = quendril::parseCommandLine(argc, argv);
    switch (parsed.cmd) {
    case quendril::Command::Help:
        std::fputs(quendril::usageText().c_str(), stdout);
        return 0;
    case quendril::Command::Version:
        std::fputs(quendril::versionText().c_str(), stdout);
        return 0;
    case quendril::Command::Bad:
        std::fprintf(stderr, "%s\nTry 'quendril --help'.\n", parsed.error.c_str());
        return quendril::kBadCommandStatus;
    case quendril::Command::Window:
    case quendril::Command::Auto:
        break;
    }

    QApplication app(argc, argv);
    quendril::ui::installFontSubstitutes();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quendril/quendril.png")));

    quendril::frmQuendril window;
    QObject::connect(&window, &quendril::frmQuendril::programEnded, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    // SIGINT and SIGTERM stop a run like Cancel, then end the program with
    // the shell's status for the signal.
    quendril::SignalStop stopSignals;
    QObject::connect(&stopSignals, &quendril::SignalStop::stopRequested, &window,
                     [&window](int sig) { window.stopAndEnd(128 + sig); });
    if (!window.Form_Load(commandLine(argc, argv))) return window.exitStatus();
    quendril::scheduleScreenshots(window);
    QApplication::exec();
    return window.exitStatus();
}
