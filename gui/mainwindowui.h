// The controls of the main window, built from the twips tables of its layout.
// The behaviour lives in frmQuendril; this only creates and places widgets.
#pragma once

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <array>
#include <string>

class QAction;
class QMainWindow;
class QMenu;
class QPushButton;

namespace quendril {

// Labels of this window take captions in which "&" marks an access key and
// "&&" stands for one "&". The label keeps the caption as given and shows
// the text the user is meant to read.
class CaptionLabel : public QLabel {
    Q_OBJECT
public:
    explicit CaptionLabel(QWidget* parent, bool autoSize = false);
    void setCaption(const std::string& caption);
    const std::string& caption() const { return caption_; }
    void setTextColor(const QColor& c);
    QColor textColor() const;

private:
    std::string caption_;
    bool autoSize_;
};

// A filled rectangle, optionally with a one-pixel border.
class ShapeBox : public QWidget {
    Q_OBJECT
public:
    ShapeBox(QWidget* parent, const QColor& fill, bool border);
    QColor fillColor() const { return fill_; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QColor fill_;
    bool border_;
};

// The text a caption shows: access-key markers dropped, "&&" read as "&".
QString captionText(const std::string& caption);

inline constexpr int kCellCount = 16;
inline constexpr int kHeadingCount = 9;

struct MainWindowUi {
    // Menus
    QMenu* mnuSetting = nullptr;
    QAction* mnuSettingAction = nullptr;
    QAction* mnuBoxCountSet = nullptr;
    QAction* mnuFileSet = nullptr;
    QAction* mnuCommSet = nullptr;
    QAction* mnuMinimum = nullptr;
    QAction* sepalate = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuTransmit = nullptr;
    QAction* mnuVersion = nullptr;

    QWidget* client = nullptr;
    // Panels
    QWidget* fraStatus = nullptr;
    QWidget* fraScale = nullptr;
    QWidget* fraErrorInfo = nullptr;
    QWidget* fraConnectionList = nullptr;
    QPushButton* cmdTransmitCancel = nullptr;

    std::array<ShapeBox*, 7> shpTransmit{};
    std::array<CaptionLabel*, kHeadingCount> lblTransmit{};
    std::array<CaptionLabel*, 3> lblCollon{};
    CaptionLabel* lblStatus = nullptr;
    CaptionLabel* lblKind = nullptr;
    CaptionLabel* lblID = nullptr;
    CaptionLabel* lblErrorInfo = nullptr;
    std::array<CaptionLabel*, kCellCount> lblHandyID{};

    // Progress panel
    CaptionLabel* lblFileName = nullptr;
    QFrame* picScale = nullptr;
    ShapeBox* shpScale = nullptr;
    CaptionLabel* lblScale = nullptr;
};

// Twips of the layout that the behaviour needs as well.
inline constexpr int kClientWidthTwips = 8790;
inline constexpr int kClientHeightTwips = 5295;

// Creates every control of the main window on w, all panels hidden.
void buildMainWindowUi(QMainWindow& w, MainWindowUi& ui);

// Cell i's place in the terminal panel, in twips: two columns of eight rows.
QRect cellRectTwips(int i);

}  // namespace quendril
