// Version dialog: the program's icon, name line and version line, closed by
// OK, Enter, Esc or the close box. Built afresh for every showing; the
// caller owns it (a stack object around exec()).
#pragma once

#include <QDialog>
#include <array>

class QLabel;
class QPushButton;

namespace quendril {

class frmVersion : public QDialog {
    Q_OBJECT
public:
    explicit frmVersion(QWidget* mainWindow);

    QLabel* imgVersion = nullptr;
    std::array<QLabel*, 2> lblVersion{};
    QPushButton* cmdOK = nullptr;

private:
    void buildUi();
    void formLoad();

    QWidget* mainWindow_;
};

}  // namespace quendril
