// Pictures of the main window for the documentation, taken by the program
// itself when QUENDRIL_SCREENSHOT names a directory (scripts/screenshot).
#pragma once

namespace quendril {

class frmQuendril;

// Does nothing unless QUENDRIL_SCREENSHOT is set. Otherwise, once the window
// is on the screen, saves main-idle.png, fills the panels with a few sample
// terminals, saves main-run.png and ends the program.
void scheduleScreenshots(frmQuendril& window);

}  // namespace quendril
