#include "platform/dialogs/data_exchange.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QDropEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>

#include "platform/dialogs/dialog.h"
#include "support/fakes.h"

using namespace platform;
using testsupport::TestServices;

namespace {

const DialogTemplate kTemplate{
    900,
    "Exchange",
    200,
    100,
    false,
    false,
    nullptr,
    {
        {1, ControlKind::PushButton, "OK", 10, 80, 40, 14, kTabStop},
        {10, ControlKind::Edit, "", 10, 10, 80, 12, kTabStop | kBorder},
        {11, ControlKind::CheckBox, "Flag", 10, 25, 80, 12, kTabStop},
        {12, ControlKind::Edit, "", 10, 40, 80, 12, kTabStop | kBorder | kNumber},
        {13, ControlKind::Edit, "", 10, 55, 80, 12, kTabStop | kBorder | kNumber},
    }};

// A dialog exchanging a text with a limit, a flag and two ranged integers.
class ExchangeDialog : public Dialog {
public:
    explicit ExchangeDialog(PlatformServices& s) : Dialog(kTemplate, s) {}
    QString text;
    int flag = 0;
    int first = 5;
    int second = 7;
    int changes = 0;

protected:
    void DoDataExchange(DataExchange& dx) override {
        DDX_Text(dx, 10, text);
        DDV_MaxChars(dx, text, 10);
        DDX_Check(dx, 11, flag);
        DDX_Text(dx, 12, first);
        DDV_MinMaxInt(dx, first, 1, 9999);
        DDX_Text(dx, 13, second);
        DDV_MinMaxInt(dx, second, 1, 9999);
    }
    bool OnCmdMsg(int id, int code) override {
        if (code == EN_CHANGE) {
            ++changes;
            return true;
        }
        return Dialog::OnCmdMsg(id, code);
    }
};

class DataExchangeTest : public ::testing::Test {
protected:
    TestServices fakes;
    ExchangeDialog dlg{fakes.services};

    // Runs the dialog; body runs inside its modal loop, then the dialog ends.
    void WhileOpen(const std::function<void()>& body) {
        QTimer::singleShot(0, [&] {
            dlg.Window()->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(dlg.Window()));
            body();
            dlg.EndDialog(0);
        });
        dlg.DoModal();
    }
    QLineEdit* Edit(int id) { return static_cast<QLineEdit*>(dlg.GetDlgItem(id)); }
};

TEST_F(DataExchangeTest, LoadFillsTheControlsWithoutChangeNotifications) {
    dlg.text = "hello";
    dlg.flag = 1;
    WhileOpen([&] {
        EXPECT_EQ(Edit(10)->text(), "hello");
        EXPECT_TRUE(static_cast<QCheckBox*>(dlg.GetDlgItem(11))->isChecked());
        EXPECT_EQ(Edit(12)->text(), "5");
        EXPECT_EQ(Edit(13)->text(), "7");
        EXPECT_EQ(dlg.changes, 0);
        QTest::keyClicks(Edit(10), "!");
        EXPECT_EQ(dlg.changes, 1) << "typing is notified";
    });
}

TEST_F(DataExchangeTest, TypingLimitRefusesTypingButNeverCutsProgramText) {
    dlg.text = QString(127, 'a');
    WhileOpen([&] {
        EXPECT_EQ(Edit(10)->text().size(), 127);
        QTest::keyClick(Edit(10), Qt::Key_End);
        QTest::keyClicks(Edit(10), "b");
        EXPECT_EQ(Edit(10)->text().size(), 127) << "typing past the limit is refused";
        QTest::keyClick(Edit(10), Qt::Key_Backspace);
        EXPECT_EQ(Edit(10)->text().size(), 126) << "deleting is always possible";
        Edit(10)->clear();
        QTest::keyClicks(Edit(10), "123456789012345");
        EXPECT_EQ(Edit(10)->text(), "1234567890");
    });
}

TEST_F(DataExchangeTest, NumberEditsAcceptOnlyDigitsWhenTyped) {
    WhileOpen([&] {
        Edit(12)->clear();
        QTest::keyClicks(Edit(12), "4a-2 ");
        EXPECT_EQ(Edit(12)->text(), "42");
    });
}

