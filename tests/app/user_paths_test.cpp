// Everyday paths through the real widgets: dialogs opened again, text that
// arrives whole, a dialog left open while the window goes to the tray.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <map>

#include "app/updater_harness.h"

using namespace testsupport;

namespace {

// Tied to the window, so it goes with it: fails and closes a dialog that is
// still there after a few turns of the loop.
void FailIfStillOpenAfter(QWidget* dialog, int turns) {
    QTimer::singleShot(0, dialog, [dialog, turns] {
        if (turns > 0) {
            FailIfStillOpenAfter(dialog, turns - 1);
            return;
        }
        ADD_FAILURE() << "the dialog was left open";
        Click(dialog, res::IDOK);
    });
}

// Chooses the item of the next popup menu with that text once it shows.
void ChooseFromPopupWhenShown(const QString& item, int turns) {
    QTimer::singleShot(0, [item, turns] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr && turns > 0) {
            ChooseFromPopupWhenShown(item, turns - 1);
            return;
        }
        ASSERT_NE(menu, nullptr) << "no popup menu";
        for (QAction* action : menu->actions()) {
            if (action->text().startsWith(item)) {
                action->trigger();
            }
        }
        menu->close();
    });
}

TEST(UserPathsTest, OptionsAndAboutWorkAtEveryOpening) {
    UpdaterHarness h;
    h.Run([&] {
        for (int opening = 1; opening <= 2; ++opening) {
            SCOPED_TRACE(opening);
            bool saved = false;
            WhenModalOpens([&](QWidget* options) {
                QTest::mouseClick(Control<QCheckBox>(options, res::IDC_SAVE_PASSWORD),
                                  Qt::LeftButton);
                Click(options, res::IDCANCEL);  // Save Settings
                saved = h.Config().find("SavePassword=" +
                                        std::string(opening == 1 ? "TRUE" : "FALSE")) !=
                        std::string::npos;
                QTest::keyClick(options, Qt::Key_Escape);
                Click(options, res::IDOK);
            });
            h.Click(res::IDC_OPTIONS);
            EXPECT_TRUE(saved);
            bool aboutShown = false;
            WhenModalOpens([&](QWidget* about) {
                aboutShown = true;
                Click(about, res::IDOK);
            });
            h.Click(res::ID_HELP_ABOUT);
            EXPECT_TRUE(aboutShown);
        }
    });
}

// What a screen reader announces for each field, and for the About picture.
TEST(UserPathsTest, ScreenReadersFindANameForEveryFieldAndPicture) {
    UpdaterHarness h;
    h.Run([&] {
        const std::map<int, QString> mainFields = {{res::IDC_LOGIN, "Login"},
                                                   {res::IDC_PASSWORD, "Password"},
                                                   {res::IDC_STATUS, "Status"},
                                                   {res::IDC_ADDRESS, "IP Address"}};
        for (const auto& [id, name] : mainFields) {
            EXPECT_EQ(h.dlg.GetDlgItem(id)->accessibleName(), name);
        }
        WhenModalOpens([&](QWidget* options) {
            EXPECT_EQ(Control(options, res::IDC_REFRESH_INTERVAL)->accessibleName(),
                      "IP Refresh Interval");
            EXPECT_EQ(Control(options, res::IDC_RETRY_INTERVAL)->accessibleName(),
                      "Connect Retry Interval");
            Click(options, res::IDOK);
        });
        h.Click(res::IDC_OPTIONS);
        WhenModalOpens([&](QWidget* about) {
            QStringList pictures;
            for (QLabel* label : about->findChildren<QLabel*>()) {
                if (!label->pixmap().isNull()) {
                    pictures << label->accessibleName();
                }
            }
            EXPECT_EQ(pictures, QStringList{"Kestrome icon"});
            Click(about, res::IDOK);
        });
        h.Click(res::ID_HELP_ABOUT);
    });
}

