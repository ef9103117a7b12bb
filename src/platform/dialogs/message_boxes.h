// Message boxes: the program's own (OK, no icon) and the framework's (OK with
// the exclamation icon). Every box is captioned with the application's name.
#pragma once

#include <QString>

class QWidget;

namespace platform {

enum class BoxIcon { None, Exclamation };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the box modally over owner (which may be null) and returns when it
    // has been dismissed. Timers keep firing while it is open.
    virtual void Show(QWidget* owner, const QString& text, const QString& caption,
                      BoxIcon icon) = 0;
};

// The real boxes: a modal QMessageBox with an OK button.
class QtMessageBoxes : public MessageBoxes {
public:
    void Show(QWidget* owner, const QString& text, const QString& caption, BoxIcon icon) override;
};

}  // namespace platform
