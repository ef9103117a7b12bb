// Dialog data exchange between controls and members. An exchange runs in one
// direction; in the saving direction the first failure shows the framework's
// message, puts the focus on the failing control with its whole text selected,
// and turns every later step of the same exchange into nothing.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/dialogs/message_boxes.h"

class QWidget;

namespace platform {

// The control members that exchanges attached to the window that exists now;
// each is forgotten (set to null) when that window is destroyed.
class BoundControls {
public:
    void Add(std::function<void()> forget) { forgets_.push_back(std::move(forget)); }
    void ForgetAll();

private:
    std::vector<std::function<void()>> forgets_;
};

class DataExchange {
public:
    using ControlById = std::function<QWidget*(int id)>;
    using FailureBox = std::function<void(const QString& message, BoxIcon icon)>;

    // controlById finds the window's controls, showFailure shows the message of
    // a failed step, and bound keeps the control members attached.
    DataExchange(ControlById controlById, FailureBox showFailure, BoundControls& bound,
                 bool saveAndValidate);

    const bool m_bSaveAndValidate;
    bool Failed() const { return failed_; }

    // The control of the step being exchanged; null once the exchange failed.
    QWidget* PrepareControl(int id);
    QWidget* LastControl() const { return lastControl_; }
    void Fail(const QString& message, BoxIcon icon);
    // Runs forget when the dialog's window is destroyed.
    void ForgetOnDestroy(std::function<void()> forget) { bound_.Add(std::move(forget)); }

private:
    ControlById controlById_;
    FailureBox showFailure_;
    BoundControls& bound_;
    QWidget* lastControl_ = nullptr;
    bool failed_ = false;
};

// The framework's reading of an integer from an edit: blanks or tabs, an
// optional sign and decimal digits, blanks or tabs. Anything else fails, and so
// does a zero whose first character is not the digit 0. Values beyond the
// 32-bit range are clamped to it.
std::optional<int> ParseDialogInteger(const QString& text);

// Attaches a control member to its widget in the window that exists now; the
// member is forgotten when that window is destroyed.
template <class W>
void DDX_Control(DataExchange& dx, int id, W*& member) {
    if (QWidget* w = dx.PrepareControl(id); w != nullptr && member != w) {
        member = static_cast<W*>(w);
        dx.ForgetOnDestroy([&member] { member = nullptr; });
    }
}
void DDX_Text(DataExchange& dx, int id, QString& value);
void DDX_Text(DataExchange& dx, int id, int& value);
void DDX_Check(DataExchange& dx, int id, int& value);
// Applies to the control of the preceding DDX_Text.
void DDV_MaxChars(DataExchange& dx, const QString& value, int maxChars);
void DDV_MinMaxInt(DataExchange& dx, int value, int minValue, int maxValue);

}  // namespace platform
