// The Options dialog driven through its real widgets.
#include "settings/options_dlg.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include "res/resource_ids.h"
#include "support/fakes.h"
#include "support/modal.h"
#include "support/temp_dir.h"

using namespace testsupport;

namespace {

const std::string kDefaults =
    "[Options]\nSavePassword=FALSE\nAttemptReconnect=FALSE\nMinimizeOnStartUp=FALSE\n"
    "ConnectOnStartUp=FALSE\nRefreshInterval=5\nConnectRetryInterval=5\n";

class OptionsDlgTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCurrentDir cwd{dir.Path()};
    TestServices fakes;
    COptionsDlg dlg{fakes.services};

    std::string Config() const { return ReadFile(dir.File("kestrome.cfg")); }
    void WriteConfig(const std::string& c) { WriteFile(dir.File("kestrome.cfg"), c); }

    // Opens the dialog and runs body in it; returns how DoModal ended.
    int Open(const std::function<void(QWidget*)>& body) {
        WhenModalOpens([&](QWidget* w) {
            body(w);
            if (!dlg.HasEnded()) {
                Click(w, res::IDOK);
            }
        });
        return dlg.DoModal();
    }
    static QCheckBox* Box(QWidget* w, int id) { return Control<QCheckBox>(w, id); }
    static QLineEdit* Edit(QWidget* w, int id) { return Control<QLineEdit>(w, id); }
    static bool SaveEnabled(QWidget* w) { return Control(w, res::IDCANCEL)->isEnabled(); }
    static void SetText(QWidget* w, int id, const QString& text) {
        Edit(w, id)->setFocus();
        Edit(w, id)->selectAll();
        QTest::keyClick(Edit(w, id), Qt::Key_Delete);
        QTest::keyClicks(Edit(w, id), text);
    }
};

TEST_F(OptionsDlgTest, OpensWithTheFileValuesSaveDisabledAndFocusOnOk) {
    WriteConfig(kDefaults);
    int result = Open([&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Dialog");
        for (int id : {res::IDC_SAVE_PASSWORD, res::IDC_ATTEMPT_RECONNECT,
                       res::IDC_CONNECT_ON_STARTUP, res::IDC_MINIMIZE_ON_STARTUP}) {
            EXPECT_FALSE(Box(w, id)->isChecked()) << id;
        }
        EXPECT_EQ(Edit(w, res::IDC_REFRESH_INTERVAL)->text(), "5");
        EXPECT_EQ(Edit(w, res::IDC_RETRY_INTERVAL)->text(), "5");
        EXPECT_FALSE(SaveEnabled(w));
        EXPECT_TRUE(Control(w, res::IDOK)->hasFocus());
    });
    EXPECT_EQ(result, res::IDOK);
    EXPECT_EQ(Config(), kDefaults) << "OK writes nothing";
    EXPECT_TRUE(fakes.boxes.boxes.empty());
}

TEST_F(OptionsDlgTest, InvalidValuesAreReportedBeforeTheDialogAndShownAsDefaults) {
    WriteConfig("[Options]\nSavePassword=true\nRefreshInterval=0\nConnectOnStartUp=TRUE\n");
    bool shownDuringBoxes = true;
    fakes.boxes.whileOpen = [&](const RecordedBox&) {
        shownDuringBoxes = dlg.Window()->isVisible();
    };
    Open([&](QWidget* w) {
        EXPECT_FALSE(Box(w, res::IDC_SAVE_PASSWORD)->isChecked());
        EXPECT_TRUE(Box(w, res::IDC_CONNECT_ON_STARTUP)->isChecked());
        EXPECT_EQ(Edit(w, res::IDC_REFRESH_INTERVAL)->text(), "5");
    });
    EXPECT_FALSE(shownDuringBoxes);
    ASSERT_EQ(fakes.boxes.boxes.size(), 2u);
    EXPECT_TRUE(fakes.boxes.boxes[0].text.startsWith("The SavePassword does not"));
    EXPECT_TRUE(fakes.boxes.boxes[1].text.startsWith("The RefreshInterval does not"));
    EXPECT_EQ(Config(), "[Options]\nSavePassword=true\nRefreshInterval=0\nConnectOnStartUp=TRUE\n")
        << "the Options dialog's reader writes nothing back";
}

