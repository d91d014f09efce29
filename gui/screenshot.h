// Pictures of every window: for the user guide, taken by the program itself
// when QUENDRIL_SCREENSHOT names a directory (scripts/screenshot), and for
// the window tests, which compare them with reference pictures.
#pragma once

#include <QImage>
#include <string>
#include <utility>
#include <vector>

namespace quendril {

class frmQuendril;

// The main window idle (main-idle.png) and during a sample run with a few
// terminals (main-run.png; its panels stay shown), then each dialog over it
// with sample settings and a drawn title bar (filesetting.png,
// commsetting.png, operative.png, version.png). Nothing is stored.
std::vector<std::pair<std::string, QImage>> takeScreenshots(frmQuendril& window);

// Does nothing unless QUENDRIL_SCREENSHOT is set. Otherwise, once the window
// is on the screen, saves every picture there and ends the program.
void scheduleScreenshots(frmQuendril& window);

}  // namespace quendril
