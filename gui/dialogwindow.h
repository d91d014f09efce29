// What the program's dialogs share: the fixed frame over the main window,
// centring on it, catalogue captions and labels that size to their text.
#pragma once

#include <QString>
#include <string>

class QDialog;
class QLabel;
class QWidget;

namespace quendril::ui {

// Fixed-size modal dialog with the main window's icon; the client area is
// given in twips.
void setupFixedDialog(QDialog& dlg, const QWidget* mainWindow, int widthTwips, int heightTwips);

// Centres dlg over mainWindow by the outer (frame) sizes of both windows.
void centreOnWindow(QWidget& dlg, const QWidget* mainWindow);

// Catalogue text of a base ID; the catalogue holds bytes, shown as Latin-1.
QString resText(int baseId);

// A label that sizes its width to its text, at a position in twips.
void placeAutoLabel(QLabel& label, int leftTwips, int topTwips, int heightTwips);

// Two-digit field text of n ("05", "16").
std::string twoDigits(int n);

}  // namespace quendril::ui
