// What an accessibility listener (a screen reader) hears while the user types
// into the main window's boxes.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QLineEdit>
#include <vector>

#include "app/updater_harness.h"
#include "platform/dialogs/hidden_text.h"
#include "res/resource_ids.h"

using namespace testsupport;

namespace {

struct Heard {
    QObject* object;
    QString text;
};
std::vector<Heard> g_heard;

void Listen(QAccessibleEvent* event) {
    if (event->type() == QAccessible::TextInserted) {
        g_heard.push_back(
            {event->object(), static_cast<QAccessibleTextInsertEvent*>(event)->textInserted()});
    } else if (event->type() == QAccessible::TextRemoved) {
        g_heard.push_back(
            {event->object(), static_cast<QAccessibleTextRemoveEvent*>(event)->textRemoved()});
    }
}

QString HeardFrom(QObject* object) {
    QString all;
    for (const Heard& h : g_heard) {
        if (h.object == object) {
            all += h.text;
        }
    }
    return all;
}

// The password box tells a listener that characters came and went, never
// which; the login box tells its text as any box does.
TEST(AccessibilityTest, ThePasswordBoxNeverTellsWhatWasTyped) {
    platform::SendAccessibilityReportsTo(Listen);
    g_heard.clear();
    UpdaterHarness h;
    QObject* login = nullptr;
    QObject* password = nullptr;
    h.Run([&] {
        login = h.dlg.GetDlgItem(res::IDC_LOGIN);
        password = h.dlg.GetDlgItem(res::IDC_PASSWORD);
        h.Type(res::IDC_LOGIN, "joe");
        h.Type(res::IDC_PASSWORD, "s3cret");
        QTest::keyClick(h.dlg.GetDlgItem(res::IDC_PASSWORD), Qt::Key_Backspace);
    });
    platform::SendAccessibilityReportsTo(nullptr);
    const QString heard = HeardFrom(password);
    EXPECT_EQ(heard, QString(7, u'\u2022')) << "six typed, one deleted";
    for (const QChar c : QStringLiteral("s3cret")) {
        EXPECT_FALSE(heard.contains(c)) << heard.toStdString();
    }
    EXPECT_EQ(HeardFrom(login), "joe");
}

}  // namespace
