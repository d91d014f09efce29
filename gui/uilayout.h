// Window layouts are given in twips (1/1440 inch); these helpers turn them
// into pixels for the screen the widget is on, and give the program's font.
#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace quendril::ui {

// Pixels for t twips: 15 twips are one pixel at 96 dpi, scaled by the
// screen's logical dpi.
int twips(int t, const QWidget* w = nullptr);
QRect twipsRect(int left, int top, int width, int height, const QWidget* w = nullptr);

// Maps the layouts' "MS Sans Serif" to a font Debian ships. Call once after
// the QApplication exists.
void installFontSubstitutes();

// "MS Sans Serif" at pt points (9.75 unless a window says otherwise).
QFont programFont(double pt = 9.75);

}  // namespace quendril::ui