TEST_F(DataExchangeTest, PastingTwoLinesKeepsTheFirstOnly) {
    WhileOpen([&] {
        QGuiApplication::clipboard()->setText("joe\nsecret");
        Edit(10)->setFocus();
        QTest::keyClick(Edit(10), Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(Edit(10)->text(), "joe");
    });
}

TEST_F(DataExchangeTest, PastingOverASelectionReplacesIt) {
    dlg.text = "0123456789";
    WhileOpen([&] {
        QGuiApplication::clipboard()->setText("newlogin");
        Edit(10)->setFocus();
        Edit(10)->selectAll();
        QTest::keyClick(Edit(10), Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(Edit(10)->text(), "newlogin") << "the full field's selection makes room";
    });
}

TEST_F(DataExchangeTest, NumberEditsRefusePastedAndDroppedLetters) {
    WhileOpen([&] {
        QGuiApplication::clipboard()->setText("10 min");
        Edit(12)->setFocus();
        Edit(12)->selectAll();
        QTest::keyClick(Edit(12), Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(Edit(12)->text(), "5") << "pasted";

        QMimeData dragged;
        dragged.setText("10 min");
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton,
                              Qt::NoModifier);
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Edit(13), &enter);
        QApplication::sendEvent(Edit(13), &drop);
        EXPECT_EQ(Edit(13)->text(), "7") << "dropped";
    });
}

TEST_F(DataExchangeTest, SaveCopiesEveryControl) {
    WhileOpen([&] {
        Edit(10)->setText("typed");
        static_cast<QCheckBox*>(dlg.GetDlgItem(11))->setChecked(true);
        Edit(12)->setText(" 12\t");
        Edit(13)->setText("9999");
        EXPECT_TRUE(dlg.UpdateData(true));
    });
    EXPECT_EQ(dlg.text, "typed");
    EXPECT_EQ(dlg.flag, 1);
    EXPECT_EQ(dlg.first, 12);
    EXPECT_EQ(dlg.second, 9999);
    EXPECT_TRUE(fakes.boxes.boxes.empty());
}

TEST_F(DataExchangeTest, TooLongTextStopsTheExchangeWithTheLimitMessage) {
    WhileOpen([&] {
        Edit(10)->setText("12345678901");
        static_cast<QCheckBox*>(dlg.GetDlgItem(11))->setChecked(true);
        EXPECT_FALSE(dlg.UpdateData(true));
        EXPECT_TRUE(Edit(10)->hasFocus());
        EXPECT_EQ(Edit(10)->selectedText(), "12345678901");
    });
    ASSERT_EQ(fakes.boxes.boxes.size(), 1u);
    EXPECT_EQ(fakes.boxes.boxes[0].text, "Please enter no more than 10 characters.");
    EXPECT_EQ(fakes.boxes.boxes[0].icon, BoxIcon::Exclamation);
    EXPECT_EQ(fakes.boxes.boxes[0].caption, "kestrome");
    EXPECT_EQ(dlg.text, "12345678901") << "the failing member is already updated";
    EXPECT_EQ(dlg.flag, 0) << "later steps do not run";
}

TEST_F(DataExchangeTest, NonIntegerKeepsTheMemberAndStopsWithoutIcon) {
    WhileOpen([&] {
        Edit(12)->setText("");
        Edit(13)->setText("0");
        EXPECT_FALSE(dlg.UpdateData(true));
        EXPECT_TRUE(Edit(12)->hasFocus());
    });
    ASSERT_EQ(fakes.boxes.boxes.size(), 1u) << "only the first failure is reported";
    EXPECT_EQ(fakes.boxes.boxes[0].text, "Please enter an integer.");
    EXPECT_EQ(fakes.boxes.boxes[0].icon, BoxIcon::None);
    EXPECT_EQ(dlg.first, 5);
    EXPECT_EQ(dlg.second, 7);
}

TEST_F(DataExchangeTest, OutOfRangeStoresTheNumberAndSelectsTheBox) {
    WhileOpen([&] {
        Edit(13)->setText("10000");
        EXPECT_FALSE(dlg.UpdateData(true));
        EXPECT_TRUE(Edit(13)->hasFocus());
        EXPECT_EQ(Edit(13)->selectedText(), "10000");
    });
    ASSERT_EQ(fakes.boxes.boxes.size(), 1u);
    EXPECT_EQ(fakes.boxes.boxes[0].text, "Please enter an integer between 1 and 9999.");
    EXPECT_EQ(fakes.boxes.boxes[0].icon, BoxIcon::Exclamation);
    EXPECT_EQ(dlg.second, 10000);
}

TEST(ParseDialogIntegerTest, FollowsTheFrameworkRules) {
    EXPECT_EQ(ParseDialogInteger("12"), 12);
    EXPECT_EQ(ParseDialogInteger(" \t-7 \t"), -7);
    EXPECT_EQ(ParseDialogInteger("+5"), 5);
    EXPECT_EQ(ParseDialogInteger("0"), 0);
    EXPECT_EQ(ParseDialogInteger("007"), 7);
    EXPECT_EQ(ParseDialogInteger("99999999999"), 2147483647);
    EXPECT_EQ(ParseDialogInteger("-99999999999"), -2147483647 - 1);
    for (const char* bad : {"", "   ", "+0", "-0", "12a", "1 2", "a", "+", "\n5"}) {
        EXPECT_FALSE(ParseDialogInteger(bad).has_value()) << "'" << bad << "'";
    }
}

}  // namespace
