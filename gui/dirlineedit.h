// Directory box of the File setting dialog: whenever it loses the focus its
// whole text is selected again, so it is fully selected when the user returns.
#pragma once

#include <QFocusEvent>
#include <QLineEdit>

namespace quendril {

class DirLineEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusOutEvent(QFocusEvent* e) override {
        QLineEdit::focusOutEvent(e);
        txtDir_LostFocus();
    }

private:
    void txtDir_LostFocus() { setSelection(0, static_cast<int>(text().size())); }
};

}  // namespace quendril