TEST_F(OptionsDlgTest, ChangeEnablesSaveWhichWritesAllSixAndStaysOpen) {
    WriteConfig(kDefaults);
    Open([&](QWidget* w) {
        Box(w, res::IDC_SAVE_PASSWORD)->click();
        EXPECT_TRUE(SaveEnabled(w));
        Box(w, res::IDC_SAVE_PASSWORD)->click();
        EXPECT_TRUE(SaveEnabled(w)) << "going back does not disable it";
        Box(w, res::IDC_ATTEMPT_RECONNECT)->click();
        SetText(w, res::IDC_REFRESH_INTERVAL, "17");
        Click(w, res::IDCANCEL);
        EXPECT_FALSE(SaveEnabled(w));
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(Config(),
                  "[Options]\nSavePassword=FALSE\nAttemptReconnect=TRUE\nMinimizeOnStartUp=FALSE\n"
                  "ConnectOnStartUp=FALSE\nRefreshInterval=17\nConnectRetryInterval=5\n");
        SetText(w, res::IDC_RETRY_INTERVAL, "9");
        EXPECT_TRUE(SaveEnabled(w)) << "a further change enables it again";
    });
    EXPECT_NE(Config().find("ConnectRetryInterval=5\n"), std::string::npos)
        << "the unsaved change is lost";
    Open([&](QWidget* w) {
        SCOPED_TRACE("the second opening shows what was saved and saves again");
        EXPECT_TRUE(Box(w, res::IDC_ATTEMPT_RECONNECT)->isChecked());
        EXPECT_EQ(Edit(w, res::IDC_REFRESH_INTERVAL)->text(), "17");
        EXPECT_FALSE(SaveEnabled(w));
        Box(w, res::IDC_SAVE_PASSWORD)->click();
        Click(w, res::IDCANCEL);
    });
    EXPECT_NE(Config().find("SavePassword=TRUE\n"), std::string::npos);
}

// Turning Save Password off and saving empties the stored password at once;
// a password the file held while it was already off is left as it is.
TEST_F(OptionsDlgTest, TurningSavePasswordOffEmptiesTheStoredPassword) {
    const std::string options = kDefaults.substr(kDefaults.find("AttemptReconnect"));
    WriteConfig("[Main]\nLogin=joe\nPassword=secret\n[Options]\nSavePassword=TRUE\n" + options);
    Open([&](QWidget* w) {
        Box(w, res::IDC_SAVE_PASSWORD)->click();
        Click(w, res::IDCANCEL);
        EXPECT_EQ(Config(),
                  "[Main]\nLogin=joe\nPassword=\n[Options]\nSavePassword=FALSE\n" + options);
        WriteFile(
            dir.File("kestrome.cfg"),
            "[Main]\nLogin=joe\nPassword=typed later\n[Options]\nSavePassword=FALSE\n" + options);
        Box(w, res::IDC_ATTEMPT_RECONNECT)->click();
        Click(w, res::IDCANCEL);
        EXPECT_NE(Config().find("Password=typed later\n"), std::string::npos)
            << "off to off leaves the key: " << Config();
    });
    const std::string kept = "[Main]\nPassword=kept\n[Options]\nSavePassword=FALSE\n" + options;
    WriteConfig(kept);
    Open([&](QWidget* w) {
        Box(w, res::IDC_CONNECT_ON_STARTUP)->click();
        Click(w, res::IDCANCEL);
    });
    EXPECT_NE(Config().find("Password=kept\n"), std::string::npos) << Config();
}

TEST_F(OptionsDlgTest, AFailedSaveIsToldOnceAndSaveStaysEnabled) {
    WriteConfig(kDefaults);
    chmod(dir.File("kestrome.cfg").c_str(), 0444);
    Open([&](QWidget* w) {
        Box(w, res::IDC_SAVE_PASSWORD)->click();
        Click(w, res::IDCANCEL);
        EXPECT_TRUE(SaveEnabled(w)) << "nothing was saved";
    });
    EXPECT_EQ(fakes.boxes.Texts(), std::vector<QString>{QString::fromStdString(
                                       "The settings could not be saved to " +
                                       dir.File("kestrome.cfg") + ": Permission denied.")});
    EXPECT_EQ(Config(), kDefaults);
}

