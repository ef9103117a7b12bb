// Drives the main dialog as a user would: in a temporary current folder, with
// fake boxes, timers, shell and clock, against a scripted server on 127.0.0.1.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/updater_dlg.h"
#include "res/resource_ids.h"
#include "support/fakes.h"
#include "support/modal.h"
#include "support/scripted_http_server.h"
#include "support/temp_dir.h"

namespace testsupport {

// The result DoModal gives when the test had to end a dialog left running.
inline constexpr int kLeftRunning = -1000;

class UpdaterHarness {
public:
    explicit UpdaterHarness(platform::NotifyIcons* realTray = nullptr) : fakes(realTray) {
        fakes.services.serviceHost = server.HostPort();
    }

    void WriteConfig(const std::string& content) { WriteFile(ConfigPath(), content); }
    std::string Config() const { return ReadFile(ConfigPath()); }
    std::string ConfigPath() const { return dir.File("kestrome.cfg"); }

    // Runs the dialog modally; script runs once its loop is running, and the
    // test fails when it never does. A dialog the script leaves running is
    // ended after a few turns of the loop.
    int Run(const std::function<void()>& script) {
        bool ran = false;
        WhenShown(
            [&] {
                ran = true;
                script();
            },
            kShowTurns);
        const int result = dlg.DoModal();
        EXPECT_TRUE(ran) << "the dialog ended before the test's actions ran";
        return result;
    }
    // Runs the dialog modally with nothing to do in it.
    int Run() {
        WhenShown([] {}, kShowTurns);
        return dlg.DoModal();
    }

    QString Status() const {
        return Edit<QPlainTextEdit>(res::IDC_STATUS)->toPlainText().replace("\n", "\r\n");
    }
    QString Address() const { return Edit<QLineEdit>(res::IDC_ADDRESS)->text(); }
    QString Field(int id) const { return Edit<QLineEdit>(id)->text(); }
    bool Enabled(int id) const { return dlg.GetDlgItem(id)->isEnabled(); }
    bool Connected() const { return Enabled(res::IDC_DISCONNECT); }

    // Types text key by key, as a keyboard would deliver it.
    void Type(int id, const QString& text) {
        auto* edit = Edit<QLineEdit>(id);
        edit->setFocus();
        for (QChar c : text) {
            QTest::sendKeyEvent(QTest::Press, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    void Clear(int id) {
        auto* edit = Edit<QLineEdit>(id);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
    }
    void Click(int id) { testsupport::Click(dlg.Window(), id); }
    // Lets the window system's events of the last action arrive.
    static void Settle() {
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
    }
    // The user minimises the window with the window manager's button.
    void Minimise() {
        dlg.Window()->showMinimized();
        Settle();
    }
    // The user minimises the window to the tray and chooses from the icon's menu.
    void ChooseFromTray(int command) {
        Minimise();
        fakes.notifyIcons.popupChoice = command;
        fakes.notifyIcons.Mouse(platform::WM_RBUTTONUP);
    }
    void Minutes(int m) { fakes.timers.Advance(std::int64_t{m} * 60000); }

    TempDir dir;
    ScopedCurrentDir cwd{dir.Path()};
    TestServices fakes;
    ScriptedHttpServer server;
    CUpdaterDlg dlg{fakes.services};

private:
    template <class W>
    W* Edit(int id) const {
        return static_cast<W*>(dlg.GetDlgItem(id));
    }
    static constexpr int kShowTurns = 100;
    // Runs script once the window shows in its own loop (start-up boxes run
    // loops of their own before that).
    void WhenShown(const std::function<void()>& script, int turns) {
        QTimer::singleShot(0, [this, script, turns] {
            QDialog* w = dlg.Window();
            if ((w == nullptr || !w->isVisible() || fakes.boxes.open > 0) && turns > 0) {
                WhenShown(script, turns - 1);
                return;
            }
            if (w == nullptr || dlg.HasEnded()) {
                return;
            }
            w->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(w));
            script();
            EndIfStillRunning(3);
        });
    }
    void EndIfStillRunning(int turns) {
        // Tied to the window, so nothing of it outlives the dialog's run.
        QTimer::singleShot(0, dlg.Window(), [this, turns] {
            if (dlg.HasEnded()) {
                return;
            }
            if (turns > 0) {
                EndIfStillRunning(turns - 1);
            } else {
                dlg.EndDialog(kLeftRunning);
            }
        });
    }
};

inline const std::string kDefaultConfig =
    "[Main]\nLogin=\nPassword=\n[Options]\nSavePassword=FALSE\nAttemptReconnect=FALSE\n"
    "MinimizeOnStartUp=FALSE\nConnectOnStartUp=FALSE\nRefreshInterval=5\n"
    "ConnectRetryInterval=5\n";

// A settings file with the given credentials and options.
inline std::string Config(const std::string& login, const std::string& password,
                          const std::string& options) {
    return "[Main]\nLogin=" + login + "\nPassword=" + password + "\n[Options]\n" + options;
}

}  // namespace testsupport
