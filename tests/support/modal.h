// Helpers for tests that drive modal dialogs through their real widgets.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace testsupport {

// The widget of control id in a dialog window (controls are named by id).
template <class W = QWidget>
W* Control(QWidget* window, int id) {
    return window->findChild<W*>(QString::number(id));
}

// Runs body inside the next modal dialog that opens, with its window, once it
// shows (boxes shown while it is set up run loops of their own before that);
// the body must end that dialog (or the dialog ends itself).
inline void WhenModalOpensOver(QWidget* before, const std::function<void(QWidget*)>& body,
                               int turns) {
    QTimer::singleShot(0, [body, turns, before] {
        QWidget* modal = QApplication::activeModalWidget();
        if ((modal == nullptr || modal == before || !modal->isVisible()) && turns > 0) {
            WhenModalOpensOver(before, body, turns - 1);
            return;
        }
        if (modal == nullptr || modal == before || !QTest::qWaitForWindowActive(modal)) {
            ADD_FAILURE() << "no active modal dialog";
            return;
        }
        body(modal);
    });
}

inline void WhenModalOpens(const std::function<void(QWidget*)>& body) {
    WhenModalOpensOver(QApplication::activeModalWidget(), body, 100);
}

// Clicks a button or chooses a menu item of a window as a user would: one that
// is disabled, grayed or hidden does nothing.
inline void Click(QWidget* window, int id) {
    if (auto* button = Control<QAbstractButton>(window, id)) {
        if (button->isVisible()) {
            QTest::mouseClick(button, Qt::LeftButton);
        }
        return;
    }
    if (auto* item = window->findChild<QAction*>(QString::number(id))) {
        if (window->isVisible() && item->isEnabled()) {
            item->trigger();
        }
        return;
    }
    ADD_FAILURE() << "no button or menu item " << id;
}

}  // namespace testsupport
