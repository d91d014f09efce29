#include "uilayout.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace quendril::ui {

namespace {
constexpr const char* kLayoutFamily = "MS Sans Serif";

double logicalDpi(const QWidget* w) {
    if (w) return w->logicalDpiX();
    if (QScreen* s = QGuiApplication::primaryScreen()) return s->logicalDotsPerInchX();
    return 96.0;
}
}  // namespace

int twips(int t, const QWidget* w) {
    return static_cast<int>(std::lround(t * logicalDpi(w) / 1440.0));
}

QRect twipsRect(int left, int top, int width, int height, const QWidget* w) {
    return {twips(left, w), twips(top, w), twips(width, w), twips(height, w)};
}

void installFontSubstitutes() {
    // Liberation Sans has the metrics of the sans face the layouts were drawn
    // with; without it fontconfig would pick a wider face and cut captions.
    QFont::insertSubstitutions(kLayoutFamily, {"Liberation Sans", "Arial", "DejaVu Sans"});
}

QFont programFont(double pt) {
    QFont f(kLayoutFamily);
    f.setPointSizeF(pt);
    return f;
}

}  // namespace quendril::ui