// Every text of a window is drawn whole in the window's font.
void ExpectNoTextCut(QWidget* window) {
    const QFontMetrics fm(window->font());
    for (QWidget* w : window->findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            text = label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            text = button->text();
        }
        EXPECT_LE(fm.horizontalAdvance(text.remove('&')), w->width()) << text.toStdString();
    }
}

// The desktop's font draws the dialogs, at its size: a large fixed-width face
// (narrow letters drawn wide, as in Japanese fonts) makes them larger, and
// cuts no text of any of them.
TEST(UserPathsTest, TheDesktopFontDrawsTheDialogsAndCutsNoText) {
    const QFont desktop = QApplication::font();
    QFont large("DejaVu Sans Mono");
    large.setPointSize(desktop.pointSize() * 14 / 9);
    int heights[2] = {0, 0};
    for (int round = 0; round < 2; ++round) {
        QApplication::setFont(round == 0 ? desktop : large);
        UpdaterHarness h;
        h.Run([&] {
            heights[round] = h.dlg.Window()->height();
            ExpectNoTextCut(h.dlg.Window());
            for (int command : {res::IDC_OPTIONS, res::ID_HELP_ABOUT}) {
                WhenModalOpens([&](QWidget* dialog) {
                    ExpectNoTextCut(dialog);
                    Click(dialog, res::IDOK);
                });
                h.Click(command);
            }
        });
    }
    QApplication::setFont(desktop);
    EXPECT_GE(heights[1] * 10, heights[0] * 13) << "a larger font gives a larger window";
}

TEST(UserPathsTest, PastedAndDroppedTextKeepsWhatFitsAtTheCursor) {
    UpdaterHarness h;
    h.Run([&] {
        auto* login = Control<QLineEdit>(h.dlg.Window(), res::IDC_LOGIN);
        QGuiApplication::clipboard()->setText("ABCDEFGHIJKLMNOPQRST");
        h.Type(res::IDC_LOGIN, "abcdef");
        login->setCursorPosition(3);
        QTest::keyClick(login, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(login->text(), "abcABCDdef");

        h.Clear(res::IDC_LOGIN);
        h.Type(res::IDC_LOGIN, "xy");
        ChooseFromPopupWhenShown("&Paste", 100);
        QContextMenuEvent context(QContextMenuEvent::Mouse, QPoint(2, 2),
                                  login->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(login, &context);
        EXPECT_EQ(login->text(), "xyABCDEFGH");

        h.Clear(res::IDC_LOGIN);
        QMimeData dragged;
        dragged.setText("12345678901234567890");
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(login, &enter);
        QApplication::sendEvent(login, &drop);
        EXPECT_EQ(login->text(), "1234567890");
    });
    EXPECT_TRUE(h.fakes.boxes.boxes.empty()) << "no length message";
}

TEST(UserPathsTest, DialogLeftOpenWhileMinimisedComesBackOnTopAndExitEndsBoth) {
    UpdaterHarness h;
    h.WriteConfig(Config("ann", "", ""));
    int result = h.Run([&] {
        WhenModalOpens([&](QWidget* options) {
            h.Minimise();
            EXPECT_TRUE(h.fakes.notifyIcons.IconShown());
            h.fakes.notifyIcons.Mouse(platform::WM_LBUTTONDBLCLK);
            UpdaterHarness::Settle();
            EXPECT_TRUE(h.dlg.Window()->isVisible());
            EXPECT_EQ(QApplication::activeModalWidget(), options) << "still open, on top";
            h.ChooseFromTray(res::ID_TRAY_EXIT);
            FailIfStillOpenAfter(options, 5);
        });
        h.Click(res::IDC_OPTIONS);
    });
    EXPECT_NE(result, kLeftRunning) << "Exit ends the program";
    EXPECT_NE(h.Config().find("Login=ann\n"), std::string::npos);
}

}  // namespace