TEST_F(OptionsDlgTest, EscapeAndTheCloseBoxSaveAndNeverClose) {
    WriteConfig(kDefaults);
    int result = Open([&](QWidget* w) {
        Box(w, res::IDC_MINIMIZE_ON_STARTUP)->click();
        QTest::keyClick(w, Qt::Key_Escape);
        EXPECT_TRUE(w->isVisible());
        EXPECT_NE(Config().find("MinimizeOnStartUp=TRUE\n"), std::string::npos);
        Box(w, res::IDC_CONNECT_ON_STARTUP)->click();
        w->close();
        QApplication::processEvents();
        EXPECT_TRUE(w->isVisible());
        EXPECT_NE(Config().find("ConnectOnStartUp=TRUE\n"), std::string::npos);
    });
    EXPECT_EQ(result, res::IDOK) << "only OK closes";
    result = Open([&](QWidget* w) {
        SCOPED_TRACE("the second opening");
        EXPECT_TRUE(Box(w, res::IDC_MINIMIZE_ON_STARTUP)->isChecked());
        Box(w, res::IDC_MINIMIZE_ON_STARTUP)->click();
        QTest::keyClick(w, Qt::Key_Escape);
        EXPECT_TRUE(w->isVisible());
    });
    EXPECT_EQ(result, res::IDOK);
    EXPECT_NE(Config().find("MinimizeOnStartUp=FALSE\n"), std::string::npos);
}

TEST_F(OptionsDlgTest, OutOfRangeSaveWritesTheNumberAndOkRefusesToClose) {
    WriteConfig(kDefaults);
    Open([&](QWidget* w) {
        SetText(w, res::IDC_RETRY_INTERVAL, "0");
        SetText(w, res::IDC_REFRESH_INTERVAL, "8");
        Click(w, res::IDCANCEL);
        EXPECT_TRUE(Edit(w, res::IDC_RETRY_INTERVAL)->hasFocus());
        EXPECT_EQ(Edit(w, res::IDC_RETRY_INTERVAL)->selectedText(), "0");
        EXPECT_FALSE(SaveEnabled(w));
        EXPECT_NE(Config().find("RefreshInterval=5\nConnectRetryInterval=0\n"), std::string::npos)
            << "the refresh interval keeps its former value, the retry interval is written";
        Click(w, res::IDOK);
        EXPECT_TRUE(w->isVisible()) << "OK refuses while the box is out of range";
        SetText(w, res::IDC_RETRY_INTERVAL, "3");
    });
    EXPECT_EQ(fakes.boxes.Texts(),
              (std::vector<QString>(2, "Please enter an integer between 1 and 9999.")));
    EXPECT_EQ(fakes.boxes.boxes[0].icon, platform::BoxIcon::Exclamation);
}

TEST_F(OptionsDlgTest, EmptyBoxIsNotAnIntegerAndOnlyTheFirstBadBoxIsReported) {
    WriteConfig(kDefaults);
    Open([&](QWidget* w) {
        SetText(w, res::IDC_REFRESH_INTERVAL, "");
        Click(w, res::IDOK);
        EXPECT_TRUE(w->isVisible());
        EXPECT_TRUE(Edit(w, res::IDC_REFRESH_INTERVAL)->hasFocus());
        SetText(w, res::IDC_RETRY_INTERVAL, "");
        Click(w, res::IDOK);
        SetText(w, res::IDC_RETRY_INTERVAL, "5");
        SetText(w, res::IDC_REFRESH_INTERVAL, "5");
    });
    ASSERT_EQ(fakes.boxes.boxes.size(), 2u);
    EXPECT_EQ(fakes.boxes.boxes[0].text, "Please enter an integer.");
    EXPECT_EQ(fakes.boxes.boxes[0].icon, platform::BoxIcon::None);
    EXPECT_EQ(fakes.boxes.boxes[1].text, "Please enter an integer.");
}

TEST_F(OptionsDlgTest, EightDigitNumberIsWrittenInFull) {
    WriteConfig(kDefaults);
    Open([&](QWidget* w) {
        SetText(w, res::IDC_REFRESH_INTERVAL, "123456789");
        Click(w, res::IDCANCEL);
        SetText(w, res::IDC_REFRESH_INTERVAL, "5");
    });
    EXPECT_NE(Config().find("RefreshInterval=123456789\n"), std::string::npos);
    Open([&](QWidget* w) {
        SCOPED_TRACE("opened again, the out-of-range value shows as the default");
        EXPECT_EQ(Edit(w, res::IDC_REFRESH_INTERVAL)->text(), "5");
    });
    EXPECT_EQ(fakes.boxes.Texts().back(),
              "The RefreshInterval does not have a valid value in your .cfg file - reseting to "
              "default");
}

TEST_F(OptionsDlgTest, HelpKeyAsksForTheOptionsContext) {
    fakes.services.helpFile = QString::fromStdString(dir.File("kestrome.html"));
    WriteFile(dir.File("kestrome.html"), "<html></html>");
    Open([&](QWidget* w) { QTest::keyClick(w, Qt::Key_F1); });
    ASSERT_EQ(fakes.shell.opened.size(), 1u);
    EXPECT_TRUE(fakes.shell.opened[0].endsWith("kestrome.html#0x20083"));
}

}  // namespace
