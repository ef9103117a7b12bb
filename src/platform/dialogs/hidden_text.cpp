#include "platform/dialogs/hidden_text.h"

#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <QAccessible>
#include <QLineEdit>

namespace platform {

namespace {

constexpr QChar kHidden = u'\u2022';  // what a listener hears for each character

// A handler installed before this one, or a listener given, else none.
QAccessible::UpdateHandler g_next = nullptr;

bool IsPasswordBox(QObject* object) {
    auto* edit = qobject_cast<QLineEdit*>(object);
    return edit != nullptr && edit->echoMode() != QLineEdit::Normal;
}

QString Hidden(const QString& text) {
    return QString(text.size(), kHidden);
}

QPlatformAccessibility* PlatformAccessibility() {
    QPlatformIntegration* platform = QGuiApplicationPrivate::platformIntegration();
    return platform != nullptr ? platform->accessibility() : nullptr;
}

// What Qt itself does with an update when no handler is installed.
void PassOn(QAccessibleEvent* event) {
    if (g_next != nullptr) {
        g_next(event);
    } else if (QPlatformAccessibility* accessibility = PlatformAccessibility()) {
        accessibility->notifyAccessibilityUpdate(event);
    }
}

void HideTextOfPasswordBoxes(QAccessibleEvent* event) {
    if (!IsPasswordBox(event->object())) {
        PassOn(event);
        return;
    }
    switch (event->type()) {
        case QAccessible::TextInserted: {
            auto* e = static_cast<QAccessibleTextInsertEvent*>(event);
            QAccessibleTextInsertEvent hidden(e->object(), e->changePosition(),
                                              Hidden(e->textInserted()));
            PassOn(&hidden);
            return;
        }
        case QAccessible::TextRemoved: {
            auto* e = static_cast<QAccessibleTextRemoveEvent*>(event);
            QAccessibleTextRemoveEvent hidden(e->object(), e->changePosition(),
                                              Hidden(e->textRemoved()));
            PassOn(&hidden);
            return;
        }
        case QAccessible::TextUpdated: {
            auto* e = static_cast<QAccessibleTextUpdateEvent*>(event);
            QAccessibleTextUpdateEvent hidden(e->object(), e->changePosition(),
                                              Hidden(e->textRemoved()), Hidden(e->textInserted()));
            PassOn(&hidden);
            return;
        }
        default:
            PassOn(event);
    }
}

}  // namespace

void HideTypedTextOfPasswordBoxes() {
    static const bool installed = [] {
        g_next = QAccessible::installUpdateHandler(HideTextOfPasswordBoxes);
        return true;
    }();
    (void)installed;
}

// A listener given counts as an assistive technology that connected: Qt
// reports nothing while none is.
void SendAccessibilityReportsTo(QAccessible::UpdateHandler listener) {
    HideTypedTextOfPasswordBoxes();
    g_next = listener;
    if (QPlatformAccessibility* accessibility = PlatformAccessibility()) {
        accessibility->setActive(listener != nullptr);
    }
}

}  // namespace platform
